// The plan of a vorp-cli invocation: the lists of sizes and thread counts it
// sweeps, and the points (one method, or the reference, at one n and thread
// count) that it runs in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plan_options.h"
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
    bool reference = false;  // a system BLAS dgemm instead of params.method
    ReferenceLibrary library = ReferenceLibrary::OpenBlas;
    RunParameters params;  // as asked, before the run's normalisation
};

struct Plan {
    std::vector<PlannedPoint> points;
    // One line each where the run's normalisation changes what was asked
    // ("-n 1000 runs as 880: a multiple of l_block 176") or makes two points
    // the same (the later one is dropped).
    std::vector<std::string> notes;
};

// Sizes outermost, then thread counts, then methods 0 to 4 (or the one
// method), then the reference row. A method that is not parallel runs on one
// thread: over a list of thread counts it appears once per size, with
// threads 1. Points
// that normalise to the same parameters run once.
Plan ExpandPlan(const CliOptions& options);

// Whether the options ask for more than one run (several points, warm-ups,
// repetitions or a minimum time).
bool IsMultiRun(const CliOptions& options, const Plan& plan);

// "classic" ... "vector-pack", or "openblas" or "blis" for the reference row.
std::string PointMethodKey(const PlannedPoint& point);

// The parameters a point's run actually uses: n, l_block, threads and chunk
// after the run's normalisation.
RunParameters NormalisedParameters(const PlannedPoint& point);
