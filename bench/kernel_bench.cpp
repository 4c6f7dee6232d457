// Speed of the Tavrel_8x4 library on one thread: the 13-argument 8x4 kernel
// at the program's call shape (M 192, N 1936, K 176), the B-panel packing
// Pack_BBTRANSP_AMD at the same panel, the 11-argument and 32-deep kernels at
// the same shape, K1 at order 1936 and depth 176, and the peaks of 128-,
// 256- and 512-bit separate multiply and add measured by the loops of
// vorp_limits, and their fused counterparts, for comparison. Rates are per
// CPU second of the one benchmark thread. The kernel's share of a peak is
// best read from the paired benchmarks at the end, which alternate kernel
// and peak samples (paired_share.h).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "Tavrel_8x4.h"
#include "Tavrel_8x4_tuning.h"
#include "paired_share.h"
#include "peak_loops.h"

namespace {

// Method 4's call at the defaults: depth l_block 176, rows l_block rounded up
// to whole call units of Tavrel_8x4 (192), columns the order 1936.
constexpr int kK = 176;
constexpr int kM =
    (kK + tavrel8x4::kCallRowUnit - 1) / tavrel8x4::kCallRowUnit * tavrel8x4::kCallRowUnit;
constexpr int kN = 1936;

struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<double[], FreeDeleter>;

Buffer RandomBuffer(std::size_t count) {
    const std::size_t bytes = (count * sizeof(double) + 31) / 32 * 32;
    Buffer buffer(static_cast<double*>(std::aligned_alloc(32, bytes)));
    std::mt19937_64 generator(42);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (std::size_t i = 0; i < count; ++i) buffer[i] = value(generator);
    return buffer;
}

bool SkipWithoutAvx(benchmark::State& state) {
    if (isAVXenable()) return false;
    state.SkipWithError("the processor or the operating system offers no AVX");
    return true;
}

// One slot holding the packed K x N panel, as the program uses it.
struct PackedPanel {
    PackedPanel() : source(RandomBuffer(std::size_t{kK} * kN)) {
        ok = TAVREL_AVX_8X4_Init(kN, kK, kM, 1) == 1;
    }
    ~PackedPanel() { TAVREL_AVX_8X4_Free(); }
    Buffer source;  // column j of the panel at j * kK
    bool ok = false;
};

// Skips unless this processor runs the peak loop `run` (RunsHere).
bool SkipUnlessRuns(benchmark::State& state, double (*run)(std::int64_t)) {
    for (const PeakLoop& loop : AllPeakLoops()) {
        if (loop.run != run || RunsHere(loop)) continue;
        const std::string lacking =
            std::string("the processor or the system offers no ") + loop.needs;
        state.SkipWithError(lacking.c_str());
        return true;
    }
    return false;
}

void ReportGflops(benchmark::State& state, double flops_per_iteration) {
    state.counters["GFLOPS"] = benchmark::Counter(flops_per_iteration * 1e-9,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

using PackedKernel = void (*)(int, int, int, double, double*, int, double*, int, double, double*,
                              int, double*, double*);

// A 13-argument kernel on the packed panel at M x N x K, A and C dense
// column-major (leading dimension M). Method 4 passes n as the leading
// dimension of both, which measured at most a few per cent slower here.
struct PackedKernelCall {
    PackedKernelCall() {
        if (panel.ok) Pack_BBTRANSP_AMD(kN, kK, kK, 0, panel.source.get());
    }
    void operator()(PackedKernel kernel) {
        kernel(kM, kN, kK, 1.0, a.get(), kM, nullptr, 0, 1.0, c.get(), kM,
               TAVREL_AVX_8X4_GET_AA()[0], TAVREL_AVX_8X4_GET_BB()[0]);
        benchmark::ClobberMemory();
    }
    static constexpr double kFlops = 2.0 * kM * kN * kK;
    PackedPanel panel;
    Buffer a = RandomBuffer(std::size_t{kM} * kK);
    Buffer c = RandomBuffer(std::size_t{kM} * kN);
};

void RunPackedKernel(benchmark::State& state, PackedKernel kernel) {
    if (SkipWithoutAvx(state)) return;
    PackedKernelCall call;
    if (!call.panel.ok) return state.SkipWithError("TAVREL_AVX_8X4_Init failed");
    for (auto _ : state) call(kernel);
    ReportGflops(state, PackedKernelCall::kFlops);
}

void BM_Kernel8x4x16(benchmark::State& state) {
    RunPackedKernel(state, static_cast<PackedKernel>(tavrel_AVX_8x4x16_AMD));
}
BENCHMARK(BM_Kernel8x4x16)->Unit(benchmark::kMillisecond);

void BM_PackBBTransp(benchmark::State& state) {
    if (SkipWithoutAvx(state)) return;
    PackedPanel panel;
    if (!panel.ok) return state.SkipWithError("TAVREL_AVX_8X4_Init failed");
    for (auto _ : state) {
        Pack_BBTRANSP_AMD(kN, kK, kK, 0, panel.source.get());
        benchmark::ClobberMemory();
    }
    // Bytes read plus bytes written per packing.
    const double bytes = 2.0 * sizeof(double) * kK * kN;
    state.counters["GB/s"] =
        benchmark::Counter(bytes * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PackBBTransp)->Unit(benchmark::kMicrosecond);

// The 11-argument form at the same shape: A row by row (lda K), B column by
// column (ldb K), C row by row (ldc N); every block is whole.
void BM_Kernel8x4x16Direct(benchmark::State& state) {
    if (SkipWithoutAvx(state)) return;
    Buffer a = RandomBuffer(std::size_t{kM} * kK);
    Buffer b = RandomBuffer(std::size_t{kK} * kN);
    Buffer c = RandomBuffer(std::size_t{kM} * kN);
    for (auto _ : state) {
        tavrel_AVX_8x4x16_AMD(kM, kN, kK, 1.0, a.get(), kK, b.get(), kK, 1.0, c.get(), kN);
        benchmark::ClobberMemory();
    }
    ReportGflops(state, 2.0 * kM * kN * kK);
}
BENCHMARK(BM_Kernel8x4x16Direct)->Unit(benchmark::kMillisecond);

// The 32-deep kernel at the same shape (dense A and C, leading dimension M).
void BM_Kernel8x4x32(benchmark::State& state) { RunPackedKernel(state, tavrel_AVX_8x4x32_AMD); }
BENCHMARK(BM_Kernel8x4x32)->Unit(benchmark::kMillisecond);

// K1 needs a square C: order kN (1936) at depth kK (176), A packed by Pack_BB.
void BM_KernelK1(benchmark::State& state) {
    if (SkipWithoutAvx(state)) return;
    const std::size_t area = std::size_t{kN} * kK;
    Buffer a = RandomBuffer(area);  // A(i, k) at k * kN + i
    Buffer b = RandomBuffer(area);  // B(k, j) at k * kN + j
    Buffer apack = RandomBuffer(4 * area);
    Buffer bpack = RandomBuffer(area);
    Buffer c = RandomBuffer(std::size_t{kN} * kN);
    Pack_BB(kN, kK, a.get(), apack.get());
    for (auto _ : state) {
        tavrel_AVX_8x4_K1(0, kN, kK, b.get(), nullptr, c.get(), bpack.get(), apack.get());
        benchmark::ClobberMemory();
    }
    ReportGflops(state, 2.0 * kN * kN * kK);
}
BENCHMARK(BM_KernelK1)->Unit(benchmark::kMillisecond);

// The peak of every loop of the library's table (AllPeakLoops): the
// multiply + add peaks the kernels are read against, and the fused ones that
// no kernel of Vorp reaches for. "RunAvx512MulAddLoop" is BM_Avx512MulAddPeak.
constexpr double kPeakFlopsPerCall = 1e9;  // a few milliseconds at any width

void RunPeakLoop(benchmark::State& state, const PeakLoop& loop) {
    if (SkipUnlessRuns(state, loop.run)) return;
    const auto iterations = static_cast<std::int64_t>(kPeakFlopsPerCall / loop.flops_per_iteration);
    for (auto _ : state) benchmark::DoNotOptimize(loop.run(iterations));
    ReportGflops(state, double(iterations) * loop.flops_per_iteration);
}

void RegisterPeakLoops() {
    for (const PeakLoop& loop : AllPeakLoops()) {
        std::string name = loop.function;  // "Run...Loop"
        name = "BM_" + name.substr(3, name.size() - 3 - 4) + "Peak";
        benchmark::RegisterBenchmark(name.c_str(), [&loop](benchmark::State& state) {
            RunPeakLoop(state, loop);
        })->Unit(benchmark::kMillisecond);
    }
}

// The 13-argument kernel's share of a peak, in alternating samples of the
// kernel (one call) and of the peak loop (a few milliseconds).
void RunKernelShare(benchmark::State& state, double (*peak_loop)(std::int64_t),
                    double flops_per_iteration, std::int64_t iterations) {
    PackedKernelCall call;
    if (!call.panel.ok) return state.SkipWithError("TAVREL_AVX_8X4_Init failed");
    const auto kernel = static_cast<PackedKernel>(tavrel_AVX_8x4x16_AMD);
    MeasurePairedShare(
        state,
        [&] {
            call(kernel);
            return PackedKernelCall::kFlops;
        },
        [&] {
            benchmark::DoNotOptimize(peak_loop(iterations));
            return flops_per_iteration * double(iterations);
        });
}

// For the AVX form (run with TAVREL_8X4_FORM=avx on AVX-512 processors).
void BM_KernelShareOfAvxPeak(benchmark::State& state) {
    if (SkipWithoutAvx(state)) return;
    RunKernelShare(state, RunAvxMulAddLoop, kAvxPeakFlopsPerIteration, 1'000'000);
}
BENCHMARK(BM_KernelShareOfAvxPeak)->Iterations(300)->Unit(benchmark::kMillisecond);

// For the form chosen at load on AVX-512 processors.
void BM_KernelShareOfAvx512Peak(benchmark::State& state) {
    if (SkipUnlessRuns(state, RunAvx512MulAddLoop)) return;
    RunKernelShare(state, RunAvx512MulAddLoop, kAvx512PeakFlopsPerIteration, 500'000);
}
BENCHMARK(BM_KernelShareOfAvx512Peak)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    RegisterPeakLoops();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
