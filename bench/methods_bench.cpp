// Methods 0 to 3 at the run's default order (n 1936, l_block 176) with 1 and
// 2 threads, on the matrices the run prepares. C is zeroed outside the timed
// part before every product (methods 1 to 3 add into it). The counter GFLOPS
// is 2*n^3 per product over wall-clock time.
#include <benchmark/benchmark.h>

#include <cstring>

#include "matrices.h"
#include "memory.h"
#include "method_table.h"
#include "run_parameters.h"

namespace {
constexpr std::int32_t kOrder = 1936;
constexpr std::int32_t kBlock = 176;

// The buffers of one run, prepared for `method`, and method 3's scratch rows.
class PreparedRun {
public:
    explicit PreparedRun(std::int32_t method) {
        const std::size_t count = static_cast<std::size_t>(kOrder) * kOrder + 2;
        a_ = AllocateArray<double>(count);
        b_ = AllocateArray<double>(count);
        c_ = AllocateArray<double>(count);
        std::memset(a_, 0, count * sizeof(double));
        std::memset(b_, 0, count * sizeof(double));
        std::int32_t isa_level = 0;
        PrepareMatrices(method, kOrder, a_, b_, isa_level);
        rows_ = AllocateArray<double*>(kBlock, alignof(double*));
        for (std::int32_t i = 0; i < kBlock; ++i) rows_[i] = AllocateArray<double>(kBlock + 1);
    }
    ~PreparedRun() {
        for (std::int32_t i = 0; i < kBlock; ++i) ReleaseAligned(rows_[i]);
        ReleaseAligned(rows_);
        ReleaseAligned(a_);
        ReleaseAligned(b_);
        ReleaseAligned(c_);
    }
    PreparedRun(const PreparedRun&) = delete;
    PreparedRun& operator=(const PreparedRun&) = delete;

    void ZeroC() {
        std::memset(c_, 0, (static_cast<std::size_t>(kOrder) * kOrder + 2) * sizeof(double));
    }

    void Multiply(std::int32_t method, std::int32_t threads) {
        const std::uint32_t chunk = static_cast<std::uint32_t>(kOrder / threads) < 100u
                                        ? static_cast<std::uint32_t>(kOrder / threads)
                                        : 100u;
        MethodOperands operands;
        operands.n = kOrder;
        operands.l_block = kBlock;
        operands.threads = threads;
        operands.chunk = chunk;
        operands.a = a_;
        operands.b = b_;
        operands.c = c_;
        operands.scratch_rows = rows_;
        FindMethod(method)->multiply(operands);
        benchmark::DoNotOptimize(c_);
        benchmark::ClobberMemory();
    }

private:
    double* a_ = nullptr;
    double* b_ = nullptr;
    double* c_ = nullptr;
    double** rows_ = nullptr;
};

void BM_Method(benchmark::State& state) {
    const auto method = static_cast<std::int32_t>(state.range(0));
    const auto threads = static_cast<std::int32_t>(state.range(1));
    PreparedRun run(method);
    for (auto _ : state) {
        state.PauseTiming();
        run.ZeroC();
        state.ResumeTiming();
        run.Multiply(method, threads);
    }
    const double operations = 2.0 * kOrder * kOrder * static_cast<double>(kOrder);
    state.counters["GFLOPS"] =
        benchmark::Counter(operations * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
}
}  // namespace

BENCHMARK(BM_Method)
    ->ArgNames({"method", "threads"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
