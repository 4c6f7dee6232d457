// Tavrel: the SSE2 4x4xK block kernel and the library's small exports.
// All sizes and strides count doubles; C++ linkage (mangled exports).
#pragma once

#define TAVREL_API __attribute__((visibility("default")))

// C(i, j) += sum over k < K of A(i, k) * B(k, j) for i < M - m_rest,
// j < N - n_rest. A(i, k) = a[i*lda + k]; B from the packed panel bb (groups of
// four columns, 4*K doubles per group); C(i, j) = c[i*N + j]. c_strip holds
// 4*(M - m_rest) doubles, aa 2*(M - m_rest)*K doubles; bb, c_strip and aa are
// 16-byte aligned, K is even, 0 <= m_rest <= M, 0 <= n_rest <= N and
// M - m_rest, N - n_rest are multiples of 4, and no pointer is null. A call
// that breaks these rules returns without touching any memory.
TAVREL_API void MultBlock_4x4xK_2(int lda, int K, int M, int N, int m_rest, int n_rest, double* a,
                                  double* bb, double* c, double* c_strip, double* aa);

// The small exports do no work. CTavrel holds nothing: constructing one and
// assigning to one write no memory, and assignment returns its left side.
class TAVREL_API CTavrel {
public:
    CTavrel();
    CTavrel& operator=(const CTavrel&);
};

// Returns 42 at every call and changes nothing.
TAVREL_API int fnTavrel();
// 0, and no export of the library changes it.
extern TAVREL_API int nTavrel;
