// Method 4, the vectorised packed method: depth blocks of l_block (outer,
// sequential for every element), row blocks of l_block, and packed panels of
// B handed to register kernels that pack their piece of A and add its
// product with the panel into C. C must be zero on entry.
//
// Two paths, chosen by the IsaLevel (never by looking at the processor here):
//   level 0, SSE2 (libTavrel, MultBlock_4x4xK_2): A and C row by row from
//     index 0 (element (r, c) at r*n + c), B row by row from index 1. For
//     every depth block the team packs the panel of rows k0..k0+l_block-1
//     in groups of four columns (group g from 4*l_block*g, for each k the
//     four B(k, 4g+q)); units of rows are then shared among the team
//     (dynamic schedule, one unit per chunk). Needs l_block
//     and n multiples of 4. Buffers: the panel (n*n+1 doubles) and per thread
//     a C strip (4*l_block+128) and a packed-A buffer (2*l_block^2+128), all
//     16-byte aligned, in a table indexed by OpenMP thread number that holds
//     max(64, threads) entries, of which a smaller team uses fewer; the kernel
//     calls take units of about l_block/4 rows.
//   levels 1 and 2, AVX (libTavrel_8x4): A, B and C column by column from
//     index 0. For every depth block the team packs the block's A panel
//     (Pack_AA_AMD) and B panel (Pack_BBTRANSP_Into) into shared slots, each
//     thread its share, meets at a barrier and then runs
//     tavrel_AVX_8x4x16_Packed on its own tiles of C (vector_split.h). The
//     packing of all threads together is one thread's, and the two slots
//     (n*l_block doubles each) do not depend on the thread count.
// Every element of C receives one contribution per depth block, in increasing
// k0; the kernels sum each contribution in increasing k, so the bits of C do
// not depend on the thread count.
#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "Tavrel.h"
#include "Tavrel_8x4.h"
#include "Tavrel_8x4_tuning.h"
#include "memory.h"
#include "methods.h"
#include "notice.h"
#include "processor_info.h"
#include "run_parameters.h"
#include "stop.h"
#include "vector_split.h"

