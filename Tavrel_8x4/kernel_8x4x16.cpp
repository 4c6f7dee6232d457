// tavrel_AVX_8x4x16_AMD, 13 arguments: C := alpha*A*B + beta*C.
//
// Operands (all counts in doubles): A is M x K column-major, A(i,k) at
// A[i + k*lda], read only, any alignment. C is M x N column-major, C(i,j) at
// C[i + j*ldc], any alignment. B and ldb are accepted and not read: B(k,j)
// comes from the packed panel BB (K*N values, 8-byte alignment):
//   columns j0..j0+3:         B(k, j0+c) at K*j0 + 4*k + c
//   tail columns N4..N-1 (nr): B(k, N4+c) at K*N4 + nr*k + c
// AA (M*K doubles, 32-byte aligned, overwritten) receives packed A first:
//   8-row block b:          A(8b+i, k) at 8*K*b + 8*k + i
//   4-row block at M8:      A(M8+i, k) at K*M8 + 4*k + i      (when M % 8 >= 4)
//   r-row strip, r = M % 4: A(M-r+i, k) at K*(M-r) + r*k + i
// Register blocks: 8 rows x 6 columns (three whole panels give two such
// blocks) in twelve 4-wide AVX accumulators, and 8 rows x 4 columns in eight
// for the panels left over; separate rounded multiply and add, each element
// summed in increasing k from zero. The main loops (written as instructions)
// do four k-steps per pass and prefetch packed A eight steps ahead; while a
// group of panels runs, the next group is prefetched a few lines per block.
// The 8-row blocks of the whole panels run in the form chosen at load
// (kernel_forms.h): these blocks, or on AVX-512 processors up to 24x8 blocks
// in 512-bit vectors with the same arithmetic and the same bits.
//
// Write-back: the vector rule (V = alpha*acc; beta == 0.0 stores V without
// reading C, otherwise beta*C_old + V) for the 8-row blocks of every panel
// and the 4-row block of the whole panels; the scalar rule (always
// beta*C_old + alpha*acc, C read even when beta is zero) for the r-row strips
// and the 4-row block of the tail panel.
//
// The call is its two halves, exported on their own as well: Pack_AA_AMD
// (A into AA) and tavrel_AVX_8x4x16_Packed (the blocks from AA and BB). A
// packed A of M rows read from AA + K*i0 (i0 a multiple of 8) is the packed A
// of its rows i0..M-1, and a panel read from BB + K*j0 (j0 a multiple of 4)
// the panel of its columns j0..N-1, so callers may share one packing among
// several calls on parts of C.
//
// Preconditions (not checked): lda >= M, ldc >= M, AA as above, BB packed,
// A, C and AA disjoint, an AVX processor. Reentrant; calls with their own AA
// and disjoint parts of C may run concurrently. A negative M, N or K writes
// nothing; a zero M or N leaves C untouched; a zero K still writes all of C.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "Tavrel_8x4.h"
#include "block8x4.h"
#include "kernel_forms.h"

