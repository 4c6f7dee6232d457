// Built with -mavx512f only: 512-bit multiply and add as two instructions,
// as in the AVX-512 form of the Tavrel_8x4 kernel.
#include <immintrin.h>

#include "peak_loop_body.h"

double RunAvx512MulAddLoop(std::int64_t iterations) {
    return RunPeakLoopBody<__m512d, kAvx512PeakAccumulators>(iterations, MulAdd<__m512d>);
}
