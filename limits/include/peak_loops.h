// Loops that reach the arithmetic peak of one core for each vector width:
// independent accumulators, each updated by x * y once per iteration. The
// updates of one accumulator wait for each other, so there are enough
// accumulators to cover the add's (or the fused multiply-add's) latency times
// the number of units that can start one per cycle, on every processor the
// program meets: no unit ever waits.
//
// The mul+add loops issue the multiply and the add as two instructions that
// each round, as every kernel of this project does; their peak is the ceiling
// of the bit-exact kernels. The FMA loops fuse the two into one instruction
// with one rounding, only to show what fusing would give.
#pragma once

#include <cstdint>
#include <vector>

// Every loop starts accumulator i at i in all its lanes, and each iteration
// adds kPeakLoopFactor * kPeakLoopFactor = 2^-20 to each accumulator. Both are
// powers of two, so after n iterations (n below 2^32) accumulator i holds
// i + n * 2^-20 exactly and so does the sum a loop returns.
constexpr double kPeakLoopFactor = 0x1p-10;

// Each function runs `iterations` iterations and returns the sum of all lanes
// of all its accumulators, so that the work cannot be dropped.

// 12 accumulators of 2 doubles (128-bit SSE2), mulpd + addpd: 48 flops per
// iteration. Runs on any x86-64 processor.
double RunSse2MulAddLoop(std::int64_t iterations);
constexpr int kSse2PeakAccumulators = 12;
constexpr double kSse2PeakFlopsPerIteration = kSse2PeakAccumulators * 2 * 2;

// 12 accumulators of 4 doubles (256-bit AVX), vmulpd + vaddpd: 96 flops per
// iteration. Needs AVX.
double RunAvxMulAddLoop(std::int64_t iterations);
constexpr int kAvxPeakAccumulators = 12;
constexpr double kAvxPeakFlopsPerIteration = kAvxPeakAccumulators * 4 * 2;

// 24 accumulators of 8 doubles (512-bit AVX-512F), vmulpd + vaddpd: 384
// flops per iteration. Needs AVX-512F.
double RunAvx512MulAddLoop(std::int64_t iterations);
constexpr int kAvx512PeakAccumulators = 24;
constexpr double kAvx512PeakFlopsPerIteration = kAvx512PeakAccumulators * 8 * 2;

// 12 accumulators of 4 doubles fused (256-bit FMA3), vfmadd231pd: 96 flops
// per iteration. Needs AVX and FMA3.
double RunAvxFmaLoop(std::int64_t iterations);
constexpr int kAvxFmaPeakAccumulators = 12;
constexpr double kAvxFmaPeakFlopsPerIteration = kAvxFmaPeakAccumulators * 4 * 2;

// 24 accumulators of 8 doubles fused (512-bit AVX-512F), vfmadd231pd: 384
// flops per iteration. Needs AVX-512F.
double RunAvx512FmaLoop(std::int64_t iterations);
constexpr int kAvx512FmaPeakAccumulators = 24;
constexpr double kAvx512FmaPeakFlopsPerIteration = kAvx512FmaPeakAccumulators * 8 * 2;

enum class PeakInstructions {
    kMulAdd,       // a multiply and an add, each rounded
    kFusedMulAdd,  // one fused multiply-add, rounded once
};

// One of the loops above and what it does.
struct PeakLoop {
    const char* name;          // "512-bit mul+add", "256-bit FMA", ...
    const char* function;      // "RunAvx512MulAddLoop"
    const char* instructions;  // "vmulpd + vaddpd"
    const char* needs;         // what the processor must run: "SSE2", "AVX", "AVX+FMA3", "AVX-512F"
    int vector_bits;           // 128, 256 or 512
    PeakInstructions kind;
    int accumulators;
    double flops_per_iteration;  // accumulators x doubles per vector x 2
    double (*run)(std::int64_t iterations);
};

// Doubles in one vector of the loop.
int PeakLoopLanes(const PeakLoop& loop);

// Every loop, narrowest first, the mul+add loop of a width before its FMA loop.
const std::vector<PeakLoop>& AllPeakLoops();

// Whether this processor and its operating system run the loop (the
// processor snapshot of core/processor_info.h).
bool RunsHere(const PeakLoop& loop);

// The loops of AllPeakLoops() that run here, in the same order.
std::vector<PeakLoop> PeakLoopsRunHere();

// The widest mul+add loop that runs here: the ceiling of the bit-exact
// kernels, which never fuse.
PeakLoop BitExactCeilingLoop();