namespace {

using std::ptrdiff_t;
using tavrel8x4::Prefetch;

struct Shape {
    int M, K;
    int M8;     // rows in whole 8-row blocks
    bool has4;  // a 4-row block follows them
    int r;      // rows in the last strip, 0..3
    int K4;     // depth of the four-step main loop
};

// Packs the 8-row blocks, the 4-row block and the r-row strip of A into AA.
void PackA(const Shape& s, const double* A, ptrdiff_t lda, double* AA) {
    double* out = AA;
    for (int i0 = 0; i0 < s.M8; i0 += 8) {
        const double* a = A + i0;
        int k = 0;
        for (; k < s.K4; k += 4, out += 32) {
            for (int u = 4; u < 8; ++u) Prefetch(a, (k + u) * lda);
            for (int u = 0; u < 4; ++u) {
                const double* column = a + (k + u) * lda;
                _mm256_store_pd(out + 8 * u, _mm256_loadu_pd(column));
                _mm256_store_pd(out + 8 * u + 4, _mm256_loadu_pd(column + 4));
            }
        }
        for (; k < s.K; ++k, out += 8) {
            Prefetch(a, (k + 1) * lda);
            _mm256_store_pd(out, _mm256_loadu_pd(a + k * lda));
            _mm256_store_pd(out + 4, _mm256_loadu_pd(a + k * lda + 4));
        }
    }
    const int tail_rows[2] = {s.has4 ? 4 : 0, s.r};
    int row = s.M8;
    for (const int rows : tail_rows) {
        for (int k = 0; k < s.K; ++k, out += rows) {
            for (int i = 0; i < rows; ++i) out[i] = A[row + i + k * lda];
        }
        row += rows;
    }
}

// The sums of an 8x4 block over K k-steps (none when K <= 0): acc[c][h] = sum over k of
// B(k, c) * A(4h..4h+3, k), in increasing k from zero, a rounded multiply and
// then a rounded add, from the packed A at a (8 values per k, 32-byte
// aligned) and the panel at b (4 values per k). Written out as instructions
// because GCC otherwise spills the sums: the eight sums stay in registers,
// four more hold A, a broadcast B value and a product.
inline __attribute__((always_inline)) void SumBlock8x4(__m256d (&acc)[4][2], const double* a,
                                                       const double* b, long K) {
    for (auto& column : acc) column[0] = column[1] = _mm256_setzero_pd();
    if (K <= 0) return;
#define TAVREL_COLUMN(c, s)                                        \
    "vbroadcastsd 32*" #s "+8*" #c "(%[b]), %%ymm14\n\t"          \
    "vmulpd %%ymm14, %%ymm12, %%ymm15\n\t"                        \
    "vaddpd %%ymm15, %[c" #c "0], %[c" #c "0]\n\t"                \
    "vmulpd %%ymm14, %%ymm13, %%ymm14\n\t"                        \
    "vaddpd %%ymm14, %[c" #c "1], %[c" #c "1]\n\t"
#define TAVREL_STEP(s)                                             \
    "vmovapd 64*" #s "(%[a]), %%ymm12\n\t"                         \
    "vmovapd 64*" #s "+32(%[a]), %%ymm13\n\t"                      \
    "prefetcht0 512+64*" #s "(%[a])\n\t"                           \
    TAVREL_COLUMN(0, s) TAVREL_COLUMN(1, s) TAVREL_COLUMN(2, s) TAVREL_COLUMN(3, s)
#define TAVREL_OPERANDS                                                                       \
    : [c00] "+x"(acc[0][0]), [c01] "+x"(acc[0][1]), [c10] "+x"(acc[1][0]),                   \
      [c11] "+x"(acc[1][1]), [c20] "+x"(acc[2][0]), [c21] "+x"(acc[2][1]),                   \
      [c30] "+x"(acc[3][0]), [c31] "+x"(acc[3][1]), [a] "+r"(a), [b] "+r"(b), [k] "+r"(passes) \
    :                                                                                         \
    : "xmm12", "xmm13", "xmm14", "xmm15", "cc", "memory"
    // The first K % 4 k-steps one by one, then four k-steps per pass.
    long passes = K / 4;
    for (long k = 0; k < K % 4; ++k) {
        __asm__ volatile(TAVREL_STEP(0) "add $64, %[a]\n\t"
                                        "add $32, %[b]\n\t" TAVREL_OPERANDS);
    }
    if (passes == 0) return;
    __asm__ volatile(
        "1:\n\t"
        TAVREL_STEP(0) TAVREL_STEP(1) TAVREL_STEP(2) TAVREL_STEP(3)
        "add $256, %[a]\n\t"
        "add $128, %[b]\n\t"
        "dec %[k]\n\t"
        "jnz 1b\n\t"
        TAVREL_OPERANDS);
#undef TAVREL_OPERANDS
#undef TAVREL_STEP
#undef TAVREL_COLUMN
}

// The 8x4 block whose packed A is at a and packed panel at b, vector rule.
void Block8x4Avx(const double* a, const double* b, int K, double* c, ptrdiff_t ldc, double alpha,
                 double beta) {
    for (int j = 0; j < 4; ++j) {
        Prefetch(c, j * ldc);
        Prefetch(c, j * ldc + 7);
    }
    tavrel8x4::Block8x4 block;
    SumBlock8x4(block.acc, a, b, K);
    tavrel8x4::WriteBlock8x4(block, c, ldc, alpha, beta);
}

// Which six columns an 8x6 block takes from its two panels p and q:
// leading: p columns 0..3 and q columns 0..1; trailing: p columns 2..3 and
// q columns 0..3. Three panels make a leading and a trailing block.
enum class Six { kLeading, kTrailing };

// The sums of an 8x6 block over K >= 0 k-steps into sums (48 values, 32-byte
// aligned): sums[8*c + i] = sum over k of B(k, c) * A(i, k), in increasing k
// from zero, a rounded multiply and then a rounded add. Packed A at a (8
// values per k, 32-byte aligned), the panels at p and q (4 values per k).
// Written as one piece of instructions: the twelve sums live in ymm0..ymm11
// from the first k-step to the store, ymm12/13 hold A, ymm14 a broadcast B
// value and ymm15 a product. The first K % 4 k-steps run one by one, then
// four per pass.
template <Six kColumns>
inline __attribute__((always_inline)) void SumBlock8x6(double* sums, const double* a,
                                                       const double* p, const double* q, long K) {
#define TAVREL_COLUMN(lo, hi, panel, col, s)                            \
    "vbroadcastsd 32*" #s "+8*" #col "(%[" #panel "]), %%ymm14\n\t"   \
    "vmulpd %%ymm14, %%ymm12, %%ymm15\n\t"                             \
    "vaddpd %%ymm15, %%ymm" #lo ", %%ymm" #lo "\n\t"                   \
    "vmulpd %%ymm14, %%ymm13, %%ymm14\n\t"                             \
    "vaddpd %%ymm14, %%ymm" #hi ", %%ymm" #hi "\n\t"
#define TAVREL_LOAD_A(s)                              \
    "vmovapd 64*" #s "(%[a]), %%ymm12\n\t"            \
    "vmovapd 64*" #s "+32(%[a]), %%ymm13\n\t"         \
    "prefetcht0 512+64*" #s "(%[a])\n\t"
#define TAVREL_LEADING(s)                                                               \
    TAVREL_LOAD_A(s) TAVREL_COLUMN(0, 1, p, 0, s) TAVREL_COLUMN(2, 3, p, 1, s)          \
    TAVREL_COLUMN(4, 5, p, 2, s) TAVREL_COLUMN(6, 7, p, 3, s) TAVREL_COLUMN(8, 9, q, 0, s) \
    TAVREL_COLUMN(10, 11, q, 1, s)
#define TAVREL_TRAILING(s)                                                              \
    TAVREL_LOAD_A(s) TAVREL_COLUMN(0, 1, p, 2, s) TAVREL_COLUMN(2, 3, p, 3, s)          \
    TAVREL_COLUMN(4, 5, q, 0, s) TAVREL_COLUMN(6, 7, q, 1, s) TAVREL_COLUMN(8, 9, q, 2, s) \
    TAVREL_COLUMN(10, 11, q, 3, s)
#define TAVREL_ZERO(r) "vxorpd %%ymm" #r ", %%ymm" #r ", %%ymm" #r "\n\t"
#define TAVREL_STORE(r) "vmovapd %%ymm" #r ", 32*" #r "(%[sums])\n\t"
#define TAVREL_SIX_COLUMNS(STEP)                                                          \
    TAVREL_ZERO(0) TAVREL_ZERO(1) TAVREL_ZERO(2) TAVREL_ZERO(3) TAVREL_ZERO(4) TAVREL_ZERO(5) \
    TAVREL_ZERO(6) TAVREL_ZERO(7) TAVREL_ZERO(8) TAVREL_ZERO(9) TAVREL_ZERO(10) TAVREL_ZERO(11) \
    "test %[single], %[single]\n\t"                                                       \
    "jz 2f\n\t"                                                                           \
    "1:\n\t" STEP(0)                                                                      \
    "add $64, %[a]\n\t"                                                                   \
    "add $32, %[p]\n\t"                                                                   \
    "add $32, %[q]\n\t"                                                                   \
    "dec %[single]\n\t"                                                                   \
    "jnz 1b\n\t"                                                                          \
    "2:\n\t"                                                                              \
    "test %[passes], %[passes]\n\t"                                                       \
    "jz 4f\n\t"                                                                           \
    "3:\n\t" STEP(0) STEP(1) STEP(2) STEP(3)                                              \
    "add $256, %[a]\n\t"                                                                  \
    "add $128, %[p]\n\t"                                                                  \
    "add $128, %[q]\n\t"                                                                  \
    "dec %[passes]\n\t"                                                                   \
    "jnz 3b\n\t"                                                                          \
    "4:\n\t"                                                                              \
    TAVREL_STORE(0) TAVREL_STORE(1) TAVREL_STORE(2) TAVREL_STORE(3) TAVREL_STORE(4)       \
    TAVREL_STORE(5) TAVREL_STORE(6) TAVREL_STORE(7) TAVREL_STORE(8) TAVREL_STORE(9)       \
    TAVREL_STORE(10) TAVREL_STORE(11)                                                     \
    : [a] "+r"(a), [p] "+r"(p), [q] "+r"(q), [single] "+r"(single), [passes] "+r"(passes) \
    : [sums] "r"(sums)                                                                    \
    : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",     \
      "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "cc", "memory"
    long single = K % 4, passes = K / 4;
    if constexpr (kColumns == Six::kLeading) {
        __asm__ volatile(TAVREL_SIX_COLUMNS(TAVREL_LEADING));
    } else {
        __asm__ volatile(TAVREL_SIX_COLUMNS(TAVREL_TRAILING));
    }
#undef TAVREL_SIX_COLUMNS
#undef TAVREL_STORE
#undef TAVREL_ZERO
#undef TAVREL_TRAILING
#undef TAVREL_LEADING
#undef TAVREL_LOAD_A
#undef TAVREL_COLUMN
}

// The 8x6 block of C at c from packed A at a and panels p and q, vector rule.
template <Six kColumns>
void Block8x6Avx(const double* a, const double* p, const double* q, int K, double* c,
                 ptrdiff_t ldc, double alpha, double beta) {
    for (int j = 0; j < 6; ++j) {
        Prefetch(c, j * ldc);
        Prefetch(c, j * ldc + 7);
    }
    alignas(32) double sums[6 * 8];
    SumBlock8x6<kColumns>(sums, a, p, q, K);
    const __m256d va = _mm256_set1_pd(alpha), vb = _mm256_set1_pd(beta);
    const bool beta_is_zero = beta == 0.0;
    for (int j = 0; j < 6; ++j) {
        for (int h = 0; h < 2; ++h) {
            tavrel8x4::WriteVectorRule(c + j * ldc + 4 * h, _mm256_load_pd(sums + 8 * j + 4 * h), va,
                                       vb, beta_is_zero);
        }
    }
}

// Prefetches the packed panels that come next (`lines` cache lines from
// next) in `shares` equal shares, one share per register block, so they are
// in L1 when their turn comes.
struct NextPanels {
    const char* next;
    ptrdiff_t lines;
    ptrdiff_t per_share;

