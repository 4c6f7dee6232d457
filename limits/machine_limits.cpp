// Baseline x86-64: the measurement calls the width-specific loops only after
// RunsHere has said the processor runs them.
#include "machine_limits.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>

#include "memory.h"
#include "processor_info.h"
#include "tick.h"
#include "triad.h"

namespace {

// A run shorter than the shortest sample grows its count by the shortfall
// with this margin, so that the next run lands above it despite jitter...
constexpr double kGrowthMargin = 1.25;
// ...but never by less than this, so that a handful of runs get there...
constexpr double kLeastGrowth = 2;
// ...nor more than this, which bounds the overshoot when a run was so short
// that its duration was mostly the clock's resolution.
constexpr double kMostGrowth = 1000;
// Bounds on the growing: far beyond what 10 ms of any loop needs, they only
// stop a clock that hardly moves from running a loop for hours.
constexpr int kMostGrowths = 40;
constexpr std::int64_t kMostIterations = std::int64_t{1} << 40;
constexpr double kGiga = 1e9;  // GFLOPS and GB/s count in powers of ten

// Keeps the loops' sums, so that no call can be dropped.
volatile double g_sink = 0;

std::vector<std::int32_t> TeamSizes(const LimitSettings& settings) {
    std::vector<std::int32_t> counts = settings.thread_counts;
    if (counts.empty()) counts = {1, UsableCores()};
    for (std::int32_t& count : counts) count = std::max(count, 1);
    // Each count once, in the order given.
    std::vector<std::int32_t> unique;
    for (const std::int32_t count : counts) {
        if (std::find(unique.begin(), unique.end(), count) == unique.end()) unique.push_back(count);
    }
    return unique;
}

// Whether a run this short may grow: not when the clock did not move at all
// (nothing tells how far to grow) or a bound is reached.
bool MayGrow(double seconds, std::int64_t iterations, int growths) {
    return seconds > 0 && iterations < kMostIterations && growths < kMostGrowths;
}

std::int64_t Grown(std::int64_t iterations, double seconds, double min_seconds) {
    const double factor =
        std::clamp(kGrowthMargin * min_seconds / seconds, kLeastGrowth, kMostGrowth);
    const double grown = std::ceil(static_cast<double>(iterations) * factor);
    return std::min(kMostIterations, static_cast<std::int64_t>(grown));
}

// One timed run: `run` does `iterations` per thread and returns the team.
struct TimedRun {
    double seconds = 0;
    std::int32_t team = 0;
    double cpu_seconds = 0;  // the process's, all threads
};
using TeamRun = std::function<std::int32_t(std::int64_t iterations)>;

TimedRun Time(const TeamRun& run, std::int64_t iterations) {
    const double start = FineSeconds(), start_cpu = ProcessCpuSeconds();
    const std::int32_t team = run(iterations);
    return {FineSeconds() - start, team, ProcessCpuSeconds() - start_cpu};
}

// Fills the samples, the statistics and the problem of `m`: runs that grow
// the count first (a warm-up as well), then `settings.samples` samples of at
// least min_sample_seconds each. `units(team)` is what one iteration of the
// whole team does, in units of the rate (gigaflops, gigabytes).
void Sample(const TeamRun& run, std::int64_t first_iterations,
            const std::function<double(std::int32_t team)>& units, const LimitSettings& settings,
            double noisy_cv, LimitMeasurement& m) {
    std::int64_t iterations = std::max<std::int64_t>(first_iterations, 1);
    int growths = 0;
    for (;;) {
        const TimedRun trial = Time(run, iterations);
        if (trial.seconds >= settings.min_sample_seconds ||
            !MayGrow(trial.seconds, iterations, growths)) {
            break;
        }
        iterations = Grown(iterations, trial.seconds, settings.min_sample_seconds);
        ++growths;
    }
    bool short_kept = false;
    for (std::int32_t s = 0; s < settings.samples; ++s) {
        TimedRun timed = Time(run, iterations);
        while (timed.seconds < settings.min_sample_seconds &&
               MayGrow(timed.seconds, iterations, growths)) {
            iterations = Grown(iterations, timed.seconds, settings.min_sample_seconds);
            ++growths;
            timed = Time(run, iterations);
        }
        short_kept = short_kept || timed.seconds < settings.min_sample_seconds;
        LimitSample sample;
        sample.iterations = iterations;
        sample.team = timed.team;
        sample.seconds = timed.seconds;
        sample.cpu_seconds = timed.cpu_seconds;
        if (timed.seconds > 0) {
            sample.rate = static_cast<double>(iterations) * units(timed.team) / timed.seconds;
        }
        m.samples.push_back(sample);
    }
    std::vector<double> rates;
    for (const LimitSample& sample : m.samples) rates.push_back(sample.rate);
    m.statistics = Describe(rates);
    m.median = m.statistics.median;
    m.best = rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end());
    m.cv = m.statistics.cv;
    m.noisy = m.statistics.count >= 2 && m.cv > noisy_cv;
    // Whether the team had its cores: CPU time against wall time on every
    // thread that could run at once (a clock without CPU time claims nothing).
    std::vector<double> shares;
    for (const LimitSample& sample : m.samples) {
        const std::int32_t usable = std::max(1, std::min(sample.team, UsableCores()));
        if (sample.seconds > 0 && sample.cpu_seconds > 0)
            shares.push_back(sample.cpu_seconds / sample.seconds / usable);
    }
    if (!shares.empty()) {
        m.cpu_share = Describe(shares).median;
        m.cpu_short = m.cpu_share < settings.min_cpu_share;
    }
    m.threads = m.samples.empty() ? 0 : m.samples.back().team;
    std::vector<std::string> problems;
    if (short_kept) {
        std::ostringstream text;
        text << "samples shorter than " << settings.min_sample_seconds
             << " s kept: the clock hardly moved";
        problems.push_back(text.str());
    }
    for (const LimitSample& sample : m.samples) {
        if (sample.team != m.threads_requested) {
            problems.push_back("OpenMP gave a team of " + std::to_string(sample.team) +
                               " threads, not " + std::to_string(m.threads_requested));
            break;
        }
    }
    for (const std::string& problem : problems) {
        m.problem += (m.problem.empty() ? "" : "; ") + problem;
    }
}

