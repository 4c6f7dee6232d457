// MultBlock_4x4xK_2: C += A * B on 4x4 tiles held in eight two-lane SSE2
// registers (separate multiply and add, no fused multiply-add).
//
// Contract (all sizes and strides count doubles; Mr = M - m_rest, Nr = N - n_rest):
//   A block  Mr x K, row by row: A(i, k) = a[i*lda + k]. Read with the SSE3
//            duplicating load, so a and lda need no alignment.
//   B panel  K x Nr in groups of four columns: group g (columns 4g..4g+3) holds
//            4*K doubles from bb + 4*K*g, for each k the four B(k, 4g+q).
//   C block  Mr x Nr inside rows of N doubles: C(i, j) = c[i*N + j]. Any alignment.
//   aa       scratch, 2*Mr*K doubles: row group h (rows 4h..4h+3) from aa + 8*K*h,
//            for each k the eight values A(4h, k), A(4h, k), A(4h+1, k), ...,
//            A(4h+3, k), A(4h+3, k), so one register multiplies two columns of B.
//   c_strip  scratch, 4*Mr doubles: the 4x4 tiles of one column group, row by
//            row (c_strip[4*i + q] is row i, column 4g + q).
//   bb, aa and c_strip are 16-byte aligned (aligned two-lane loads and stores).
// Every C(i, j), i < Mr, j < Nr, gets C(i, j) + (sum over k = 0..K-1 of
// A(i, k)*B(k, j), summed from 0.0 in increasing k). Rows from Mr and columns
// from Nr are neither read nor written.
//
// Calls outside the contract touch nothing and return: a remainder that is
// negative or larger than its block (m_rest outside 0..M, n_rest outside
// 0..N), Mr or Nr positive but not a multiple of 4, K negative or odd,
// bb/aa/c_strip not 16-byte aligned. Mr <= 0 does nothing; Nr <= 0 only
// packs A.
#include "Tavrel.h"

#include <pmmintrin.h>

#include <cstddef>
#include <cstdint>

namespace {
using Index = std::ptrdiff_t;

constexpr Index kGroup = 4;                    // rows or columns per register block
constexpr Index kPackedAPerStep = 2 * kGroup;  // duplicated A values per depth step

bool Aligned16(const double* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15u) == 0; }

bool WithinContract(Index rows, Index cols, int K, const double* a, const double* bb,
                    const double* c, const double* c_strip, const double* aa) {
    if (rows % kGroup != 0 || (cols > 0 && cols % kGroup != 0)) return false;
    if (K < 0 || K % 2 != 0) return false;
    if (!a || !bb || !c || !c_strip || !aa) return false;
    return Aligned16(bb) && Aligned16(c_strip) && Aligned16(aa);
}

// Packs rows 0..rows-1 of A, every value twice, two depth steps per pass.
void PackA(const double* a, Index lda, Index K, Index rows, double* aa) {
    for (Index h = 0; h * kGroup < rows; ++h) {
        const double* first_row = a + h * kGroup * lda;
        double* group = aa + kPackedAPerStep * K * h;
        for (Index k = 0; k < K; k += 2) {
            _mm_prefetch(reinterpret_cast<const char*>(first_row + k) + 128, _MM_HINT_T0);
            for (Index t = 0; t < kGroup; ++t) {
                const double* row = first_row + t * lda;
                _mm_store_pd(group + kPackedAPerStep * k + 2 * t, _mm_loaddup_pd(row + k));
                _mm_store_pd(group + kPackedAPerStep * (k + 1) + 2 * t,
                             _mm_loaddup_pd(row + k + 1));
            }
        }
    }
}