    NextPanels(const double* start, ptrdiff_t doubles, ptrdiff_t shares)
        : next(reinterpret_cast<const char*>(start)),
          lines((doubles * static_cast<ptrdiff_t>(sizeof(double)) + 63) / 64),
          per_share(shares > 0 ? (lines + shares - 1) / shares : 0) {}

    void Fetch(ptrdiff_t share) const {
        const ptrdiff_t end = std::min(lines, (share + 1) * per_share);
        for (ptrdiff_t line = share * per_share; line < end; ++line) {
            Prefetch(reinterpret_cast<const double*>(next), line * 8);
        }
    }
};

// The 4-row block of a whole panel: one aligned A vector per k, vector rule.
void Block4x4(const double* a, const double* b, int K, double* c, ptrdiff_t ldc, double alpha,
              double beta) {
    __m256d acc[4] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(),
                      _mm256_setzero_pd()};
    for (int k = 0; k < K; ++k) {
        const __m256d av = _mm256_load_pd(a + 4 * k);
        for (int j = 0; j < 4; ++j) {
            acc[j] = _mm256_add_pd(acc[j], _mm256_mul_pd(_mm256_broadcast_sd(b + 4 * k + j), av));
        }
    }
    const __m256d va = _mm256_set1_pd(alpha), vb = _mm256_set1_pd(beta);
    for (int j = 0; j < 4; ++j)
        tavrel8x4::WriteVectorRule(c + j * ldc, acc[j], va, vb, beta == 0.0);
}

