// Method 4 at n 1936 (the default order) with 1 and 2 threads on its SSE2 path
// (level 0, libTavrel) and its AVX path (level 2, libTavrel_8x4), next to
// OpenBLAS dgemm at the same order and thread count. Counter GFLOPS: 2*n^3
// per iteration.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "Tavrel_8x4.h"
#include "methods/methods.h"
#include "processor_info.h"

namespace {
constexpr int kOrder = 1936;
constexpr int kBlock = 176;

void SetFlops(benchmark::State& state, int n) {
    const double gflop = 2e-9 * n * static_cast<double>(n) * n;
    state.counters["GFLOPS"] = benchmark::Counter(gflop, benchmark::Counter::kIsIterationInvariantRate);
}

// The prepared matrices of the run: A(r, c) = sqrt((r+1)(c+1)), B = 2A, with
// B one element further on for the SSE2 path.
struct Operands {
    Operands(int n, int level) : a(Size(n), 0.0), b(Size(n), 0.0), c(Size(n), 0.0) {
        double* b_first = level == kIsaSse2 ? b.data() + 1 : b.data();
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) * n; ++i) {
            const std::size_t r = i / n, col = i % n;
            a[i] = std::sqrt(static_cast<double>((r + 1) * (col + 1)));
            b_first[i] = 2 * a[i];
        }
    }
    static std::size_t Size(int n) { return static_cast<std::size_t>(n) * n + 2; }
    std::vector<double> a, b, c;
};

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
    for (auto _ : state) {
        MultVectorPack(kOrder, kBlock, threads, 0, m.a.data(), m.b.data(), m.c.data(), &level);
        benchmark::DoNotOptimize(m.c.data());
        benchmark::ClobberMemory();
    }
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
    for (auto _ : state) {
        cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, kOrder, kOrder, kOrder, 1.0,
                    m.a.data(), kOrder, m.b.data(), kOrder, 1.0, m.c.data(), kOrder);
        benchmark::DoNotOptimize(m.c.data());
        benchmark::ClobberMemory();
    }
    SetFlops(state, kOrder);
}
BENCHMARK(BM_OpenBlasDgemm)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace

BENCHMARK_MAIN();
