// tavrel_AVX_8x4_K1: C = A*B for a square C of order n, overwriting whole
// 4x8 blocks.
//
// Operands (counts in doubles; the 1st and 5th arguments are not read):
//   B(k,j) at B[k*n + j], K rows of n values, read only;
//   C(i,j) at C[i*n + j], n x n, written, never read;
//   Apack: A in the broadcast format that Pack_BB(n, K, src, Apack) writes
//     for A(i,k) = src[k*n + i]; the vector of row i at depth k is
//     Apack[16*K*(i/4) + 16*k + 4*(i%4) .. +3] (all four lanes A(i,k)).
//     Only its full 4-row groups are read, 16*K*(nrow/4) doubles;
//   Bpack: scratch of ncol*K doubles, overwritten with B in 8-column panels:
//     Bpack[8*K*g + 8*k + c] = B(k, 8g + c).
// With nrow = n - n%4 and ncol = n - n%8, C(i,j) for i < nrow and j < ncol
// becomes the sum of A(i,k)*B(k,j) over k in increasing order from zero,
// with a rounded multiply and a rounded add (no fused multiply-add); K 0
// gives 0.0. Rows nrow.. and columns ncol.. are neither read nor written.
//
// Register block: 4 rows x 8 columns in eight 4-lane accumulators, one per
// row and half-row; per depth step two packed B vectors and four A vectors,
// the next depth step of the panel prefetched; four steps per pass, then the
// K%4 remaining steps singly.
//
// Preconditions (not checked): n a multiple of 4, B, C, Bpack and Apack
// 32-byte aligned (all accesses are aligned 32-byte loads and stores), the
// extents above, Bpack disjoint from the rest, an AVX processor. Reentrant
// with a Bpack and a part of C of its own per call. A negative n or K
// writes nothing.
#include <immintrin.h>

#include <cstddef>

#include "Tavrel_8x4.h"
#include "block8x4.h"
#include "lanes4.h"

namespace {

using std::ptrdiff_t;
using tavrel8x4::CopyAligned8;
using tavrel8x4::AddProduct;
using tavrel8x4::InRegister;

// Packs columns 0..ncol-1 of B into 8-column panels, two depth rows at a time.
void PackPanels(ptrdiff_t n, int K, int ncol, const double* B, double* Bpack) {
    for (int j0 = 0; j0 < ncol; j0 += 8) {
        double* out = Bpack + static_cast<ptrdiff_t>(K) * j0;
        int k = 0;
        for (; k + 2 <= K; k += 2, out += 16) {
            CopyAligned8(B + k * n + j0, out);
            CopyAligned8(B + (k + 1) * n + j0, out + 8);
        }
        if (k < K) CopyAligned8(B + k * n + j0, out);
    }
}

struct Block4x8 {
    __m256d acc[4][2];
};

// One depth step: a holds the 16 broadcast A values (four rows), b the 8
// packed B values of the step.
inline __attribute__((always_inline)) void KStep4x8(Block4x8& block, const double* a,
                                                    const double* b) {
    tavrel8x4::Prefetch(b, 8);
    const __m256d b0 = _mm256_load_pd(b);
    const __m256d b1 = _mm256_load_pd(b + 4);
    for (int r = 0; r < 4; ++r) {
        const __m256d ar = InRegister(_mm256_load_pd(a + 4 * r));
        block.acc[r][0] = AddProduct(block.acc[r][0], ar, b0);
        block.acc[r][1] = AddProduct(block.acc[r][1], ar, b1);
    }
    // Ends the depth step (no instruction), so that the compiler keeps the
    // steps apart instead of chaining one accumulator's adds across a pass.
    __asm__ volatile(""
                     : "+x"(block.acc[0][0]), "+x"(block.acc[0][1]), "+x"(block.acc[1][0]),
                       "+x"(block.acc[1][1]), "+x"(block.acc[2][0]), "+x"(block.acc[2][1]),
                       "+x"(block.acc[3][0]), "+x"(block.acc[3][1])
                     :
                     : "memory");
}

// The 4x8 block of one row group (packed A at a) and one panel (at b).
void Block(const double* a, const double* b, int K, double* c, ptrdiff_t n) {
    Block4x8 block;
    for (auto& row : block.acc) row[0] = row[1] = _mm256_setzero_pd();
    int k = 0;
    for (; k + 4 <= K; k += 4, a += 64, b += 32) {
        KStep4x8(block, a, b);
        KStep4x8(block, a + 16, b + 8);
        KStep4x8(block, a + 32, b + 16);
        KStep4x8(block, a + 48, b + 24);
    }
    for (; k < K; ++k, a += 16, b += 8) KStep4x8(block, a, b);
    for (int r = 0; r < 4; ++r) {
        _mm256_store_pd(c + r * n, block.acc[r][0]);
        _mm256_store_pd(c + r * n + 4, block.acc[r][1]);
    }
}

}  // namespace

void tavrel_AVX_8x4_K1(int, int n, int K, double* B, double*, double* C, double* Bpack,
                       double* Apack) {
    if (n < 0 || K < 0) return;
    const int nrow = n - n % 4;
    const int ncol = n - n % 8;
    PackPanels(n, K, ncol, B, Bpack);
    for (int i0 = 0; i0 < nrow; i0 += 4) {
        const double* a = Apack + 4 * static_cast<ptrdiff_t>(K) * i0;
        for (int j0 = 0; j0 < ncol; j0 += 8) {
            Block(a, Bpack + static_cast<ptrdiff_t>(K) * j0, K,
                  C + static_cast<ptrdiff_t>(i0) * n + j0, n);
        }
    }
}
