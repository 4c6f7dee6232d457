// tavrel_AVX_8x4x16_AMD, 11 arguments: C := alpha*A*B + beta*C over whole
// 4x2 blocks, without packing and without scratch.
//
// Operands (counts in doubles, any alignment, A and B read only):
//   A(i,k) at A[i*lda + k]: each row's depth values are contiguous;
//   B(k,j) at B[j*ldb + k]: each column's depth values are contiguous;
//   C(i,j) at C[i*ldc + j]: row by row (unlike the 13-argument form).
// With M4 = M - M%4, N2 = N - N%2 and K4 = K - K%4, every C(i,j) with i < M4
// and j < N2 becomes alpha*s + beta*C_old, s being the sum of A(i,k)*B(k,j)
// over k < K4. Rows M4.., columns N2.. are not touched and depth steps K4..
// contribute nothing; K4 <= 0 gives alpha*0 + beta*C_old. C is always read,
// so beta 0 keeps a NaN or infinity of C as NaN.
//
// Register block: 4 rows x 2 columns in eight 4-lane accumulators running
// along the depth. Lane l sums the products of the steps k = l (mod 4) in
// increasing k with a rounded multiply and a rounded add (no fused
// multiply-add); each element is then ((l0 + l1) + l2) + l3. Every eight
// depth steps the next 64 bytes of the four A rows and two B columns are
// prefetched, every eight columns the next line of the four C rows.
//
// Preconditions (not checked): the readable extents above, an AVX processor.
// Reentrant; calls writing disjoint parts of C may run concurrently. A
// negative M, N or K writes nothing.
#include <immintrin.h>

#include <cstddef>

#include "Tavrel_8x4.h"
#include "block8x4.h"
#include "lanes4.h"

namespace {

using std::ptrdiff_t;
using tavrel8x4::AddProduct;
using tavrel8x4::InRegister;
using tavrel8x4::Prefetch;

double SumLanes(__m256d v) {
    alignas(32) double lane[4];
    _mm256_store_pd(lane, v);
    return ((lane[0] + lane[1]) + lane[2]) + lane[3];
}

struct Block4x2 {
    __m256d acc[4][2];  // acc[r][c]: row r, column c, lane l = depth steps k = l (mod 4)
};

// Four depth steps k..k+3 of the block whose first A row is at a and first B
// column at b.
inline __attribute__((always_inline)) void Step4(Block4x2& block, const double* a, ptrdiff_t lda,
                                                 const double* b, ptrdiff_t ldb, int k) {
    const __m256d b0 = _mm256_loadu_pd(b + k);
    const __m256d b1 = _mm256_loadu_pd(b + ldb + k);
    for (int r = 0; r < 4; ++r) {
        const __m256d ar = InRegister(_mm256_loadu_pd(a + r * lda + k));
        block.acc[r][0] = AddProduct(block.acc[r][0], ar, b0);
        block.acc[r][1] = AddProduct(block.acc[r][1], ar, b1);
    }
}

// The 4x2 block at a (A), b (B) and c (C(0,0)): depth K4, eight steps per
// pass with the next 64 bytes of every A row and B column prefetched.
void Block(const double* a, ptrdiff_t lda, const double* b, ptrdiff_t ldb, int K4, double* c,
           ptrdiff_t ldc, double alpha, double beta) {
    Block4x2 block;
    for (auto& row : block.acc) row[0] = row[1] = _mm256_setzero_pd();
    for (int k = 0; k < K4; k += 8) {
        for (int r = 0; r < 4; ++r) Prefetch(a, r * lda + k + 8);
        Prefetch(b, k + 8);
        Prefetch(b, ldb + k + 8);
        Step4(block, a, lda, b, ldb, k);
        if (k + 4 < K4) Step4(block, a, lda, b, ldb, k + 4);
    }
    for (int j = 0; j < 2; ++j) {
        for (int r = 0; r < 4; ++r) {
            double& out = c[r * ldc + j];
            out = alpha * SumLanes(block.acc[r][j]) + beta * out;
        }
    }
}

}  // namespace

void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda, double* B,
                           int ldb, double beta, double* C, int ldc) {
    if (M < 0 || N < 0 || K < 0) return;
    const int M4 = M - M % 4;
    const int N2 = N - N % 2;
    const int K4 = K - K % 4;
    for (int i0 = 0; i0 < M4; i0 += 4) {
        const double* a = A + static_cast<ptrdiff_t>(i0) * lda;
        double* c = C + static_cast<ptrdiff_t>(i0) * ldc;
        for (int j0 = 0; j0 < N2; j0 += 2) {
            if (j0 % 8 == 0) {
                for (int r = 0; r < 4; ++r) Prefetch(c, static_cast<ptrdiff_t>(r) * ldc + j0 + 8);
            }
            Block(a, lda, B + static_cast<ptrdiff_t>(j0) * ldb, ldb, K4, c + j0, ldc, alpha, beta);
        }
    }
}