std::int32_t RunPeakTeam(const PeakLoop& loop, std::int64_t iterations, std::int32_t threads) {
    std::int32_t team = 1;
    double sum = 0;
#pragma omp parallel num_threads(threads) reduction(+ : sum)
    {
        sum += loop.run(iterations);
#pragma omp master
        team = omp_get_num_threads();
    }
    g_sink = g_sink + sum;
    return team;
}

std::string PeakWhatRan(const PeakLoop& loop) {
    std::ostringstream text;
    text << loop.function << ": " << loop.accumulators << " accumulators of " << loop.vector_bits
         << "-bit vectors (" << PeakLoopLanes(loop) << " doubles), " << loop.instructions
         << (loop.kind == PeakInstructions::kMulAdd ? " (multiply and add rounded apart)"
                                                    : " (fused, rounded once)")
         << ", needs " << loop.needs << ", " << loop.flops_per_iteration
         << " flops per iteration and thread";
    return text.str();
}

LimitMeasurement MeasurePeak(const PeakLoop& loop, std::int32_t threads, bool ceiling,
                             const LimitSettings& settings, double noisy_cv) {
    const double start = FineSeconds();
    LimitMeasurement m;
    m.kind = LimitKind::kPeak;
    m.name = std::string(loop.name) + " peak";
    m.unit = "GFLOPS";
    m.what_ran = PeakWhatRan(loop);
    m.threads_requested = threads;
    m.function = loop.function;
    m.vector_bits = loop.vector_bits;
    m.instructions = loop.kind;
    m.accumulators = loop.accumulators;
    m.flops_per_iteration = loop.flops_per_iteration;
    m.bit_exact_ceiling = ceiling;
    Sample([&](std::int64_t iterations) { return RunPeakTeam(loop, iterations, threads); },
           settings.first_peak_iterations,
           [&](std::int32_t team) { return team * loop.flops_per_iteration / kGiga; }, settings,
           noisy_cv, m);
    m.seconds = FineSeconds() - start;
    return m;
}

