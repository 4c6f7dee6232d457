// What the runs of a plan produced, and the statistics the summaries show:
// best and median of the counted runs' durations (millisecond resolution, as
// the run's clock gives them) and the GFLOPS of those two durations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "benchmark_run.h"
#include "run_plan.h"

struct RunRecord {
    std::size_t sequence = 0;  // k of "run k of N", from 1
    bool warmup = false;
    RunResult result;
    std::vector<std::string> notices;  // shown during this run, in order
};

struct PointResult {
    PlannedPoint point;
    RunParameters shown;  // the normalised values of the run
    std::vector<RunRecord> runs;  // warm-ups first, then the counted runs
};

struct TimingSummary {
    std::size_t count = 0;      // durations summarised
    double best_seconds = 0;    // the shortest
    double median_seconds = 0;  // the middle one, or the mean of the middle two
};

// Best and median of `seconds`; count 0 when the list is empty.
TimingSummary SummariseTimes(std::vector<double> seconds);

// operations / seconds in GFLOPS; nothing when the run took less than a tick.
std::optional<double> GflopsAt(double operations, double seconds);

// "not run", "passed", "failed", "no reference".
const char* CheckVerdictName(CheckVerdict verdict);

// A run that did not complete, had a notice, or failed its check.
bool HasProblem(const RunRecord& run);
// What went wrong, for the summary: "Alloc Error", "check failed", notices.
std::string ProblemText(const RunRecord& run);

struct PointSummary {
    std::string method;             // PointMethodKey
    TimingSummary timing;           // of the counted runs that completed
    std::optional<double> best_gflops, median_gflops;
    double operations = 0;
    std::optional<std::int32_t> isa_level;  // method 4 only
    std::string kernel_form;
    std::string check;              // "not run", "passed", "failed", "no reference"
    bool problem = false;           // some run (warm-up or counted) has a problem
};

PointSummary Summarise(const PointResult& point);

bool AnyProblem(const std::vector<PointResult>& results);