// The r-row strip of a whole panel (r = 1..3): the r packed values of each k
// go through a zero-padded 4-value vector; scalar rule on the first r rows.
void Strip4(const double* a, int r, const double* b, int K, double* c, ptrdiff_t ldc, double alpha,
            double beta) {
    alignas(32) double padded[4] = {0.0, 0.0, 0.0, 0.0};
    __m256d acc[4] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(),
                      _mm256_setzero_pd()};
    for (int k = 0; k < K; ++k) {
        std::memcpy(padded, a + r * k, sizeof(double) * r);
        const __m256d av = _mm256_load_pd(padded);
        for (int j = 0; j < 4; ++j) {
            acc[j] = _mm256_add_pd(acc[j], _mm256_mul_pd(_mm256_broadcast_sd(b + 4 * k + j), av));
        }
    }
    alignas(32) double scaled[4][4];
    const __m256d va = _mm256_set1_pd(alpha);
    for (int j = 0; j < 4; ++j) _mm256_store_pd(scaled[j], _mm256_mul_pd(va, acc[j]));
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < r; ++i) c[i + j * ldc] = beta * c[i + j * ldc] + scaled[j][i];
    }
}

// An 8-row block of the tail panel, W = 1..3 columns: 2*W vectors, vector rule.
template <int W>
void Block8xW(const double* a, const double* b, int K, double* c, ptrdiff_t ldc, double alpha,
              double beta) {
    __m256d acc[W][2];
    for (auto& column : acc) column[0] = column[1] = _mm256_setzero_pd();
    for (int k = 0; k < K; ++k) {
        const __m256d a0 = _mm256_load_pd(a + 8 * k), a1 = _mm256_load_pd(a + 8 * k + 4);
        for (int j = 0; j < W; ++j) {
            const __m256d bj = _mm256_broadcast_sd(b + W * k + j);
            acc[j][0] = _mm256_add_pd(acc[j][0], _mm256_mul_pd(bj, a0));
            acc[j][1] = _mm256_add_pd(acc[j][1], _mm256_mul_pd(bj, a1));
        }
    }
    const __m256d va = _mm256_set1_pd(alpha), vb = _mm256_set1_pd(beta);
    for (int j = 0; j < W; ++j) {
        tavrel8x4::WriteVectorRule(c + j * ldc, acc[j][0], va, vb, beta == 0.0);
        tavrel8x4::WriteVectorRule(c + j * ldc + 4, acc[j][1], va, vb, beta == 0.0);
    }
}

