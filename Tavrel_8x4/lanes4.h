// Lane-wise arithmetic on 4-wide AVX vectors of doubles, shared by the
// kernels whose depth step multiplies two vectors lane by lane (no broadcast).
#pragma once

#include <immintrin.h>

namespace tavrel8x4 {

// acc + x*y with a rounded multiply followed by a rounded add (never fused).
inline __attribute__((always_inline)) __m256d AddProduct(__m256d acc, __m256d x, __m256d y) {
    return _mm256_add_pd(acc, _mm256_mul_pd(x, y));
}

// v, held in a register: a vector loaded through this is loaded once, where
// the compiler would otherwise fold a load into every product that uses it.
inline __attribute__((always_inline)) __m256d InRegister(__m256d v) {
    __asm__("" : "+x"(v));
    return v;
}

}  // namespace tavrel8x4
