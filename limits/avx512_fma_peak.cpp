// The 512-bit fused multiply-add loop, built with -mavx512f: with
// fma_peak.cpp the only place of the project that fuses.
#include <immintrin.h>

#include "peak_loop_body.h"

double RunAvx512FmaLoop(std::int64_t iterations) {
    return RunPeakLoopBody<__m512d, kAvx512FmaPeakAccumulators>(
        iterations, [](__m512d acc, __m512d x, __m512d y) { return _mm512_fmadd_pd(x, y, acc); });
}
