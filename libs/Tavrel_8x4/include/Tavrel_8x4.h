// Tavrel_8x4: AVX register kernels that update 8x4 blocks of C, the B-panel
// packing routines and the process-wide per-thread AA/BB scratch slots.
//
// All sizes, strides and offsets count doubles. The 32-bit integer parameters
// are int. The names keep C++ linkage, so the exported symbols carry their
// parameter lists and overloads are distinct exports. The packing routines
// and the kernels need AVX (see isAVXenable); the slot state runs anywhere.
#pragma once

#define TAVREL_8X4_API __attribute__((visibility("default")))

// --- Slot state -------------------------------------------------------------
// Init allocates `slots` AA slots of n*aa_extent doubles and `slots` BB slots
// of n*bb_extent doubles, each 32-byte aligned and reading as zeros, and
// returns 1. It first ends the slots of an earlier Init, as Free does. It
// returns 0, leaving no slots (GET_AA and GET_BB give null), when an
// allocation fails, when an argument is negative, when a product does not
// fit in an int, when slots exceeds 4096 or when the slots would not fit in
// the machine's physical memory (nothing is obtained then). slots 0 gives
// non-null tables with no slot. Free ends the slots and may be called at any
// time, also twice, but does not give their memory back: the library keeps
// it (at most 64 MiB in 16 pieces, of every slot size, resident) for the
// next Init, which clears and reuses the pieces of the sizes it needs and
// releases the rest before it obtains more, so that repeated Init/Free
// rounds touch warm memory. A failed Init keeps nothing. KeptBytes tells
// how much is kept; Release gives it all back to the system (the slots of a
// Ready library stay). GET_AA and GET_BB give the tables, indexed by slot,
// valid until the next Free or Init. Init, Free and Release must not run
// concurrently with anything else of the library; between them, calls on
// different slots (a thread packing into its BB slot, a kernel reading its
// AA and BB slots) may run concurrently.
// For kernel calls of up to M rows, N columns and depth K, Init(N, K, M, s):
// n is N, bb_extent is K (a BB slot holds the N x K panel) and aa_extent is
// M (an AA slot of N*M doubles holds the packed M x K A while K <= N).
TAVREL_8X4_API int TAVREL_AVX_8X4_Init(int n, int bb_extent, int aa_extent, int slots);
TAVREL_8X4_API void TAVREL_AVX_8X4_Free();
TAVREL_8X4_API long long TAVREL_AVX_8X4_KeptBytes();
TAVREL_8X4_API void TAVREL_AVX_8X4_Release();
TAVREL_8X4_API double** TAVREL_AVX_8X4_GET_AA();
TAVREL_8X4_API double** TAVREL_AVX_8X4_GET_BB();
TAVREL_8X4_API double* TAVREL_AVX_8X4_GET_CC();
// GET_CC gives the reference result, which the library never creates: null.
// CompCwithCC: 1 when every |c[i] - CC[i]| / max|c| is at most 1e-9 over
// rows*cols values; 0 otherwise, and 0 while there is no reference.
TAVREL_8X4_API int TAVREL_AVX_8X4_CompCwithCC(double* c, int cols, int rows);
// 1 when the processor has AVX and the operating system saves its registers.
TAVREL_8X4_API int isAVXenable();
TAVREL_8X4_API void pusto();

// --- B-panel packing --------------------------------------------------------
// BB panel of N columns, depth K, into BB slot `slot`:
//   full block b (columns 4b..4b+3): B(k, 4b+c) at 4*K*b + 4*k + c
//   tail (columns N4..N-1, d = N % 4): B(k, N4+c) at K*N4 + d*k + c
// Pack_BBTRANSP_AMD reads B(k, j) = src[j*step + k]; Pack_BB_AMD reads
// B(k, j) = src[k*ld + j]. Before Init, after Free or with a slot index
// outside 0 .. slots-1 they write nothing.
TAVREL_8X4_API void Pack_BBTRANSP_AMD(int N, int K, int step, int slot, double* src);
TAVREL_8X4_API void Pack_BB_AMD(int N, int K, int ld, int slot, double* src);
// Pack_BBTRANSP_Into writes the same panel as Pack_BBTRANSP_AMD into dst
// (32-byte aligned, N*K doubles) instead of a slot. A panel's columns
// j0..N-1 (j0 a multiple of 4) start at K*j0, so several calls may fill
// disjoint parts of one panel: columns c0..c1-1 at dst + K*c0, each part but
// the last a multiple of 4 columns wide. Needs no Init.
TAVREL_8X4_API void Pack_BBTRANSP_Into(int N, int K, int step, double* src, double* dst);
// Broadcast format of S(k, i) = src[k*M + i] into dst (32-byte aligned).
TAVREL_8X4_API void Pack_BB(int M, int K, double* src, double* dst);

