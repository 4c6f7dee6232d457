// The plan of a vorp-cli invocation: the lists of sizes and thread counts it
// sweeps, and the points (one method, or the reference, at one n and thread
// count) that it runs in order. Each point is run warm-up + repeat times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_options.h"
#include "run_parameters.h"

struct ListParse {
    std::vector<std::int32_t> values;
    std::string error;  // empty when the list is usable
};

// Most entries one list may expand to (guards against a typo like 1:46340:1).
constexpr std::size_t kMaxListEntries = 1000;

// "--sizes": a comma-separated list of orders, or FROM:TO:STEP (TO included
// when a step lands on it); every order from 1 to 46340.
ListParse ParseSizeList(const std::string& text);
// "--threads-list": a comma-separated list of thread counts from 1 to 128.
ListParse ParseThreadList(const std::string& text);

struct PlannedPoint {
    bool reference = false;  // the system BLAS dgemm instead of params.method
    RunParameters params;    // as asked, before the run's normalisation
};

// Sizes outermost, then thread counts, then methods 0 to 4 (or the one
// method), then the reference row.
std::vector<PlannedPoint> ExpandPlan(const CliOptions& options);

// How many runs the plan performs in all.
std::size_t TotalRuns(const std::vector<PlannedPoint>& plan, const CliOptions& options);

// "classic" ... "vector-pack", or "openblas" for the reference row.
std::string PointMethodKey(const PlannedPoint& point);

// The parameters a point's run actually uses: n, l_block, threads and chunk
// after the run's normalisation.
RunParameters NormalisedParameters(const PlannedPoint& point);
