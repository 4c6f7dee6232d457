// The one body of every peak loop, compiled in each width's own file with
// only the flags that width needs (so it stays internal to that file).
// `Vector` is a vector of doubles (__m128d, __m256d, __m512d); `step`
// updates one accumulator with x * y: a multiply and an add, or a fused
// multiply-add.
#pragma once

#include <cstdint>

#include "peak_loops.h"

namespace {
// Inlined into each exported loop, so that its instructions are that
// function's own (the tests read them there).
template <typename Vector, int kAccumulators, typename Step>
inline __attribute__((always_inline)) double RunPeakLoopBody(std::int64_t iterations, Step step) {
    constexpr int kLanes = sizeof(Vector) / sizeof(double);
    Vector acc[kAccumulators];
    for (int i = 0; i < kAccumulators; ++i) acc[i] = Vector{} + static_cast<double>(i);
    const Vector x = Vector{} + kPeakLoopFactor;
    Vector y = x;
    for (std::int64_t n = 0; n < iterations; ++n) {
        // Unrolled whole, so that every accumulator stays in a register.
#pragma GCC unroll 32
        for (int i = 0; i < kAccumulators; ++i) {
            acc[i] = step(acc[i], x, y);
            // y passes through an empty asm: no instruction, but the compiler
            // can neither hoist the products out of the loop nor merge them.
            if constexpr (kLanes == 8) {
                __asm__("" : "+v"(y));
            } else {
                __asm__("" : "+x"(y));
            }
        }
    }
    Vector sum{};
    for (const Vector& a : acc) sum += a;
    double total = 0.0;
    for (int lane = 0; lane < kLanes; ++lane) total += sum[lane];
    return total;
}

// The multiply and the add as two instructions, each rounded (the file is
// built with -ffp-contract=off).
template <typename Vector>
inline __attribute__((always_inline)) Vector MulAdd(Vector acc, Vector x, Vector y) {
    return acc + x * y;
}
}  // namespace