namespace {
using Index = std::ptrdiff_t;

constexpr std::size_t kAlignment = 16;
constexpr std::int32_t kMinTableEntries = 64;
constexpr Index kSpareDoubles = 128;
constexpr Index kGroup = 4;

struct ThreadScratch {
    double* c_strip;
    double* aa;
};

struct SseBuffers {
    double* panel = nullptr;
    ThreadScratch* scratch = nullptr;
    std::int32_t entries = 0;
};

Index StripDoubles(Index l_block) { return kGroup * l_block + kSpareDoubles; }
Index PackedADoubles(Index l_block) { return 2 * l_block * l_block + kSpareDoubles; }

// Memory the method writes, in bytes: `panels` panels of one depth block
// (n*l_block doubles each) and the scratch of every thread that can get a row
// block. Buffers and slots that are reserved but never written (the rest of
// the panel buffer, the BB slots past the panels, the scratch of surplus
// threads) take no memory until touched, so they are not counted.
std::uint64_t WrittenBytes(Index n, Index l_block, Index threads, Index per_thread_doubles,
                           Index panels = 1) {
    const Index row_blocks = (n + l_block - 1) / l_block;
    const Index workers = std::min(threads, row_blocks);
    const Index doubles = panels * n * l_block + workers * per_thread_doubles;
    return static_cast<std::uint64_t>(doubles) * sizeof(double);
}

void ReleaseSseBuffers(SseBuffers& buffers) {
    ReleaseAligned(buffers.panel);
    buffers.panel = nullptr;
    if (buffers.scratch) {
        for (std::int32_t t = 0; t < buffers.entries; ++t) {
            ReleaseAligned(buffers.scratch[t].c_strip);
            ReleaseAligned(buffers.scratch[t].aa);
            buffers.scratch[t] = {nullptr, nullptr};
        }
        ReleaseAligned(buffers.scratch);
        buffers.scratch = nullptr;
    }
    buffers.entries = 0;
}

// The panel, then the table, then for each thread its C strip and its packed-A
// buffer. False at the first that is missing; what was obtained stays recorded.
bool AllocateSseBuffers(Index n, Index l_block, std::int32_t threads, SseBuffers& buffers) {
    buffers.panel = AllocateArray<double>(static_cast<std::size_t>(n * n + 1), kAlignment);
    if (!buffers.panel) return false;
    const std::int32_t entries = std::max(kMinTableEntries, threads);
    buffers.scratch =
        AllocateArray<ThreadScratch>(static_cast<std::size_t>(entries), alignof(ThreadScratch));
    if (!buffers.scratch) return false;
    buffers.entries = entries;
    std::fill(buffers.scratch, buffers.scratch + entries, ThreadScratch{nullptr, nullptr});
    for (std::int32_t t = 0; t < threads; ++t) {
        ThreadScratch& mine = buffers.scratch[t];
        mine.c_strip =
            AllocateArray<double>(static_cast<std::size_t>(StripDoubles(l_block)), kAlignment);
        if (!mine.c_strip) return false;
        mine.aa =
            AllocateArray<double>(static_cast<std::size_t>(PackedADoubles(l_block)), kAlignment);
        if (!mine.aa) return false;
    }
    return true;
}

// Rows k0..k0+l_block-1 of B (row by row, from index 1) into the four-column
// group that starts at column c0.
void PackGroupSse(Index n, Index l_block, Index k0, Index c0, const double* b, double* panel) {
    double* group = panel + l_block * c0;
    for (Index k = 0; k < l_block; ++k) {
        const double* row = b + 1 + (k0 + k) * n + c0;
        for (Index q = 0; q < kGroup; ++q) group[kGroup * k + q] = row[q];
    }
}

// Rows of C per kernel call: about a quarter of a row block (a multiple of
// 4), so that the dynamic schedule has enough pieces to share evenly.
constexpr Index kUnitsPerRowBlock = 4;
Index RowsPerUnit(Index l_block) {
    return std::max<Index>(kGroup, (l_block / kUnitsPerRowBlock + kGroup - 1) / kGroup * kGroup);
}

bool MultVectorPackSse(std::int32_t n, std::int32_t l_block, std::int32_t threads, const double* a,
                       const double* b, double* c) {
    if (l_block % 4 != 0 || n % 4 != 0) {
        ShowNotice("Conflict between N and lbv or lbh");
        return false;
    }
    omp_set_num_threads(threads);
    SseBuffers buffers;
    if (!FitsInAvailableMemory(
            WrittenBytes(n, l_block, threads, StripDoubles(l_block) + PackedADoubles(l_block))) ||
        !AllocateSseBuffers(n, l_block, threads, buffers)) {
        ShowNotice("Memory allocation error");
        ReleaseSseBuffers(buffers);
        return false;
    }
    // The kernel takes non-const pointers but only reads A and the panel.
    double* a_rows = const_cast<double*>(a);
    const Index order = n, block = l_block, unit = RowsPerUnit(l_block);
#pragma omp parallel num_threads(threads)
    for (Index k0 = 0; k0 < order; k0 += block) {
        // All threads pack the panel, then all share its row units; the
        // ends of both loops wait for every thread.
        // After a stop request the loops run out without work, so that every
        // thread still meets the others at the ends of the loops.
#pragma omp for schedule(static)
        for (Index c0 = 0; c0 < order; c0 += kGroup) {
            if (!StopRequested()) PackGroupSse(order, block, k0, c0, b, buffers.panel);
        }
#pragma omp for schedule(dynamic, 1)
        for (Index i0 = 0; i0 < order; i0 += unit) {
            if (StopRequested()) continue;
            const ThreadScratch& mine = buffers.scratch[omp_get_thread_num()];
            const auto rows = static_cast<std::int32_t>(std::min(unit, order - i0));
            MultBlock_4x4xK_2(n, l_block, rows, n, rows % 4, n % 4, a_rows + i0 * order + k0,
                              buffers.panel, c + i0 * order, mine.c_strip, mine.aa);
        }
    }
    ReleaseSseBuffers(buffers);
    return true;
}
}  // namespace