// --- Kernels ----------------------------------------------------------------
// C := alpha*A*B + beta*C, column-major A (lda) and C (ldc); B is read from the
// packed panel BB (B and ldb are not read); A is packed into AA (M*K doubles,
// 32-byte aligned, overwritten). A and BB are only read. C is read where
// beta is not zero, and always in the last M % 4 rows and in the tail
// columns (N % 4) of the 4-row block (M % 8 >= 4): those are formed as
// beta*C + alpha*sum even for beta 0, so a NaN there stays NaN. Calls with
// their own AA and disjoint parts of C may run concurrently.
// Where the processor has AVX-512F and the operating system saves its
// registers, the library chooses at load 512-bit code for the same arithmetic
// (same bits); TAVREL_8X4_FORM=avx in the environment at load keeps the AVX
// form.
TAVREL_8X4_API void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda,
                                          double* B, int ldb, double beta, double* C, int ldc,
                                          double* AA, double* BB);
// The two halves of that kernel, for callers that share packed operands
// among calls (packing each piece of A and B once for all threads):
// Pack_AA_AMD packs A (M x K, A(i,k) at A[i + k*lda]) into AA (M*K doubles,
// 32-byte aligned) in the kernel's packed-A format:
//   8-row block b:          A(8b+i, k) at 8*K*b + 8*k + i
//   4-row block at M8:      A(M8+i, k) at K*M8 + 4*k + i      (when M % 8 >= 4)
//   r-row strip, r = M % 4: A(M-r+i, k) at K*(M-r) + r*k + i
// Rows i0..M-1 (i0 a multiple of 8) start at AA + K*i0 in the same format, so
// several calls may fill disjoint row ranges of one packed A (each range but
// the last a multiple of 8 rows). tavrel_AVX_8x4x16_Packed then does what the
// 13-argument kernel does after packing: C := alpha*A*B + beta*C from the
// packed A in AA and the panel in BB (both only read), with the same
// arithmetic, write-back rules and bits. Calls on disjoint parts of C may
// share AA and BB and run concurrently. Neither needs Init; M, N or K
// negative (Pack_AA_AMD: M or K not positive) writes nothing.
TAVREL_8X4_API void Pack_AA_AMD(int M, int K, double* A, int lda, double* AA);
TAVREL_8X4_API void tavrel_AVX_8x4x16_Packed(int M, int N, int K, double alpha, double* AA,
                                             double beta, double* C, int ldc, double* BB);
// The vector width in bits of the form that call runs: 512 or 256.
TAVREL_8X4_API int TAVREL_AVX_8X4_FormBits();
// Limits that form to at most `bits`: below 512 the AVX form runs, from 512
// on the form chosen at load. Returns the width then in force. Must not run
// while a kernel runs.
TAVREL_8X4_API int TAVREL_AVX_8X4_LimitFormBits(int bits);

// C := alpha*A*B + beta*C over whole 4x2 blocks, without packing: A(i,k) at
// A[i*lda + k], B(k,j) at B[j*ldb + k], C(i,j) at C[i*ldc + j] (row by row).
// Only rows below M - M%4, columns below N - N%2 and depth steps below
// K - K%4 take part; C is always read. Each element sums four depth lanes,
// reduced as ((l0 + l1) + l2) + l3.
TAVREL_8X4_API void tavrel_AVX_8x4x16_AMD(int M, int N, int K, double alpha, double* A, int lda,
                                          double* B, int ldb, double beta, double* C, int ldc);
// C = A*B for a square C of order n (row by row, C[i*n + j]) with B(k,j) at
// B[k*n + j]; Apack is A in Pack_BB's broadcast format (M = n); Bpack is
// scratch of (n - n%8)*K doubles. Writes rows below n - n%4 and columns below
// n - n%8 only. B, C, Bpack and Apack 32-byte aligned, n a multiple of 4. The
// 1st and 5th arguments are not read.
TAVREL_8X4_API void tavrel_AVX_8x4_K1(int, int n, int K, double* B, double*, double* C,
                                      double* Bpack, double* Apack);
// C = A*B over whole 8x4 blocks of dense column-major operands with leading
// dimension M (A(i,k) at A[i + k*M], C(i,j) at C[i + j*M]), B from the packed
// panel BB, A packed into AA (M8*K doubles, M8 = M - M%8). No scaling and C
// is not read; alpha, lda, B, ldb, beta and ldc are not read. M a multiple of
// 4; A, C and AA 32-byte aligned. Writes rows below M8 and columns below
// N - N%4 only.
TAVREL_8X4_API void tavrel_AVX_8x4x32_AMD(int M, int N, int K, double alpha, double* A, int lda,
                                          double* B, int ldb, double beta, double* C, int ldc,
                                          double* AA, double* BB);
// Every kernel writes nothing when a size is negative.
