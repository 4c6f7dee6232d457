// Baseline x86-64 (SSE2) with -ffp-contract=off: 128-bit multiply and add as
// two instructions, as in the kernel of libTavrel.
#include <emmintrin.h>

#include "avx_peak.h"

double RunSse2MulAddLoop(std::int64_t iterations) {
    constexpr int kAccumulators = 12;
    __m128d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm_set1_pd(i);
    const __m128d x = _mm_set1_pd(1e-9);
    __m128d y = _mm_set1_pd(0.5);
    for (std::int64_t n = 0; n < iterations; ++n) {
#pragma GCC unroll 24
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm_add_pd(acc[i], _mm_mul_pd(x, y));
            __asm__("" : "+x"(y));  // keeps the multiplies apart (see avx_peak.cpp)
        }
    }
    __m128d sum = _mm_setzero_pd();
    for (const __m128d a : acc) sum = _mm_add_pd(sum, a);
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, sum);
    return lanes[0] + lanes[1];
}
