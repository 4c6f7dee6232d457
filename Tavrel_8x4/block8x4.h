// The 8x4 register block shared by the AVX kernels of Tavrel_8x4: its
// accumulators, one k-step of its arithmetic and its vector write-back.
//
// An 8x4 block of C is eight 4-wide vectors, acc[c][h] = rows 4h..4h+3 of
// column c. One k-step reads 8 packed A values (two aligned vectors) and 4
// packed B values (four broadcasts) and adds each product with a separate,
// rounded multiply and add (no fused multiply-add), so every accumulator sums
// its products in increasing k from zero.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefetch.h"

namespace tavrel8x4 {

struct Block8x4 {
    __m256d acc[4][2];
};

inline __attribute__((always_inline)) void ZeroBlock(Block8x4& block) {
    for (auto& column : block.acc) {
        column[0] = _mm256_setzero_pd();
        column[1] = _mm256_setzero_pd();
    }
}

// acc[c] += b[c] * a for rows 0..7: a is 32-byte aligned (8 values of one k),
// b holds the 4 values of the same k.
inline __attribute__((always_inline)) void KStep8x4(Block8x4& block, const double* a,
                                                    const double* b) {
    const __m256d a0 = _mm256_load_pd(a);
    const __m256d a1 = _mm256_load_pd(a + 4);
    for (int c = 0; c < 4; ++c) {
        const __m256d bc = _mm256_broadcast_sd(b + c);
        block.acc[c][0] = _mm256_add_pd(block.acc[c][0], _mm256_mul_pd(bc, a0));
        block.acc[c][1] = _mm256_add_pd(block.acc[c][1], _mm256_mul_pd(bc, a1));
    }
    // Ends the k-step (no instruction): its sums are complete and the next
    // step's loads come after them. Without this the compiler hoists the
    // loads of a whole pass, sinks the arithmetic and spills accumulators.
    __asm__ volatile(""
                     : "+x"(block.acc[0][0]), "+x"(block.acc[0][1]), "+x"(block.acc[1][0]),
                       "+x"(block.acc[1][1]), "+x"(block.acc[2][0]), "+x"(block.acc[2][1]),
                       "+x"(block.acc[3][0]), "+x"(block.acc[3][1])
                     :
                     : "memory");
}

// Vector write-back of four rows at c (no alignment needed): V = alpha*acc;
// with beta equal to 0.0 (either sign) C is not read and V is stored;
// otherwise (also for a NaN beta) beta*C_old + V is stored.
inline __attribute__((always_inline)) void WriteVectorRule(double* c, __m256d acc, __m256d alpha,
                                                           __m256d beta, bool beta_is_zero) {
    const __m256d v = _mm256_mul_pd(alpha, acc);
    if (beta_is_zero) {
        _mm256_storeu_pd(c, v);
    } else {
        _mm256_storeu_pd(c, _mm256_add_pd(_mm256_mul_pd(beta, _mm256_loadu_pd(c)), v));
    }
}

// Vector write-back of a whole 8x4 block at c with leading dimension ldc.
inline __attribute__((always_inline)) void WriteBlock8x4(const Block8x4& block, double* c,
                                                         std::ptrdiff_t ldc, double alpha,
                                                         double beta) {
    const __m256d va = _mm256_set1_pd(alpha);
    const __m256d vb = _mm256_set1_pd(beta);
    const bool beta_is_zero = beta == 0.0;
    for (int j = 0; j < 4; ++j) {
        WriteVectorRule(c + j * ldc, block.acc[j][0], va, vb, beta_is_zero);
        WriteVectorRule(c + j * ldc + 4, block.acc[j][1], va, vb, beta_is_zero);
    }
}

// Copies 8 doubles between 32-byte aligned places (one packed 8-value piece).
inline __attribute__((always_inline)) void CopyAligned8(const double* from, double* to) {
    _mm256_store_pd(to, _mm256_load_pd(from));
    _mm256_store_pd(to + 4, _mm256_load_pd(from + 4));
}

}  // namespace tavrel8x4
