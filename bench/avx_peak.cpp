// Compiled with -mavx -ffp-contract=off: the multiply and the add stay two
// instructions, as in the kernels of Tavrel_8x4.
#include "avx_peak.h"

#include <immintrin.h>

double RunAvxMulAddLoop(std::int64_t iterations) {
    constexpr int kAccumulators = 12;
    __m256d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm256_set1_pd(i);
    const __m256d x = _mm256_set1_pd(1e-9);
    __m256d y = _mm256_set1_pd(0.5);
    for (std::int64_t n = 0; n < iterations; ++n) {
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm256_add_pd(acc[i], _mm256_mul_pd(x, y));
            // y passes through an empty asm: no instruction, but the compiler
            // can neither hoist nor merge the twelve multiplies.
            __asm__("" : "+x"(y));
        }
    }
    __m256d sum = _mm256_setzero_pd();
    for (const __m256d a : acc) sum = _mm256_add_pd(sum, a);
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, sum);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}