// The three arrays of the triad, released on every path.
struct TriadArrays {
    explicit TriadArrays(std::int64_t n)
        : a(AllocateArray<double>(static_cast<std::size_t>(n), 64)),
          b(AllocateArray<double>(static_cast<std::size_t>(n), 64)),
          c(AllocateArray<double>(static_cast<std::size_t>(n), 64)) {}
    ~TriadArrays() {
        ReleaseAligned(a);
        ReleaseAligned(b);
        ReleaseAligned(c);
    }
    TriadArrays(const TriadArrays&) = delete;
    TriadArrays& operator=(const TriadArrays&) = delete;
    bool ok() const { return a != nullptr && b != nullptr && c != nullptr; }
    double* a;
    double* b;
    double* c;
};

LimitMeasurement MeasureTriad(const TriadSize& size, std::int32_t threads,
                              const LimitSettings& settings, double noisy_cv) {
    const double start = FineSeconds();
    const std::int64_t n = size.elements;
    const std::uint64_t array_bytes = static_cast<std::uint64_t>(n) * sizeof(double);
    LimitMeasurement m;
    m.kind = LimitKind::kTriad;
    m.name = "triad bandwidth";
    m.unit = "GB/s";
    m.threads_requested = threads;
    m.array_elements = n;
    m.array_size_reason = size.reason;
    m.bytes_per_element = kTriadBytesPerElement;
    m.write_allocate_counted = kTriadCountsWriteAllocate;
    std::ostringstream text;
    text << "a[i] = b[i] + " << kTriadScalar << " * c[i] on 3 arrays of " << n << " doubles ("
         << static_cast<double>(array_bytes) / (1 << 20) << " MiB each: " << size.reason << "), "
         << kTriadBytesPerElement << " bytes per element (write-allocate "
         << (kTriadCountsWriteAllocate ? "counted" : "not counted, as STREAM")
         << "), each thread its own slice, first touched by the same thread";
    m.what_ran = text.str();

    if (!FitsInAvailableMemory(3 * array_bytes, threads)) {
        m.problem = "not measured: 3 arrays of " + std::to_string(array_bytes >> 20) +
                    " MiB do not fit in the available memory";
    } else if (TriadArrays arrays(n); !arrays.ok()) {
        m.problem = "not measured: the 3 arrays could not be allocated";
    } else {
        FillTriadArrays(arrays.a, arrays.b, arrays.c, n, threads);
        // One iteration of the team is one pass over the arrays, whatever the team.
        const double pass_gigabytes = kTriadBytesPerElement * static_cast<double>(n) / kGiga;
        Sample(
            [&](std::int64_t passes) {
                std::int32_t team = 1;
                for (std::int64_t p = 0; p < passes; ++p) {
                    team = RunTriad(arrays.a, arrays.b, arrays.c, kTriadScalar, n, threads);
                }
                return team;
            },
            1, [&](std::int32_t) { return pass_gigabytes; }, settings, noisy_cv, m);
    }
    m.seconds = FineSeconds() - start;
    return m;
}

}  // namespace

std::string LimitLabel(const LimitMeasurement& measurement) {
    const std::int32_t threads =
        measurement.threads > 0 ? measurement.threads : measurement.threads_requested;
    return measurement.name + ", " + std::to_string(threads) +
           (threads == 1 ? " thread" : " threads");
}

MachineLimits MeasureLimits(const LimitSettings& settings, double noisy_cv) {
    const double start = FineSeconds();
    MachineLimits limits;
    const std::vector<std::int32_t> teams = TeamSizes(settings);
    const PeakLoop ceiling = BitExactCeilingLoop();
    limits.bit_exact_ceiling = std::string(ceiling.name) + " peak";
    if (settings.peaks) {
        for (const PeakLoop& loop : PeakLoopsRunHere()) {
            const bool is_ceiling = loop.run == ceiling.run;
            for (const std::int32_t threads : teams) {
                limits.measurements.push_back(
                    MeasurePeak(loop, threads, is_ceiling, settings, noisy_cv));
            }
        }
    }
    if (settings.triad) {
        TriadSize size;
        if (settings.triad_elements > 0) {
            size.elements = settings.triad_elements;
            size.reason = "as asked";
        } else {
            size = ChooseTriadSize(CachesFromCpuid(QueryCpuid));
        }
        for (const std::int32_t threads : teams) {
            limits.measurements.push_back(MeasureTriad(size, threads, settings, noisy_cv));
        }
    }
    limits.seconds = FineSeconds() - start;
    return limits;
}
