// Built with -mavx512f only: 512-bit multiply and add as two instructions,
// as in the AVX-512 form of the Tavrel_8x4 kernel.
#include <immintrin.h>

#include "peak_loops.h"

double RunAvx512MulAddLoop(std::int64_t iterations) {
    constexpr int kAccumulators = kAvx512PeakAccumulators;
    __m512d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm512_set1_pd(i);
    const __m512d x = _mm512_set1_pd(kPeakLoopFactor);
    __m512d y = _mm512_set1_pd(kPeakLoopFactor);
    for (std::int64_t n = 0; n < iterations; ++n) {
#pragma GCC unroll 32
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm512_add_pd(acc[i], _mm512_mul_pd(x, y));
            __asm__("" : "+v"(y));  // keeps the multiplies apart (see sse2_peak.cpp)
        }
    }
    __m512d sum = _mm512_setzero_pd();
    for (const __m512d a : acc) sum = _mm512_add_pd(sum, a);
    alignas(64) double lanes[8];
    _mm512_store_pd(lanes, sum);
    double total = 0.0;
    for (const double lane : lanes) total += lane;
    return total;
}
