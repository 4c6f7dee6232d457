// Baseline x86-64 (SSE2): 128-bit multiply and add as two instructions, as in
// the kernel of libTavrel.
#include <emmintrin.h>

#include "peak_loops.h"

double RunSse2MulAddLoop(std::int64_t iterations) {
    constexpr int kAccumulators = kSse2PeakAccumulators;
    __m128d acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = _mm_set1_pd(i);
    const __m128d x = _mm_set1_pd(kPeakLoopFactor);
    __m128d y = _mm_set1_pd(kPeakLoopFactor);
    for (std::int64_t n = 0; n < iterations; ++n) {
        // Unrolled whole, so that every accumulator stays in a register.
#pragma GCC unroll 32
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = _mm_add_pd(acc[i], _mm_mul_pd(x, y));
            // y passes through an empty asm: no instruction, but the compiler
            // can neither hoist the multiplies out of the loop nor merge them.
            __asm__("" : "+x"(y));
        }
    }
    __m128d sum = _mm_setzero_pd();
    for (const __m128d a : acc) sum = _mm_add_pd(sum, a);
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, sum);
    return lanes[0] + lanes[1];
}
