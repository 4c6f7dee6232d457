// Runs a plan: every point warm-up + repeat times in turn, each run a whole
// RunBenchmark (or reference dgemm) from the point's own parameters, so a
// lowered chunk never carries over from one point to the next. The report
// lines of every run go to one sink; notices shown during a run are recorded
// with that run and still reach the handler installed before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "benchmark_run.h"
#include "run_plan.h"
#include "run_results.h"

struct RunProgress {
    std::size_t sequence = 0;  // run k of total, from 1
    std::size_t total = 0;
    const PlannedPoint* point = nullptr;
    bool warmup = false;
    std::int32_t round = 0;   // within the warm-ups or the counted runs, from 1
    std::int32_t rounds = 0;  // how many of that kind
};

using PointRunFunction =
    std::function<RunResult(const PlannedPoint& point, RunParameters& params, ReportSink& sink)>;

struct PlanHooks {
    std::function<void(const RunProgress&)> before_run;  // optional
    PointRunFunction run;                                // empty: RunPoint
};

// RunBenchmark for a method, RunReferenceDgemm for the reference row.
RunResult RunPoint(const PlannedPoint& point, RunParameters& params, ReportSink& sink);

std::vector<PointResult> RunPlan(const std::vector<PlannedPoint>& plan, std::int32_t warmup,
                                 std::int32_t repeat, ReportSink& sink, const PlanHooks& hooks = {});