// The AVX path: for every depth block the team packs the block's A panel
// (n rows) and B panel (n columns) into two shared slots, each thread its
// share, meets at a barrier, runs the packed kernel on its own tiles of C
// (SplitVectorProduct, the same tiles in every depth block) and meets at a
// second barrier before the slots are packed again. One set of slots: a
// second would save that barrier but double what every Init clears, which
// costs more than the barrier.
namespace {
// Rows per kernel call: l_block rounded up to whole call units of Tavrel_8x4
// (its tallest register block), so that a call's packed rows (192 x 176 at
// the defaults) stay in L2 while the panel streams past them.
std::int32_t RowsPerCall(std::int32_t n, std::int32_t l_block) {
    constexpr std::int32_t kUnit = tavrel8x4::kCallRowUnit;
    return std::min(n, (l_block + kUnit - 1) / kUnit * kUnit);
}

// What a slot takes in Tavrel_8x4: large slots are mapped in whole pages.
std::uint64_t SlotFootprintBytes(std::uint64_t doubles) {
    return tavrel8x4::SlotFootprint(static_cast<std::size_t>(doubles * sizeof(double)));
}

struct Operands {
    std::int32_t n, l_block;
    double *a, *b, *c;
    double* packed_a;  // AA slot 0: the depth block's packed A panel
    double* packed_b;  // BB slot 0: its packed B panel
};

// One thread's part of depth block k0: its share of the packing, its tiles,
// each between two barriers of the team.
void MultiplyDepthBlock(const Operands& o, const ThreadSplit& mine, std::int32_t k0) {
    const Index n = o.n;
    const std::int32_t kb = std::min(o.l_block, o.n - k0);
    if (!StopRequested()) {
        Pack_AA_AMD(mine.pack_rows, kb, o.a + k0 * n + mine.pack_row, o.n,
                    o.packed_a + Index{kb} * mine.pack_row);
        Pack_BBTRANSP_Into(mine.pack_columns, kb, o.n, o.b + mine.pack_column * n + k0,
                           o.packed_b + Index{kb} * mine.pack_column);
    }
#pragma omp barrier
    const std::int32_t call_rows = RowsPerCall(o.n, o.l_block);
    for (int t = 0; t < mine.tile_count && !StopRequested(); ++t) {
        const SplitTile& tile = mine.tiles[t];
        for (std::int32_t i0 = tile.row; i0 < tile.row + tile.rows && !StopRequested();
             i0 += call_rows) {
            const std::int32_t rows = std::min(call_rows, tile.row + tile.rows - i0);
            tavrel_AVX_8x4x16_Packed(rows, tile.columns, kb, 1.0, o.packed_a + Index{kb} * i0, 1.0,
                                     o.c + i0 + tile.column * n, o.n,
                                     o.packed_b + Index{kb} * tile.column);
        }
    }
#pragma omp barrier
}
}  // namespace

