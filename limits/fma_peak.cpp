// The 256-bit fused multiply-add loop, built with -mavx -mfma: with
// avx512_fma_peak.cpp the only place of the project that fuses. It shows what
// the kernels leave aside by rounding after each multiply.
#include <immintrin.h>

#include "peak_loop_body.h"

double RunAvxFmaLoop(std::int64_t iterations) {
    return RunPeakLoopBody<__m256d, kAvxFmaPeakAccumulators>(
        iterations, [](__m256d acc, __m256d x, __m256d y) { return _mm256_fmadd_pd(x, y, acc); });
}
