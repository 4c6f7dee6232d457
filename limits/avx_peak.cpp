// Built with -mavx only: 256-bit multiply and add as two instructions, as in
// the AVX kernels of Tavrel_8x4.
#include <immintrin.h>

#include "peak_loops.h"

double RunAvxMulAddLoop(std::int64_t iterations) {
    constexpr int kAccumulators = kAvxPeakAccumulators;
    __m256d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm256_set1_pd(i);
    const __m256d x = _mm256_set1_pd(kPeakLoopFactor);
    __m256d y = _mm256_set1_pd(kPeakLoopFactor);
    for (std::int64_t n = 0; n < iterations; ++n) {
#pragma GCC unroll 32
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm256_add_pd(acc[i], _mm256_mul_pd(x, y));
            __asm__("" : "+x"(y));  // keeps the multiplies apart (see sse2_peak.cpp)
        }
    }
    __m256d sum = _mm256_setzero_pd();
    for (const __m256d a : acc) sum = _mm256_add_pd(sum, a);
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, sum);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}
