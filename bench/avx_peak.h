// The peak of 256-bit double-precision arithmetic with separate multiply and
// add on one core, measured by a loop of independent accumulators.
#pragma once

#include <cstdint>

// Runs `iterations` passes of 12 independent acc += x * y updates on 4-wide
// vectors (one multiply and one add each, 96 flops per pass) and returns a
// sum of the accumulators so the work cannot be dropped. Needs AVX.
double RunAvxMulAddLoop(std::int64_t iterations);

constexpr double kAvxPeakFlopsPerIteration = 12 * 4 * 2;

// The same with 24 accumulators of 8-wide vectors (384 flops per pass).
// Needs AVX-512F.
double RunAvx512MulAddLoop(std::int64_t iterations);
constexpr double kAvx512PeakFlopsPerIteration = 24 * 8 * 2;

// The same with 12 accumulators of 2-wide SSE2 vectors (48 flops per pass).
double RunSse2MulAddLoop(std::int64_t iterations);
constexpr double kSse2PeakFlopsPerIteration = 12 * 2 * 2;
