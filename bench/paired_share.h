// The share of one piece of work in a reference rate (a peak loop, another
// library), measured in alternating samples so that a machine whose speed
// drifts (a shared host) slows both alike. One benchmark iteration is one
// pair: the work once, then the reference once.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include "statistics.h"

// Each function runs once and returns the floating-point operations it did.
using FlopsRun = std::function<double()>;

// Counters: GFLOPS (best sample of the work), reference_GFLOPS (best sample
// of the reference), share_best (the two bests' ratio, in percent) and
// share_median (median of the pairs' ratios, in percent).
inline void MeasurePairedShare(benchmark::State& state, const FlopsRun& work,
                               const FlopsRun& reference) {
    using Clock = std::chrono::steady_clock;
    const auto rate = [](const FlopsRun& run) {
        const auto start = Clock::now();
        const double flops = run();
        const std::chrono::duration<double> seconds = Clock::now() - start;
        return flops / seconds.count() * 1e-9;
    };
    std::vector<double> work_rates, reference_rates, ratios;
    for (auto _ : state) {
        work_rates.push_back(rate(work));
        reference_rates.push_back(rate(reference));
        ratios.push_back(work_rates.back() / reference_rates.back());
    }
    if (ratios.empty()) return;
    const double median = Median(ratios);
    const double best_work = *std::max_element(work_rates.begin(), work_rates.end());
    const double best_reference = *std::max_element(reference_rates.begin(), reference_rates.end());
    state.counters["GFLOPS"] = best_work;
    state.counters["reference_GFLOPS"] = best_reference;
    state.counters["share_best"] = 100 * best_work / best_reference;
    state.counters["share_median"] = 100 * median;
}