bool MultVectorPack_AVX(std::int32_t n, std::int32_t l_block, std::int32_t threads, const double* a,
                        const double* b, double* c) {
    if (n < 1) return true;         // nothing to compute
    if (l_block < 1) return false;  // MultVectorPack refuses it with a notice first
    threads = std::max(threads, 1);
    omp_set_num_threads(threads);
    // What Free kept from the last product is in use already, and Init
    // reuses it or gives it back before it obtains more.
    const std::uint64_t panel_bytes = SlotFootprintBytes(static_cast<std::uint64_t>(n) * l_block);
    const auto kept = static_cast<std::uint64_t>(std::max(TAVREL_AVX_8X4_KeptBytes(), 0ll));
    if (!FitsInAvailableMemory(2 * panel_bytes - std::min(kept, 2 * panel_bytes), threads) ||
        TAVREL_AVX_8X4_Init(n, l_block, l_block, 1) == 0) {
        // A failed Init has released what it obtained.
        ShowNotice("Memory allocation error");
        return false;
    }
    // The library takes non-const pointers but only reads A and B.
    const Operands operands{n,
                            l_block,
                            const_cast<double*>(a),
                            const_cast<double*>(b),
                            c,
                            TAVREL_AVX_8X4_GET_AA()[0],
                            TAVREL_AVX_8X4_GET_BB()[0]};
#pragma omp parallel num_threads(threads)
    {
        // The split comes from the team OpenMP gave, which may be smaller
        // than asked; the slots do not depend on it. After a stop request
        // the depth blocks run out with no work, but with every barrier.
        const ThreadSplit mine = SplitVectorProduct(n, omp_get_thread_num(), omp_get_num_threads());
        for (std::int32_t k0 = 0; k0 < n; k0 += l_block) MultiplyDepthBlock(operands, mine, k0);
    }
    TAVREL_AVX_8X4_Free();
    return true;
}

bool MultVectorPack(std::int32_t n, std::int32_t l_block, std::int32_t threads,
                    std::int32_t parallel_kind, const double* a, const double* b, double* c,
                    std::int32_t isa_level) {
    if (l_block < 1 || n % l_block != 0) {
        ShowNotice("Conflict between N and lblck");
        return false;
    }
    if (parallel_kind == kParallelTbb) ShowNotice("TBB does not support");
    if (n < 1) return true;  // nothing to compute
    threads = std::max(threads, 1);
    if (isa_level != kIsaSse2) return MultVectorPack_AVX(n, l_block, threads, a, b, c);
    return MultVectorPackSse(n, l_block, threads, a, b, c);
}

std::optional<VectorPath> DecideVectorPath(VectorIsaCap cap) {
    const std::int32_t supported = SupportedIsaLevel();
    std::int32_t level = kIsaAvxFma3;
    int bits = 512;
    switch (cap) {
        case VectorIsaCap::Auto:
            break;
        case VectorIsaCap::Sse2:
            level = kIsaSse2;
            bits = 256;
            break;
        case VectorIsaCap::Avx:
            level = kIsaAvx;
            bits = 256;
            break;
        case VectorIsaCap::Avx2:
            bits = 256;
            break;
        case VectorIsaCap::Avx512:
            break;
    }
    if (cap != VectorIsaCap::Auto && level > supported) return std::nullopt;
    VectorPath path;
    path.isa_level = SelectIsaLevel(TheProcessorInfo(), level);
    if (supported == kIsaSse2) return path;  // Tavrel_8x4's kernels cannot run at all
    const int previous_bits = TAVREL_AVX_8X4_FormBits();
    const int form_bits = TAVREL_AVX_8X4_LimitFormBits(bits);
    if (form_bits < 512 && cap == VectorIsaCap::Avx512) {
        TAVREL_AVX_8X4_LimitFormBits(previous_bits);
        return std::nullopt;
    }
    if (path.isa_level != kIsaSse2) path.form_bits = form_bits;
    return path;
}

std::string VectorPackInstructionSet(std::int32_t isa_level) {
    if (isa_level == kIsaSse2) return "SSE2";
    return TAVREL_AVX_8X4_FormBits() == 512 ? "AVX-512" : "AVX";
}

std::string VectorPackKernelForm(std::int32_t isa_level) {
    if (isa_level == kIsaSse2) return "SSE2 4x4 (Tavrel)";
    return TAVREL_AVX_8X4_FormBits() == 512 ? "AVX-512 24x8 (Tavrel_8x4)" : "AVX 8x4 (Tavrel_8x4)";
}
