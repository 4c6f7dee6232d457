// The AVX-512 form of the 8-row region of tavrel_AVX_8x4x16_AMD (contract in
// kernel_forms.h). Built with -mavx512f -ffp-contract=off: separate rounded
// multiplies and adds, never fused.
//
// Register blocks of R 8-row blocks (R = 1..3, one 512-bit vector of packed A
// each per k-step) by W columns (8: two packed 4-column panels side by side;
// 4: the last panel when N4/4 is odd): up to 24 accumulators, 3 A vectors
// and the broadcast B values in the 32 vector registers. Each accumulator
// lane sums its products in increasing k from zero, exactly as the AVX form.
// The panel is taken in chunks of columns that stay in L2; within a chunk
// each register block's rows of packed A stay in L1 while the block runs
// across the chunk's column groups, streaming packed B from L2.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "kernel_forms.h"

namespace tavrel8x4 {
namespace {

using std::ptrdiff_t;

inline __attribute__((always_inline)) void Prefetch(const double* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
}

// The block of R*8 rows and W columns: packed A at a (block r at a + r*a_step),
// packed B at b0 (columns 0..3) and b1 (columns 4..7), C at c.
template <int R, int W>
void Block(const double* a, ptrdiff_t a_step, const double* b0, const double* b1, int K, double* c,
           ptrdiff_t ldc, double alpha, double beta) {
    for (int j = 0; j < W; ++j) {
        for (int r = 0; r < R; ++r) Prefetch(c + j * ldc + 8 * r);
        Prefetch(c + j * ldc + 8 * R - 1);
    }
    __m512d acc[W][R];
    for (auto& column : acc) {
        for (auto& v : column) v = _mm512_setzero_pd();
    }
    // Two k-steps a pass: half the loop's own instructions. Packed A is not
    // prefetched: the chunk's column groups find it in L1 (prefetching it
    // measured 4-5 % slower).
#pragma GCC unroll 2
    for (int k = 0; k < K; ++k) {
        __m512d av[R];
        for (int r = 0; r < R; ++r) av[r] = _mm512_loadu_pd(a + r * a_step + 8 * k);
        for (int j = 0; j < W; ++j) {
            const __m512d bj = _mm512_set1_pd(j < 4 ? b0[4 * k + j] : b1[4 * k + j - 4]);
            for (int r = 0; r < R; ++r) acc[j][r] = _mm512_add_pd(acc[j][r], _mm512_mul_pd(av[r], bj));
        }
    }
    // C's addresses are formed anew for the write-back, not kept in registers
    // through the loop since the prefetches (all 32 are taken by the block).
    __asm__("" : "+r"(c));
    const __m512d va = _mm512_set1_pd(alpha);
    const __m512d vb = _mm512_set1_pd(beta);
    const bool beta_is_zero = beta == 0.0;
    // With alpha and beta both 1 (method 4's calls) the two multiplies are
    // exact, so C_old + sum has the bits of beta*C_old + alpha*sum.
    const bool unit = alpha == 1.0 && beta == 1.0;
    // Unrolled, so that the sums go out from their registers, not a copy on
    // the stack.
#pragma GCC unroll 8
    for (int j = 0; j < W; ++j) {
#pragma GCC unroll 3
        for (int r = 0; r < R; ++r) {
            double* out = c + j * ldc + 8 * r;
            if (unit) {
                _mm512_storeu_pd(out, _mm512_add_pd(_mm512_loadu_pd(out), acc[j][r]));
                continue;
            }
            const __m512d v = _mm512_mul_pd(va, acc[j][r]);
            if (beta_is_zero) {
                _mm512_storeu_pd(out, v);
            } else {
                _mm512_storeu_pd(out, _mm512_add_pd(_mm512_mul_pd(vb, _mm512_loadu_pd(out)), v));
            }
        }
    }
}

// The R*8 rows from 8-row block b on of the W columns from column j0 on.
template <int W>
void RowsOfGroup(int R, const PanelRegion& g, int j0, int b) {
    const ptrdiff_t a_step = ptrdiff_t{8} * g.K;
    const double* b0 = g.bb + ptrdiff_t{g.K} * j0;
    const double* b1 = W == 8 ? b0 + 4 * g.K : b0;  // columns 4..7, when W is 8
    const double* a = g.aa + a_step * b;
    double* cb = g.c + j0 * g.ldc + 8 * b;
    if (R == 3) return Block<3, W>(a, a_step, b0, b1, g.K, cb, g.ldc, g.alpha, g.beta);
    if (R == 2) return Block<2, W>(a, a_step, b0, b1, g.K, cb, g.ldc, g.alpha, g.beta);
    Block<1, W>(a, a_step, b0, b1, g.K, cb, g.ldc, g.alpha, g.beta);
}

// How many 8-row blocks go into the register block at b: three, and two and
// two for the last four, since a lone 8-row block spends a broadcast on
// every two products.
int RowBlocksAt(int b, int blocks) {
    const int left = blocks - b;
    return left == 4 ? 2 : left < 3 ? left : 3;
}

// Columns of packed B per chunk: a chunk (K x columns, 384 KiB) stays in a
// 1 MiB L2 beside the packed A of a call (192 x 176 at the defaults, 264
// KiB), while each register block's rows of packed A (24 x K, 33 KiB at K
// 176) stay in L1 across the chunk's column groups. A multiple of 8.
int ColumnsPerChunk(int K) {
    constexpr std::size_t kChunkBytes = 384 * 1024;
    const std::size_t depth = K > 0 ? static_cast<std::size_t>(K) : 1;
    const std::size_t columns = kChunkBytes / (sizeof(double) * depth) / 8 * 8;
    return columns < 8 ? 8 : static_cast<int>(columns);  // at most 49152
}

// Zeroes zmm16..zmm31, which the blocks use and vzeroupper (at the return)
// leaves as they are: while they hold non-zero upper bits, later SSE code in
// the process (the SSE2 kernel of libTavrel, for one) runs markedly slower.
void ClearUpperRegisters() {
    __asm__ volatile(
        "vpxord %%xmm16, %%xmm16, %%xmm16\n\t"
        "vpxord %%xmm17, %%xmm17, %%xmm17\n\t"
        "vpxord %%xmm18, %%xmm18, %%xmm18\n\t"
        "vpxord %%xmm19, %%xmm19, %%xmm19\n\t"
        "vpxord %%xmm20, %%xmm20, %%xmm20\n\t"
        "vpxord %%xmm21, %%xmm21, %%xmm21\n\t"
        "vpxord %%xmm22, %%xmm22, %%xmm22\n\t"
        "vpxord %%xmm23, %%xmm23, %%xmm23\n\t"
        "vpxord %%xmm24, %%xmm24, %%xmm24\n\t"
        "vpxord %%xmm25, %%xmm25, %%xmm25\n\t"
        "vpxord %%xmm26, %%xmm26, %%xmm26\n\t"
        "vpxord %%xmm27, %%xmm27, %%xmm27\n\t"
        "vpxord %%xmm28, %%xmm28, %%xmm28\n\t"
        "vpxord %%xmm29, %%xmm29, %%xmm29\n\t"
        "vpxord %%xmm30, %%xmm30, %%xmm30\n\t"
        "vpxord %%xmm31, %%xmm31, %%xmm31\n\t" ::
            : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
              "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}

}  // namespace

void EightRowBlocksAvx512(const PanelRegion& g) {
    const int blocks = g.M8 / 8;
    const int chunk = ColumnsPerChunk(g.K);
    for (int first = 0, end = 0; first < g.N4; first = end) {
        end = g.N4 - first > chunk ? first + chunk : g.N4;
        for (int b = 0, rows = 0; b < blocks; b += rows) {
            rows = RowBlocksAt(b, blocks);
            int j0 = first;
            for (; j0 + 8 <= end; j0 += 8) RowsOfGroup<8>(rows, g, j0, b);
            if (j0 < end) RowsOfGroup<4>(rows, g, j0, b);
        }
    }
    ClearUpperRegisters();
}

}  // namespace tavrel8x4
