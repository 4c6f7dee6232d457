// What this machine can reach at best, the yardsticks for the methods' rates:
// the arithmetic peak of each vector width the processor runs (peak_loops.h)
// and the memory bandwidth of the triad (triad.h), each for one thread and
// for whole teams, as repeated timed samples with their statistics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "peak_loops.h"
#include "statistics.h"

struct LimitSettings {
    // The team sizes; every limit is measured once for each. Empty: 1 and
    // UsableCores() (1 alone on a single core).
    std::vector<std::int32_t> thread_counts;
    // Timed samples of each limit and team size.
    std::int32_t samples = 5;
    // The shortest sample kept: a shorter run grows the iteration count and
    // runs again.
    double min_sample_seconds = 0.010;
    // Iterations per thread of a peak loop's first run, from which the count
    // grows until a run lasts min_sample_seconds.
    std::int64_t first_peak_iterations = 16384;
    // Doubles in each triad array; 0 chooses from this processor's caches
    // (ChooseTriadSize in triad.h).
    std::int64_t triad_elements = 0;
    // A measurement whose team got less CPU time than this share of its wall
    // time on every thread that could run is flagged cpu_short: other
    // processes took its cores (the caller gives its own threshold).
    double min_cpu_share = 0.8;
    bool peaks = true;  // the peak loops that run here
    bool triad = true;
};

// One timed run of a limit: every thread of the team ran `iterations`
// iterations of the loop (passes over its slice, for the triad).
struct LimitSample {
    std::int64_t iterations = 0;
    std::int32_t team = 0;   // the threads that ran
    double seconds = 0;      // on the fine clock (FineSeconds)
    double cpu_seconds = 0;  // the process's CPU time over the same span, all threads
    double rate = 0;         // in the measurement's unit, the whole team's
};

enum class LimitKind { kPeak, kTriad };

struct LimitMeasurement {
    LimitKind kind = LimitKind::kPeak;
    std::string name;      // "512-bit mul+add peak", "256-bit FMA peak", "triad bandwidth"
    std::string unit;      // "GFLOPS" for the peaks, "GB/s" for the triad
    std::string what_ran;  // the loop and its shape, in words
    std::int32_t threads_requested = 0;
    std::int32_t threads = 0;  // the team of the last sample

    // Peaks.
    const char* function = "";  // "RunAvx512MulAddLoop"
    std::int32_t vector_bits = 0;
    PeakInstructions instructions = PeakInstructions::kMulAdd;
    std::int32_t accumulators = 0;
    double flops_per_iteration = 0;  // per thread
    // The FMA-free peak of the widest vector width: the most the bit-exact
    // kernels can reach with this team.
    bool bit_exact_ceiling = false;

    // The triad.
    std::int64_t array_elements = 0;  // doubles in each of the three arrays
    std::string array_size_reason;
    double bytes_per_element = 0;
    bool write_allocate_counted = false;

    std::vector<LimitSample> samples;
    SampleStatistics statistics;  // of the samples' rates
    double median = 0;            // statistics.median
    double best = 0;              // the highest rate
    double cv = 0;                // statistics.cv
    bool noisy = false;           // cv above the threshold given, over two samples or more
    double cpu_share = 0;         // median of CPU / (wall x threads that could run); 0 unknown
    bool cpu_short = false;       // cpu_share below settings.min_cpu_share
    double seconds = 0;  // the whole measurement: runs that grew the count, samples, set-up
    // Empty, or why the samples are missing or fewer or shorter than asked.
    std::string problem;
};

struct MachineLimits {
    // For each peak loop that runs here (narrowest first) each team size,
    // then the triad for each team size.
    std::vector<LimitMeasurement> measurements;
    // The name of the measurements that are the ceiling of the bit-exact
    // kernels: "512-bit mul+add peak" where AVX-512 runs.
    std::string bit_exact_ceiling;
    double seconds = 0;  // all of it, on the fine clock
};

// Measures the limits the settings select. A measurement whose coefficient of
// variation exceeds `noisy_cv` is marked noisy. Times with FineSeconds of
// core/tick.h, not the run clock: the loops go on while the user is waited
// for, so a pause belongs in their time.
MachineLimits MeasureLimits(const LimitSettings& settings, double noisy_cv);

// "512-bit mul+add peak, 2 threads", "triad bandwidth, 1 thread".
std::string LimitLabel(const LimitMeasurement& measurement);
