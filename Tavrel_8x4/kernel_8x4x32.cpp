// tavrel_AVX_8x4x32_AMD: C := A*B over whole 8x4 blocks of dense operands,
// 32 depth steps per pass of the main loop.
//
// Operands (counts in doubles; alpha, lda, B, ldb, beta and ldc are accepted
// and not read): M is the leading dimension of both A and C.
//   A(i,k) at A[i + k*M], read only, 32-byte aligned;
//   C(i,j) at C[i + j*M], written, never read, 32-byte aligned;
//   BB: packed B, whole panels only: B(k, j0+c) at BB[K*j0 + 4*k + c];
//   AA: scratch of M8*K doubles, 32-byte aligned, overwritten with the
//     8-row blocks of A: A(8b+i, k) at AA[8*K*b + 8*k + i].
// With M8 = M - M%8 and N4 = N - N%4, C(i,j) for i < M8 and j < N4 becomes the
// sum of A(i,k)*B(k,j) in increasing k from zero, a rounded multiply and a
// rounded add per product (no fused multiply-add), without scaling; K 0
// gives 0.0. Rows M8.. and columns N4.. of C are not written; M < 8 leaves AA
// untouched too.
//
// Register block and k-step: those of the 13-argument kernel (block8x4.h).
// The main loop runs 32 k-steps per pass, prefetching the A line of the next
// step before each step and the B line two steps ahead before every even
// step; the K%32 remaining steps follow singly.
//
// Preconditions (not checked): M a multiple of 4 and A, C, AA 32-byte
// aligned (aligned accesses), the extents above, an AVX processor.
// Reentrant with an AA and a part of C of its own per call. A negative M, N
// or K writes nothing.
#include <immintrin.h>

#include <cstddef>

#include "Tavrel_8x4.h"
#include "block8x4.h"

namespace {

using std::ptrdiff_t;
using tavrel8x4::CopyAligned8;
using tavrel8x4::Prefetch;

// Packs the 8-row blocks of A, two depth steps at a time.
void PackA(ptrdiff_t M, int M8, int K, const double* A, double* AA) {
    double* out = AA;
    for (int i0 = 0; i0 < M8; i0 += 8) {
        const double* a = A + i0;
        int k = 0;
        for (; k + 2 <= K; k += 2, out += 16) {
            CopyAligned8(a + k * M, out);
            CopyAligned8(a + (k + 1) * M, out + 8);
        }
        if (k < K) {
            CopyAligned8(a + k * M, out);
            out += 8;
        }
    }
}

// The 8x4 block whose packed A is at a and packed panel at b, stored at c.
void Block(const double* a, const double* b, int K, double* c, ptrdiff_t ldc) {
    tavrel8x4::Block8x4 block;
    tavrel8x4::ZeroBlock(block);
    const int K32 = K - K % 32;
    int k = 0;
    for (; k < K32; k += 32, a += 256, b += 128) {
#pragma GCC unroll 32
        for (int t = 0; t < 32; ++t) {
            Prefetch(a, 8 * (t + 1));
            if (t % 2 == 0) Prefetch(b, 4 * t + 8);
            tavrel8x4::KStep8x4(block, a + 8 * t, b + 4 * t);
        }
    }
    for (; k < K; ++k, a += 8, b += 4) {
        Prefetch(a, 8);
        tavrel8x4::KStep8x4(block, a, b);
    }
    for (int j = 0; j < 4; ++j) {
        _mm256_store_pd(c + j * ldc, block.acc[j][0]);
        _mm256_store_pd(c + j * ldc + 4, block.acc[j][1]);
    }
}

}  // namespace

void tavrel_AVX_8x4x32_AMD(int M, int N, int K, double, double* A, int, double*, int, double,
                           double* C, int, double* AA, double* BB) {
    if (M < 0 || N < 0 || K < 0) return;
    const int M8 = M - M % 8;
    const int N4 = N - N % 4;
    PackA(M, M8, K, A, AA);
    for (int j0 = 0; j0 < N4; j0 += 4) {
        const double* b = BB + static_cast<ptrdiff_t>(K) * j0;
        double* c = C + static_cast<ptrdiff_t>(j0) * M;
        for (int i0 = 0; i0 < M8; i0 += 8) {
            Block(AA + static_cast<ptrdiff_t>(K) * i0, b, K, c + i0, M);
        }
    }
}
