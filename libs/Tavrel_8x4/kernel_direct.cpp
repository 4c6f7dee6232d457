// tavrel_AVX_8x4x16_AMD, 11 arguments (contract in Tavrel_8x4.h): whole 4x2
// blocks of a row-by-row C from unpacked A rows and B columns, no scratch.
//
// Register block: 4 rows x 2 columns in eight 4-lane sums running along the
// depth. Lane l sums the products of the steps k = l (mod 4) in increasing
// k, a rounded multiply then a rounded add; each element is then
// ((l0 + l1) + l2) + l3, written by the scalar rule (kernel_tiles.h). Every
// eight depth steps the next 64 bytes of the four A rows and two B columns
// are prefetched, every eight columns the next line of the four C rows.
#include <immintrin.h>

#include <cstddef>

#include "Tavrel_8x4.h"
#include "kernel_tiles.h"

namespace {

using std::ptrdiff_t;
using tavrel8x4::Prefetch;

// Four depth steps k..k+3 of the block whose first A row is at a and first B
// column at b: acc[r][j] (row r, column j) gains lane by lane.
inline __attribute__((always_inline)) void Step4(__m256d (&acc)[4][2], const double* a,
                                                 ptrdiff_t lda, const double* b, ptrdiff_t ldb,
                                                 int k) {
    const __m256d b0 = _mm256_loadu_pd(b + k), b1 = _mm256_loadu_pd(b + ldb + k);
    for (int r = 0; r < 4; ++r) {
        __m256d ar = _mm256_loadu_pd(a + r * lda + k);
        __asm__("" : "+x"(ar));  // loaded once, not folded into both products
        acc[r][0] = _mm256_add_pd(acc[r][0], _mm256_mul_pd(ar, b0));
        acc[r][1] = _mm256_add_pd(acc[r][1], _mm256_mul_pd(ar, b1));
    }
}

// The 4x2 block at a (A), b (B) and c (C(0,0)) over depth K4, eight steps a
// pass. alpha and beta by value: behind a reference, every store to C would
// have them read again.
void Block(const double* a, ptrdiff_t lda, const double* b, ptrdiff_t ldb, int K4, double* c,
           ptrdiff_t ldc, double alpha, double beta) {
    __m256d acc[4][2] = {};
    for (int k = 0; k < K4; k += 8) {
        for (int r = 0; r < 4; ++r) Prefetch(a, r * lda + k + 8);
        Prefetch(b, k + 8);
        Prefetch(b, ldb + k + 8);
        Step4(acc, a, lda, b, ldb, k);
        if (k + 4 < K4) Step4(acc, a, lda, b, ldb, k + 4);
    }
    const tavrel8x4::Scale s{alpha, beta};
    alignas(32) double lane[4];
    for (int j = 0; j < 2; ++j) {
        for (int r = 0; r < 4; ++r) {
            _mm256_store_pd(lane, acc[r][j]);
            tavrel8x4::WriteElement(((lane[0] + lane[1]) + lane[2]) + lane[3], c + r * ldc + j,
                                    false, s);
        }
    }
}

}  // namespace

void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda, double* B,
                           int ldb, double beta, double* C, int ldc) {
    if (M < 0 || N < 0 || K < 0) return;
    const int M4 = M - M % 4, N2 = N - N % 2, K4 = K - K % 4;
    for (int i0 = 0; i0 < M4; i0 += 4) {
        const double* a = A + static_cast<ptrdiff_t>(i0) * lda;
        double* c = C + static_cast<ptrdiff_t>(i0) * ldc;
        for (int j0 = 0; j0 < N2; j0 += 2) {
            for (int r = 0; j0 % 8 == 0 && r < 4; ++r) Prefetch(c, r * ptrdiff_t{ldc} + j0 + 8);
            Block(a, lda, B + static_cast<ptrdiff_t>(j0) * ldb, ldb, K4, c + j0, ldc, alpha, beta);
        }
    }
}