// Scalar sums of `rows` rows (packed `rows` values per k) by `width` tail
// columns (packed `width` values per k), scalar rule.
void ScalarBlock(const double* a, int rows, const double* b, int width, int K, double* c,
                 ptrdiff_t ldc, double alpha, double beta) {
    for (int j = 0; j < width; ++j) {
        for (int i = 0; i < rows; ++i) {
            double sum = 0.0;
            for (int k = 0; k < K; ++k) sum += a[rows * k + i] * b[width * k + j];
            c[i + j * ldc] = beta * c[i + j * ldc] + alpha * sum;
        }
    }
}

// The 4-row block and the r-row strip of one whole panel (rows from M8).
void WholePanelTailRows(const Shape& s, const double* AA, const double* b, double* c,
                        ptrdiff_t ldc, double alpha, double beta) {
    const ptrdiff_t K = s.K;
    int row = s.M8;
    if (s.has4) {
        for (int j = 0; j < 4; ++j) Prefetch(c, row + 8 + j * ldc);
        Block4x4(AA + K * row, b, s.K, c + row, ldc, alpha, beta);
        row += 4;
    }
    if (s.r > 0) {
        if (row % 8 == 0) {
            for (int j = 0; j < 4; ++j) Prefetch(c, row + 8 + j * ldc);
        }
        Strip4(AA + K * row, s.r, b, s.K, c + row, ldc, alpha, beta);
    }
}