// One 4x4 tile: packed A group `ap` times packed B group `bp`, stored row by
// row into `tile` (16 doubles), every sum in increasing k from zero with a
// rounded multiply and a rounded add. Written out as instructions: per
// k-step six loads, the two B pairs and the four duplicated A pairs. Rows 0
// to 2 copy their A pair (the two-operand SSE2 multiply overwrites its
// destination); row 3 multiplies the B pairs themselves by its A pair (their
// last use in the k-step), which saves two copies. The eight sums stay in
// registers. A head of K % 4 single k-steps, then four k-steps per pass.
inline void MultiplyTile(const double* ap, const double* bp, Index K, double* tile) {
    // clang-format off
    __m128d acc[2 * kGroup];
    for (__m128d& sum : acc) sum = _mm_setzero_pd();
    // Legacy SSE writes keep the upper bits of the register, so a write may
    // wait for the register's previous value: rows 0, 1 and 2 take their
    // products in three different pairs, which keeps such waits off a chain
    // through the loop.
#define TAVREL_ROW(t, k, x, y)                                \
    "movapd 64*" #k "+16*" #t "(%[a]), %%" #x "\n\t"        \
    "movapd %%" #x ", %%" #y "\n\t"                         \
    "mulpd %%xmm12, %%" #x "\n\t"                           \
    "addpd %%" #x ", %[s" #t "0]\n\t"                       \
    "mulpd %%xmm13, %%" #y "\n\t"                           \
    "addpd %%" #y ", %[s" #t "1]\n\t"
#define TAVREL_B(k)                                   \
    "movapd 32*" #k "(%[b]), %%xmm12\n\t"          \
    "movapd 32*" #k "+16(%[b]), %%xmm13\n\t"
// The last row multiplies the B pairs themselves: B is reloaded each k-step.
#define TAVREL_LAST_ROW(t, k)                                 \
    "movapd 64*" #k "+16*" #t "(%[a]), %%xmm8\n\t"          \
    "mulpd %%xmm8, %%xmm12\n\t"                             \
    "addpd %%xmm12, %[s" #t "0]\n\t"                        \
    "mulpd %%xmm8, %%xmm13\n\t"                             \
    "addpd %%xmm13, %[s" #t "1]\n\t"
#define TAVREL_STEP(k)                                                  \
    TAVREL_B(k) TAVREL_ROW(0, k, xmm8, xmm9) TAVREL_ROW(1, k, xmm10, xmm11) \
    TAVREL_ROW(2, k, xmm14, xmm15) TAVREL_LAST_ROW(3, k)
#define TAVREL_OPERANDS                                                                          \
    : [s00] "+x"(acc[0]), [s01] "+x"(acc[1]), [s10] "+x"(acc[2]), [s11] "+x"(acc[3]),           \
      [s20] "+x"(acc[4]), [s21] "+x"(acc[5]), [s30] "+x"(acc[6]), [s31] "+x"(acc[7]),           \
      [a] "+r"(ap), [b] "+r"(bp), [n] "+r"(count)                                               \
    :                                                                                            \
    : "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "cc", "memory"
    Index count = K % 4;  // K >= 0 (checked before)
    if (count > 0) {
        __asm__ volatile(
            "1:\n\t"
            TAVREL_STEP(0)
            "add $64, %[a]\n\t"
            "add $32, %[b]\n\t"
            "dec %[n]\n\t"
            "jnz 1b\n\t"
            TAVREL_OPERANDS);
    }
    count = K / 4;
    if (count > 0) {
        __asm__ volatile(
            "1:\n\t"
            TAVREL_STEP(0)
            TAVREL_STEP(1)
            TAVREL_STEP(2)
            TAVREL_STEP(3)
            "add $256, %[a]\n\t"
            "add $128, %[b]\n\t"
            "dec %[n]\n\t"
            "jnz 1b\n\t"
            TAVREL_OPERANDS);
    }
#undef TAVREL_OPERANDS
#undef TAVREL_STEP
#undef TAVREL_LAST_ROW
#undef TAVREL_B
#undef TAVREL_ROW
    // clang-format on
    for (Index t = 0; t < kGroup; ++t) {
        _mm_store_pd(tile + kGroup * t, acc[2 * t]);
        _mm_store_pd(tile + kGroup * t + 2, acc[2 * t + 1]);
    }
}

// Adds the strip of column group starting at column j0 into C.
void AddStrip(const double* c_strip, Index rows, Index ldc, Index j0, double* c) {
    for (Index i = 0; i < rows; ++i) {
        double* c_row = c + i * ldc + j0;
        for (Index q = 0; q < kGroup; ++q) c_row[q] += c_strip[kGroup * i + q];
    }
}
}  // namespace

void MultBlock_4x4xK_2(int lda, int K, int M, int N, int m_rest, int n_rest, double* a, double* bb,
                       double* c, double* c_strip, double* aa) {
    if (m_rest < 0 || m_rest > M || n_rest < 0 || n_rest > N) return;
    const Index rows = Index{M} - m_rest;
    const Index cols = Index{N} - n_rest;
    if (rows <= 0 || !WithinContract(rows, cols, K, a, bb, c, c_strip, aa)) return;

    PackA(a, lda, K, rows, aa);
    if (cols <= 0) return;

    for (Index j0 = 0; j0 < cols; j0 += kGroup) {
        const double* panel = bb + Index{K} * j0;
        for (Index i0 = 0; i0 < rows; i0 += kGroup) {
            _mm_prefetch(reinterpret_cast<const char*>(panel) + 64, _MM_HINT_T0);
            // The rows of C that AddStrip reads after this column group.
            for (Index t = 0; t < kGroup; ++t) {
                _mm_prefetch(reinterpret_cast<const char*>(c + (i0 + t) * N + j0), _MM_HINT_T0);
            }
            MultiplyTile(aa + 2 * Index{K} * i0, panel, K, c_strip + kGroup * i0);
        }
        AddStrip(c_strip, rows, N, j0, c);
    }
}

CTavrel::CTavrel() = default;

CTavrel& CTavrel::operator=(const CTavrel&) { return *this; }

int fnTavrel() { return 42; }

int nTavrel = 0;
