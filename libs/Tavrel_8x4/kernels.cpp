// The packed kernels' exports (contracts in Tavrel_8x4.h):
// tavrel_AVX_8x4x16_Packed, the 13-argument tavrel_AVX_8x4x16_AMD (the two
// of them), and tavrel_AVX_8x4x32_AMD and tavrel_AVX_8x4_K1, whose sums are
// written as they are (alpha 1, beta 0, vector rule). All run in the form in
// force (kernel_forms.h).
#include <cstddef>

#include "Tavrel_8x4.h"
#include "kernel_forms.h"

using std::ptrdiff_t;

void tavrel_AVX_8x4x16_Packed(int M, int N, int K, double alpha, double* AA, double beta, double* C,
                              int ldc, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    tavrel8x4::CurrentForm()({M, N, K, AA, BB, ptrdiff_t{4} * K, false, C, ldc, alpha, beta});
}

void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda, double*, int,
                           double beta, double* C, int ldc, double* AA, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    Pack_AA_AMD(M, K, A, lda, AA);
    tavrel_AVX_8x4x16_Packed(M, N, K, alpha, AA, beta, C, ldc, BB);
}

// The 8-row blocks of A (leading dimension M) and the whole panels of BB.
void tavrel_AVX_8x4x32_AMD(int M, int N, int K, double, double* A, int, double*, int, double,
                           double* C, int, double* AA, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    const int M8 = M - M % 8;
    Pack_AA_AMD(M8, K, A, M, AA);
    tavrel8x4::CurrentForm()({M8, N - N % 4, K, AA, BB, ptrdiff_t{4} * K, false, C, M, 1.0, 0.0});
}

// C transposed: C(i,j) at C[i*n + j] is C^T(j,i) of a column-major C^T with
// leading dimension n, and C^T = B^T A^T. B^T(j,k) = B[j + k*n] packs into
// Bpack as a packed A of 8-row blocks; A^T(k,i) is read from Apack's
// broadcast format as a B of 4-column groups at 16*K apart, its columns 4
// doubles apart and its k-steps 16.
void tavrel_AVX_8x4_K1(int, int n, int K, double* B, double*, double* C, double* Bpack,
                       double* Apack) {
    if (n < 0 || K < 0) return;
    const int nrow = n - n % 4, ncol = n - n % 8;
    Pack_AA_AMD(ncol, K, B, n, Bpack);
    tavrel8x4::CurrentForm()(
        {ncol, nrow, K, Bpack, Apack, ptrdiff_t{16} * K, true, C, n, 1.0, 0.0});
}
