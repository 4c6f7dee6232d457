// Method 4 at n 1936 (the default order) with 1 and 2 threads on its SSE2 path
// (level 0, libTavrel) and its AVX path (level 2, libTavrel_8x4), next to
// OpenBLAS dgemm at the same order and thread count. Counter GFLOPS: 2*n^3
// per iteration. Then the same in alternating pairs (paired_share.h): the
// AVX path against OpenBLAS on the same matrices, and the SSE2 path against
// the 128-bit multiply + add peak loop.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "Tavrel_8x4.h"
#include "matrices.h"
#include "methods.h"
#include "paired_share.h"
#include "peak_loops.h"
#include "processor_info.h"
#include "run_parameters.h"

namespace {
constexpr int kOrder = 1936;
constexpr int kBlock = 176;

void SetFlops(benchmark::State& state, int n) {
    const double gflop = 2e-9 * n * static_cast<double>(n) * n;
    state.counters["GFLOPS"] =
        benchmark::Counter(gflop, benchmark::Counter::kIsIterationInvariantRate);
}

// The matrices of a method 4 run at `level`, prepared by the run's own
// preparation, which lays B out for that level.
struct Operands {
    Operands(int n, std::int32_t level) : a(Size(n), 0.0), b(Size(n), 0.0), c(Size(n), 0.0) {
        PrepareMatrices(kMethodVectorPack, n, a.data(), b.data(), level);
    }
    static std::size_t Size(int n) { return static_cast<std::size_t>(n) * n + 2; }
    std::vector<double> a, b, c;
};

// One product of method 4 and one of OpenBLAS dgemm on the same operands.
void RunMethod4(Operands& m, int threads, std::int32_t level) {
    MultVectorPack(kOrder, kBlock, threads, 0, m.a.data(), m.b.data(), m.c.data(), level);
    benchmark::DoNotOptimize(m.c.data());
    benchmark::ClobberMemory();
}

void RunOpenBlas(Operands& m) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, kOrder, kOrder, kOrder, 1.0, m.a.data(),
                kOrder, m.b.data(), kOrder, 1.0, m.c.data(), kOrder);
    benchmark::DoNotOptimize(m.c.data());
    benchmark::ClobberMemory();
}

// Args: threads, IsaLevel. C keeps accumulating across iterations, which does
// not change the work.
void BM_VectorPack(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const std::int32_t level = static_cast<std::int32_t>(state.range(1));
    if (level != kIsaSse2 && isAVXenable() == 0) {
        state.SkipWithError("no AVX on this processor");
        return;
    }
    Operands m(kOrder, level);
    for (auto _ : state) RunMethod4(m, threads, level);
    SetFlops(state, kOrder);
}
BENCHMARK(BM_VectorPack)
    ->ArgNames({"threads", "isa"})
    ->Args({1, kIsaSse2})
    ->Args({2, kIsaSse2})
    ->Args({1, kIsaAvxFma3})
    ->Args({2, kIsaAvxFma3})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OpenBlasDgemm(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    openblas_set_num_threads(threads);
    state.SetLabel(openblas_get_corename());  // the kernel OpenBLAS chose
    Operands m(kOrder, kIsaAvxFma3);
    for (auto _ : state) RunOpenBlas(m);
    SetFlops(state, kOrder);
}
BENCHMARK(BM_OpenBlasDgemm)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

constexpr double kProductFlops = 2.0 * kOrder * static_cast<double>(kOrder) * kOrder;

// Arg: threads. One iteration is one product of each.
void BM_AvxPathShareOfOpenBlas(benchmark::State& state) {
    if (isAVXenable() == 0) return state.SkipWithError("no AVX on this processor");
    const int threads = static_cast<int>(state.range(0));
    openblas_set_num_threads(threads);
    state.SetLabel(openblas_get_corename());
    const std::int32_t level = kIsaAvxFma3;
    Operands m(kOrder, level);
    MeasurePairedShare(
        state,
        [&] {
            RunMethod4(m, threads, level);
            return kProductFlops;
        },
        [&] {
            RunOpenBlas(m);
            return kProductFlops;
        });
}
BENCHMARK(BM_AvxPathShareOfOpenBlas)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(7)
    ->Unit(benchmark::kSecond);

// One thread: one product, then about a quarter of its time of the peak loop.
void BM_Sse2PathShareOfPeak(benchmark::State& state) {
    const std::int32_t level = kIsaSse2;
    Operands m(kOrder, level);
    constexpr std::int64_t kPeakIterations = 50'000'000;
    MeasurePairedShare(
        state,
        [&] {
            RunMethod4(m, 1, level);
            return kProductFlops;
        },
        [&] {
            benchmark::DoNotOptimize(RunSse2MulAddLoop(kPeakIterations));
            return kSse2PeakFlopsPerIteration * double(kPeakIterations);
        });
}
BENCHMARK(BM_Sse2PathShareOfPeak)->Iterations(7)->Unit(benchmark::kSecond);
}  // namespace

BENCHMARK_MAIN();
