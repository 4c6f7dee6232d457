// The packed kernels' exports (contracts in Tavrel_8x4.h): Pack_AA_AMD,
// tavrel_AVX_8x4x16_Packed and the 13-argument tavrel_AVX_8x4x16_AMD (the
// two of them), in the form in force (kernel_forms.h).
#include <immintrin.h>

#include <cstddef>

#include "Tavrel_8x4.h"
#include "kernel_forms.h"
#include "kernel_tiles.h"

namespace {

using std::ptrdiff_t;
using tavrel8x4::Prefetch;

// The packed-A format: the 8-row blocks four k-steps at a time (with the
// A lines of the next four prefetched), then the 4-row block and the strip.
void PackA(int M, int K, const double* A, ptrdiff_t lda, double* out) {
    const int M8 = M - M % 8, K4 = K - K % 4;
    for (int i0 = 0; i0 < M8; i0 += 8) {
        const double* a = A + i0;
        for (int k = 0; k < K; ++k, out += 8) {
            for (int u = 4; k % 4 == 0 && k < K4 && u < 8; ++u) Prefetch(a, (k + u) * lda);
            _mm256_store_pd(out, _mm256_loadu_pd(a + k * lda));
            _mm256_store_pd(out + 4, _mm256_loadu_pd(a + k * lda + 4));
        }
    }
    const int tail_rows[2] = {M % 8 >= 4 ? 4 : 0, M % 4};
    int row = M8;
    for (const int rows : tail_rows) {
        for (int k = 0; k < K; ++k, out += rows) {
            for (int i = 0; i < rows; ++i) out[i] = A[row + i + k * lda];
        }
        row += rows;
    }
}

}  // namespace

void Pack_AA_AMD(int M, int K, double* A, int lda, double* AA) {
    if (M > 0 && K > 0) PackA(M, K, A, lda, AA);
}

void tavrel_AVX_8x4x16_Packed(int M, int N, int K, double alpha, double* AA, double beta, double* C,
                              int ldc, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    tavrel8x4::CurrentForm()({M, N, K, AA, BB, ptrdiff_t{4} * K, 4, 1, C, ldc, alpha, beta});
}

void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda, double*, int,
                           double beta, double* C, int ldc, double* AA, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    Pack_AA_AMD(M, K, A, lda, AA);
    tavrel_AVX_8x4x16_Packed(M, N, K, alpha, AA, beta, C, ldc, BB);
}
