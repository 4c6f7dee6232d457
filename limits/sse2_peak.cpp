// Baseline x86-64 (SSE2): 128-bit multiply and add as two instructions, as in
// the kernel of libTavrel.
#include <emmintrin.h>

#include "peak_loop_body.h"

double RunSse2MulAddLoop(std::int64_t iterations) {
    return RunPeakLoopBody<__m128d, kSse2PeakAccumulators>(iterations, MulAdd<__m128d>);
}
