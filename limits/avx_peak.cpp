// Built with -mavx only: 256-bit multiply and add as two instructions, as in
// the AVX kernels of Tavrel_8x4.
#include <immintrin.h>

#include "peak_loop_body.h"

double RunAvxMulAddLoop(std::int64_t iterations) {
    return RunPeakLoopBody<__m256d, kAvxPeakAccumulators>(iterations, MulAdd<__m256d>);
}
