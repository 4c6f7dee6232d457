// The fused multiply-add loops, the one place of the project that fuses:
// built with -mavx -mfma, the 512-bit loop compiled for AVX-512F on its own.
// They show what the kernels leave aside by rounding after each multiply.
#include <immintrin.h>

#include "peak_loops.h"

double RunAvxFmaLoop(std::int64_t iterations) {
    constexpr int kAccumulators = kAvxFmaPeakAccumulators;
    __m256d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm256_set1_pd(i);
    const __m256d x = _mm256_set1_pd(kPeakLoopFactor);
    __m256d y = _mm256_set1_pd(kPeakLoopFactor);
    for (std::int64_t n = 0; n < iterations; ++n) {
#pragma GCC unroll 32
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm256_fmadd_pd(x, y, acc[i]);
            __asm__("" : "+x"(y));  // keeps the products apart (see sse2_peak.cpp)
        }
    }
    __m256d sum = _mm256_setzero_pd();
    for (const __m256d a : acc) sum = _mm256_add_pd(sum, a);
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, sum);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

__attribute__((target("avx512f"))) double RunAvx512FmaLoop(std::int64_t iterations) {
    constexpr int kAccumulators = kAvx512FmaPeakAccumulators;
    __m512d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm512_set1_pd(i);
    const __m512d x = _mm512_set1_pd(kPeakLoopFactor);
    __m512d y = _mm512_set1_pd(kPeakLoopFactor);
    for (std::int64_t n = 0; n < iterations; ++n) {
#pragma GCC unroll 32
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm512_fmadd_pd(x, y, acc[i]);
            __asm__("" : "+v"(y));  // keeps the products apart (see sse2_peak.cpp)
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
