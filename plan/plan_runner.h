// Runs a plan point by point. Each run is a whole RunBenchmark (or reference
// dgemm) from the point's own parameters, so a lowered chunk never carries
// over from one run to the next. The report lines of every run go to one
// sink; the notices a run shows stay in its result and still reach the
// handler installed before.
//
// A point: `warmup` uncounted runs (the last of which sizes the first
// sample), then counted samples. A sample is one run,
// or in a timed plan (batch_samples) as many runs back to back as make its
// timed spans add up to kMinSampleSeconds, like the iterations of a Google
// Benchmark repetition; runs are added to samples until there are at least
// `repeat` of them and their time adds up to `min_time_seconds`. A run that
// computes no product ends its sample, which then counts as failed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "benchmark_run.h"
#include "run_plan.h"
#include "run_results.h"

struct RunProgress {
    std::size_t point_index = 0;  // from 1
    std::size_t points = 0;
    const PlannedPoint* point = nullptr;
    RunParameters shown;  // the normalised parameters
    bool warmup = false;
    std::size_t round = 0;  // warm-up or sample number, from 1
    std::size_t runs_in_sample = 1;
    bool first_of_sample = true;   // the first run of its warm-up or sample
    std::size_t resized_from = 0;  // runs of the try before, too short to count (0: none)
};

using PointRunFunction = std::function<RunResult(const PlannedPoint& point, ReportSink& sink)>;

struct PlanSettings {
    std::int32_t warmup = 0;
    std::int32_t repeat = 1;
    double min_time_seconds = 0;
    bool batch_samples = false;
};

struct PlanHooks {
    std::function<void(const RunProgress&)> before_run;                   // optional
    std::function<void(const RunProgress&, const RunRecord&)> after_run;  // optional
    std::function<void(const PointResult&)> after_point;                  // optional
    PointRunFunction run;                                                 // empty: RunPoint
    const std::atomic<bool>* stop = nullptr;  // set: no run starts any more
};

// Samples per point at most, and runs per sample at most.
constexpr std::size_t kMaxSamples = 10000;
constexpr std::size_t kMaxRunsPerSample = 1 << 20;

// RunBenchmark for a method, RunReferenceDgemm for the reference row.
RunResult RunPoint(const PlannedPoint& point, ReportSink& sink);

// The points run in order; a stop request ends the plan after the run at
// hand, and the point it interrupted is kept with what it completed.
std::vector<PointResult> RunPlan(const std::vector<PlannedPoint>& plan,
                                 const PlanSettings& settings, ReportSink& sink,
                                 const PlanHooks& hooks = {});
