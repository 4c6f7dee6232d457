// Method 4, the vectorised packed method: depth blocks of l_block (outer,
// sequential for every element), row blocks of l_block, and packed panels of
// B handed to register kernels that pack their piece of A and add its
// product with the panel into C. C must be zero on entry.
//
// Two paths, chosen by the IsaLevel (never by looking at the processor here):
//   level 0, SSE2 (libTavrel, MultBlock_4x4xK_2): A and C row by row from
//     index 0 (element (r, c) at r*n + c), B row by row from index 1. For
//     every depth block the calling thread packs the panel of rows
//     k0..k0+l_block-1 in groups of four columns (group g from 4*l_block*g,
//     for each k the four B(k, 4g+q)); units of rows are then shared among
//     OpenMP threads (dynamic schedule, one unit per chunk). Needs l_block
//     and n multiples of 4. Buffers: the panel (n*n+1 doubles) and per thread
//     a C strip (4*l_block+128) and a packed-A buffer (2*l_block^2+128), all
//     16-byte aligned, in a table indexed by OpenMP thread number that holds
//     max(64, threads) entries. All threads pack each panel; the kernel calls
//     take units of about l_block/4 rows.
//   levels 1 and 2, AVX (libTavrel_8x4): A, B and C column by column from
//     index 0. Thread t owns a band of columns of C and its own AA slot
//     (the packed rows of one call) and BB slot (its band's panel of one
//     depth block): it packs its part of each depth block's panel
//     (Pack_BBTRANSP_AMD) and runs tavrel_AVX_8x4x16_AMD on the rows of its
//     band, l_block rounded up to whole 24-row register blocks at a time.
//     No thread waits for another.
// Every element of C receives one contribution per depth block, in increasing
// k0; the kernels sum each contribution in increasing k, so the bits of C do
// not depend on the thread count.
#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "Tavrel.h"
#include "Tavrel_8x4.h"
#include "memory.h"
#include "methods.h"
#include "notice.h"
#include "processor_info.h"
#include "run_parameters.h"
#include "stop.h"

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
    buffers.scratch = AllocateArray<ThreadScratch>(static_cast<std::size_t>(entries), alignof(ThreadScratch));
    if (!buffers.scratch) return false;
    buffers.entries = entries;
    std::fill(buffers.scratch, buffers.scratch + entries, ThreadScratch{nullptr, nullptr});
    for (std::int32_t t = 0; t < threads; ++t) {
        ThreadScratch& mine = buffers.scratch[t];
        mine.c_strip = AllocateArray<double>(static_cast<std::size_t>(StripDoubles(l_block)), kAlignment);
        if (!mine.c_strip) return false;
        mine.aa = AllocateArray<double>(static_cast<std::size_t>(PackedADoubles(l_block)), kAlignment);
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

void MultVectorPackSse(std::int32_t n, std::int32_t l_block, std::int32_t threads, const double* a,
                       const double* b, double* c) {
    if (l_block % 4 != 0 || n % 4 != 0) {
        ShowFailureNotice("Conflict between N and lbv or lbh");
        return;
    }
    omp_set_num_threads(threads);
    SseBuffers buffers;
    if (!FitsInAvailableMemory(WrittenBytes(n, l_block, threads,
                                            StripDoubles(l_block) + PackedADoubles(l_block))) ||
        !AllocateSseBuffers(n, l_block, threads, buffers)) {
        ShowFailureNotice("Memory allocation error");
        ReleaseSseBuffers(buffers);
        return;
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
}
}  // namespace

// The AVX path shares the columns of C among the threads: thread t of T owns
// a band of about n/T columns (a multiple of kBandColumns wide, the last band
// taking the rest), packs its own piece of every depth block's panel into its
// own BB slot and runs every row block of its band. The threads share nothing
// they write, so no thread waits for another until the region ends; each
// element of C still receives its depth blocks in increasing k0, whatever T.
namespace {
// Band widths are whole 512-bit register blocks (8 columns), so no band ends
// in a partial block but the last.
constexpr std::int32_t kBandColumns = 8;
// Rows per kernel call: l_block rounded up to whole 24-row register blocks
// (the 512-bit form's tallest), so that almost no rows fall to the smaller
// blocks; the packed rows (192 x 176 at the defaults) still fit in L2.
constexpr std::int32_t kRowGroup = 24;

std::int32_t RowsPerCall(std::int32_t n, std::int32_t l_block) {
    return std::min(n, (l_block + kRowGroup - 1) / kRowGroup * kRowGroup);
}

struct Band {
    std::int32_t first = 0, columns = 0;
};

Band BandOf(std::int32_t n, std::int32_t thread, std::int32_t threads) {
    const std::int32_t units = (n + kBandColumns - 1) / kBandColumns;
    const auto edge = [&](std::int32_t t) {
        return std::min(n, static_cast<std::int32_t>(static_cast<std::int64_t>(units) * t / threads) *
                               kBandColumns);
    };
    return {edge(thread), edge(thread + 1) - edge(thread)};
}

// The widest band of n columns among `threads`.
std::int32_t WidestBand(std::int32_t n, std::int32_t threads) {
    std::int32_t widest = 0;
    for (std::int32_t t = 0; t < threads; ++t) widest = std::max(widest, BandOf(n, t, threads).columns);
    return widest;
}

// One thread's share: every depth block of its band, row block by row block.
void MultiplyBand(std::int32_t n, std::int32_t l_block, Band band, std::int32_t slot, double* a,
                  double* b, double* c) {
    if (band.columns <= 0) return;
    const Index order = n;
    const std::int32_t rows = RowsPerCall(n, l_block);
    double* aa = TAVREL_AVX_8X4_GET_AA()[slot];
    double* panel = TAVREL_AVX_8X4_GET_BB()[slot];
    double* b_band = b + band.first * order;
    double* c_band = c + band.first * order;
    for (std::int32_t k0 = 0; k0 < n; k0 += l_block) {
        const std::int32_t kb = std::min(l_block, n - k0);
        Pack_BBTRANSP_AMD(band.columns, kb, n, slot, b_band + k0);
        for (std::int32_t i0 = 0; i0 < n; i0 += rows) {
            if (StopRequested()) return;  // one kernel call at a time; no other thread waits
            const std::int32_t mb = std::min(rows, n - i0);
            tavrel_AVX_8x4x16_AMD(mb, band.columns, kb, 1.0, a + k0 * order + i0, n, b_band + k0, n,
                                  1.0, c_band + i0, n, aa, panel);
        }
    }
}
}  // namespace

void MultVectorPack_AVX(std::int32_t n, std::int32_t l_block, std::int32_t threads, const double* a,
                        const double* b, double* c) {
    if (n < 1 || l_block < 1) return;
    threads = std::max(threads, 1);
    omp_set_num_threads(threads);
    // AA slots hold the packed rows of one call; BB slots one depth block of
    // the widest band. Init counts slots in multiples of n: no more, since
    // every page of a slot is zeroed when first touched.
    const Index widest = WidestBand(n, threads);
    const Index aa_doubles = Index{RowsPerCall(n, l_block)} * l_block, bb_doubles = widest * l_block;
    const auto extent = [n](Index doubles) { return static_cast<std::int32_t>((doubles + n - 1) / n); };
    // Tavrel_8x4 maps slots of 256 KiB or more in whole 2 MiB pages.
    constexpr std::uint64_t kSlotRounding = std::uint64_t{2} << 20;
    const std::uint64_t per_thread =
        static_cast<std::uint64_t>(aa_doubles + bb_doubles) * sizeof(double) + 2 * kSlotRounding;
    if (!FitsInAvailableMemory(per_thread * static_cast<std::uint64_t>(threads)) ||
        TAVREL_AVX_8X4_Init(n, extent(bb_doubles), extent(aa_doubles), threads) == 0) {
        // A failed Init has released what it obtained.
        ShowFailureNotice("Memory allocation error");
        return;
    }
    // The library takes non-const pointers but only reads A and B.
    double* a_columns = const_cast<double*>(a);
    double* b_columns = const_cast<double*>(b);
#pragma omp parallel num_threads(threads)
    {
        const std::int32_t t = omp_get_thread_num();
        MultiplyBand(n, l_block, BandOf(n, t, omp_get_num_threads()), t, a_columns, b_columns, c);
    }
    TAVREL_AVX_8X4_Free();
}

void MultVectorPack(std::int32_t n, std::int32_t l_block, std::int32_t threads,
                    std::int32_t parallel_kind, const double* a, const double* b, double* c,
                    const std::int32_t* isa_level) {
    if (l_block < 1 || n % l_block != 0) {
        ShowFailureNotice("Conflict between N and lblck");
        return;
    }
    if (parallel_kind == kParallelTbb) ShowNotice("TBB does not support");
    if (n < 1) return;
    threads = std::max(threads, 1);
    if (isa_level != nullptr && *isa_level != kIsaSse2) {
        MultVectorPack_AVX(n, l_block, threads, a, b, c);
        return;
    }
    MultVectorPackSse(n, l_block, threads, a, b, c);
}

bool CapVectorPackIsa(VectorIsaCap cap) {
    const std::int32_t supported = SupportedIsaLevel();
    std::int32_t level = kIsaAvxFma3;
    int bits = 512;
    switch (cap) {
        case VectorIsaCap::Auto: break;
        case VectorIsaCap::Sse2: level = kIsaSse2; bits = 256; break;
        case VectorIsaCap::Avx: level = kIsaAvx; bits = 256; break;
        case VectorIsaCap::Avx2: bits = 256; break;
        case VectorIsaCap::Avx512: break;
    }
    if (cap != VectorIsaCap::Auto && level > supported) return false;
    if (supported == kIsaSse2) {  // Tavrel_8x4's kernels cannot run at all
        SetIsaLevelCap(level);
        return true;
    }
    const int previous_bits = TAVREL_AVX_8X4_FormBits();
    if (TAVREL_AVX_8X4_LimitFormBits(bits) < 512 && cap == VectorIsaCap::Avx512) {
        TAVREL_AVX_8X4_LimitFormBits(previous_bits);
        return false;
    }
    SetIsaLevelCap(level);
    return true;
}

std::string VectorPackKernelForm(std::int32_t isa_level) {
    if (isa_level == kIsaSse2) return "SSE2 4x4 (Tavrel)";
    return TAVREL_AVX_8X4_FormBits() == 512 ? "AVX-512 24x8 (Tavrel_8x4)" : "AVX 8x4 (Tavrel_8x4)";
}
