// What the runs of a plan produced, and the statistics the summaries show.
// Figures come from the fine clock: per counted sample, its timed spans added
// up and divided by its runs (seconds per product). Samples in which a run
// computed no product, or failed its check, give no figure: they are counted
// as failed and named in the problem list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "benchmark_run.h"
#include "run_plan.h"
#include "statistics.h"

struct RunRecord {
    std::size_t sequence = 0;  // run k of the plan, from 1
    bool warmup = false;
    std::size_t sample = 0;  // counted sample, from 1; 0 for warm-ups and for
                             // runs that only sized the samples
    RunResult result;        // its notices are those shown during this run
};

struct PointResult {
    PlannedPoint point;
    RunParameters shown;          // the normalised values of the run
    std::vector<RunRecord> runs;  // warm-ups first, then the samples' runs
    bool interrupted = false;     // a stop request ended it early
};

// A point whose samples got less CPU time than this share of their wall
// time on every thread they could run (the point's threads, at most the
// cores this process may use) is flagged: other processes, or the
// hypervisor, took its cores.
constexpr double kCpuShortShare = 0.8;
// A coefficient of variation above this marks a point noisy.
constexpr double kNoisyCv = 0.05;
// A sample this short is flagged; a timed plan batches runs up to it.
constexpr double kMinSampleSeconds = 0.010;

// Whether the run gives a figure: it completed, computed a product and did
// not fail its check.
bool GaveProduct(const RunRecord& run);
// A run without product, with a notice, or whose check failed or had no
// reference.
bool HasProblem(const RunRecord& run);
// What went wrong, for the summary: notices, "no product", "check failed".
std::string ProblemText(const RunRecord& run);

// Runs of a point with the same problem one after another, told once: runs
// first..last (`count` of them), the first of which is `run`.
struct ProblemSpan {
    const RunRecord* run = nullptr;
    std::size_t first = 0, last = 0, count = 0;
    std::string text;  // ProblemText
};
std::vector<ProblemSpan> ProblemSpans(const PointResult& point);

// operations / seconds in GFLOPS; nothing for a duration that is not positive.
std::optional<double> GflopsAt(double operations, double seconds);

// "not run", "passed", "failed", "no reference".
const char* CheckVerdictName(CheckVerdict verdict);

struct PointSummary {
    std::string method;                // PointMethodKey
    std::size_t samples = 0;           // counted samples
    std::size_t failed_samples = 0;    // of them, those without a figure
    std::vector<double> seconds;       // per product, one per sample with a figure
    std::vector<double> tick_seconds;  // the same samples on the millisecond tick
    std::vector<std::size_t> runs_per_sample;
    SampleStatistics statistics;  // of `seconds`
    std::optional<double> best_gflops, median_gflops;
    double operations = 0;
    std::optional<std::int32_t> isa_level;  // method 4 only
    std::string kernel_form;
    std::string check;                       // "not run", "passed", "failed", "no reference"
    std::optional<double> check_difference;  // the largest over the checked runs
    bool noisy = false;                      // CV above kNoisyCv over two samples or more
    bool short_samples = false;              // a sample with a figure below kMinSampleSeconds
    std::vector<double> cpu_seconds;         // process CPU time per product, beside `seconds`
    std::optional<double> cpu_share;         // median of CPU / (wall x threads it could run)
    bool cpu_short = false;                  // cpu_share below kCpuShortShare
    bool problem = false;                    // some run (warm-up or counted) has a problem
};

// `cores`: the cores this process may run on (0: ask the system).
PointSummary Summarise(const PointResult& point, std::int32_t cores = 0);

bool AnyProblem(const std::vector<PointResult>& results);
// Whether some counted sample of the results gave a figure.
bool AnyFigure(const std::vector<PointResult>& results);