void TailPanel(const Shape& s, int nr, const double* AA, const double* b, double* c, ptrdiff_t ldc,
               double alpha, double beta) {
    const ptrdiff_t K = s.K;
    for (int i0 = 0; i0 < s.M8; i0 += 8) {
        for (int j = 0; j < nr; ++j) Prefetch(c, i0 + 8 + j * ldc);
        const double* a = AA + K * i0;
        switch (nr) {
            case 1:
                Block8xW<1>(a, b, s.K, c + i0, ldc, alpha, beta);
                break;
            case 2:
                Block8xW<2>(a, b, s.K, c + i0, ldc, alpha, beta);
                break;
            default:
                Block8xW<3>(a, b, s.K, c + i0, ldc, alpha, beta);
                break;
        }
    }
    int row = s.M8;
    if (s.has4) {
        ScalarBlock(AA + K * row, 4, b, nr, s.K, c + row, ldc, alpha, beta);
        row += 4;
    }
    if (s.r > 0) ScalarBlock(AA + K * row, s.r, b, nr, s.K, c + row, ldc, alpha, beta);
}

}  // namespace

namespace tavrel8x4 {

void EightRowBlocksAvx(const PanelRegion& g) {
    const ptrdiff_t K = g.K, ldc = g.ldc;
    const ptrdiff_t row_blocks = g.M8 / 8;
    int j0 = 0;
    // Three panels (12 columns) at a time: a leading and a trailing 8x6 block
    // per 8-row block of A, the second reading A from L1.
    for (; j0 + 12 <= g.N4; j0 += 12) {
        const double* b = g.bb + K * j0;
        const NextPanels next(b + 12 * K, 12 * K, 2 * row_blocks);
        for (int i0 = 0, share = 0; i0 < g.M8; i0 += 8, share += 2) {
            const double* a = g.aa + K * i0;
            double* c = g.c + i0 + j0 * ldc;
            next.Fetch(share);
            Block8x6Avx<Six::kLeading>(a, b, b + 4 * K, g.K, c, ldc, g.alpha, g.beta);
            next.Fetch(share + 1);
            Block8x6Avx<Six::kTrailing>(a, b + 4 * K, b + 8 * K, g.K, c + 6 * ldc, ldc, g.alpha,
                                        g.beta);
        }
    }
    // The one or two panels left: 8x4 blocks.
    for (; j0 < g.N4; j0 += 4) {
        const double* b = g.bb + K * j0;
        const NextPanels next(b + 4 * K, 4 * K, row_blocks);
        for (int i0 = 0, share = 0; i0 < g.M8; i0 += 8, ++share) {
            next.Fetch(share);
            Block8x4Avx(g.aa + K * i0, b, g.K, g.c + i0 + j0 * ldc, ldc, g.alpha, g.beta);
        }
    }
}

}  // namespace tavrel8x4

namespace {
Shape ShapeOf(int M, int K) {
    Shape s{};
    s.M = M;
    s.K = K;
    s.M8 = M - M % 8;
    s.has4 = M % 8 >= 4;
    s.r = M % 4;
    s.K4 = K - K % 4;
    return s;
}
}  // namespace

void Pack_AA_AMD(int M, int K, double* A, int lda, double* AA) {
    if (M <= 0 || K <= 0) return;
    PackA(ShapeOf(M, K), A, lda, AA);
}

void tavrel_AVX_8x4x16_Packed(int M, int N, int K, double alpha, double* AA, double beta, double* C,
                              int ldc, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    const Shape s = ShapeOf(M, K);
    const int nr = N % 4;
    const int N4 = N - nr;
    tavrel8x4::EightRowBlocks()({s.M8, N4, K, AA, BB, C, ldc, alpha, beta});
    if (s.M8 < M) {
        for (int j0 = 0; j0 < N4; j0 += 4) {
            WholePanelTailRows(s, AA, BB + static_cast<ptrdiff_t>(K) * j0,
                               C + static_cast<ptrdiff_t>(j0) * ldc, ldc, alpha, beta);
        }
    }
    if (nr > 0) {
        TailPanel(s, nr, AA, BB + static_cast<ptrdiff_t>(K) * N4,
                  C + static_cast<ptrdiff_t>(N4) * ldc, ldc, alpha, beta);
    }
}

void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda, double* B,
                           int ldb, double beta, double* C, int ldc, double* AA, double* BB) {
    (void)B;
    (void)ldb;
    if (M < 0 || N < 0 || K < 0) return;
    Pack_AA_AMD(M, K, A, lda, AA);
    tavrel_AVX_8x4x16_Packed(M, N, K, alpha, AA, beta, C, ldc, BB);
}
