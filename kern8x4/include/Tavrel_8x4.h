// Tavrel_8x4: AVX register kernels that update 8x4 blocks of C, the B-panel
// packing routines and the process-wide per-thread AA/BB scratch slots.
//
// All sizes, strides and offsets count doubles. The 32-bit integer parameters
// are int. The names keep C++ linkage, so the exported symbols carry their
// parameter lists and overloads are distinct exports.
#pragma once

#define TAVREL_8X4_API __attribute__((visibility("default")))

// --- Slot state -------------------------------------------------------------
// Init allocates `slots` AA slots of n*aa_extent doubles and `slots` BB slots
// of n*bb_extent doubles, each 32-byte aligned and reading as zeros.
// Returns 1 on success, 0 on an allocation failure.
TAVREL_8X4_API int TAVREL_AVX_8X4_Init(int n, int bb_extent, int aa_extent, int slots);
TAVREL_8X4_API void TAVREL_AVX_8X4_Free();
TAVREL_8X4_API double** TAVREL_AVX_8X4_GET_AA();
TAVREL_8X4_API double** TAVREL_AVX_8X4_GET_BB();
TAVREL_8X4_API double* TAVREL_AVX_8X4_GET_CC();
// 1 when every |c[i] - CC[i]| / max|c| is at most 1e-9 over rows*cols values.
TAVREL_8X4_API int TAVREL_AVX_8X4_CompCwithCC(double* c, int cols, int rows);
// 1 when the processor has AVX and the operating system saves its registers.
TAVREL_8X4_API int isAVXenable();
TAVREL_8X4_API void pusto();

// --- B-panel packing --------------------------------------------------------
// BB panel of N columns, depth K, into BB slot `slot`:
//   full block b (columns 4b..4b+3): B(k, 4b+c) at 4*K*b + 4*k + c
//   tail (columns N4..N-1, d = N % 4): B(k, N4+c) at K*N4 + d*k + c
// Pack_BBTRANSP_AMD reads B(k, j) = src[j*step + k]; Pack_BB_AMD reads
// B(k, j) = src[k*ld + j].
TAVREL_8X4_API void Pack_BBTRANSP_AMD(int N, int K, int step, int slot, double* src);
TAVREL_8X4_API void Pack_BB_AMD(int N, int K, int ld, int slot, double* src);
// Broadcast format of S(k, i) = src[k*M + i] into dst (32-byte aligned).
TAVREL_8X4_API void Pack_BB(int M, int K, double* src, double* dst);

// --- Kernels ----------------------------------------------------------------
// C := alpha*A*B + beta*C, column-major A (lda) and C (ldc); B is read from the
// packed panel BB; A is packed into AA (M*K doubles, 32-byte aligned).
TAVREL_8X4_API void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda,
                                          double* B, int ldb, double beta, double* C, int ldc,
                                          double* AA, double* BB);
