// The plan of a vorp-cli invocation, the runner and the statistics of its
// summaries, without the binary.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "cli_options.h"
#include "load_check.h"
#include "plan_runner.h"
#include "run_plan.h"
#include "run_results.h"
#include "support/recorders.h"

namespace {
using Sizes = std::vector<std::int32_t>;
using Strings = std::vector<std::string>;

CliOptions Options(std::vector<std::string> args) {
    const CliParseResult parsed = ParseCommandLine(args, VectorIsaCap::Avx2);
    EXPECT_EQ(parsed.error, "");
    return parsed.options;
}

// "m1 n64 t2", or "ref n64 t2" for the reference row: a point as it runs.
std::string Describe(const PlannedPoint& point) {
    const RunParameters p = NormalisedParameters(point);
    return (point.reference ? std::string("ref") : "m" + std::to_string(p.method)) + " n" +
           std::to_string(p.n) + " t" + std::to_string(p.threads);
}

Strings Described(const Plan& plan) {
    Strings points;
    for (const PlannedPoint& point : plan.points) points.push_back(Describe(point));
    return points;
}

// A run function that completes every run without running anything: call k
// (from 0) lasts fine(k) seconds and computes a product unless k is in
// `no_product`. `calls` counts the calls.
PointRunFunction Scripted(std::function<double(std::size_t)> fine,
                          std::set<std::size_t> no_product = {},
                          std::shared_ptr<std::size_t> calls = std::make_shared<std::size_t>(0)) {
    return [=](const PlannedPoint&, ReportSink&) {
        const std::size_t k = (*calls)++;
        RunResult result;
        result.outcome = RunOutcome::Completed;
        result.measurements.fine_seconds = fine(k);
        result.measurements.duration_seconds = fine(k);
        result.product = no_product.count(k) == 0;
        return result;
    };
}

std::function<double(std::size_t)> Always(double seconds) {
    return [seconds](std::size_t) { return seconds; };
}

PlanSettings Settings(std::int32_t warmup, std::int32_t repeat, double min_time = 0,
                      bool batch = false) {
    PlanSettings settings;
    settings.warmup = warmup;
    settings.repeat = repeat;
    settings.min_time_seconds = min_time;
    settings.batch_samples = batch;
    return settings;
}

std::vector<PlannedPoint> OnePoint(std::int32_t n = 64) {
    PlannedPoint point;
    point.params.n = n;
    point.params.l_block = n;
    return {point};
}

RunRecord Record(std::size_t sample, double fine, bool product = true) {
    RunRecord run;
    run.sample = sample;
    run.result.outcome = RunOutcome::Completed;
    run.result.product = product;
    run.result.measurements.fine_seconds = fine;
    run.result.measurements.duration_seconds = fine;
    return run;
}

// A point of n 100 (2e6 operations) holding the given runs, numbered in turn.
PointResult PointOf(std::vector<RunRecord> runs) {
    PointResult point;
    point.point.params.n = 100;
    point.shown = NormalisedParameters(point.point);
    for (std::size_t i = 0; i < runs.size(); ++i) runs[i].sequence = i + 1;
    point.runs = std::move(runs);
    return point;
}

// Samples of one run each.
PointResult PointWithSamples(const std::vector<double>& seconds) {
    std::vector<RunRecord> runs;
    for (std::size_t i = 0; i < seconds.size(); ++i) runs.push_back(Record(i + 1, seconds[i]));
    return PointOf(runs);
}

// The fine clock gives the readings in turn (the last one repeats).
struct ScopedFineReadings {
    explicit ScopedFineReadings(std::vector<double> readings) {
        tick_testing::OverrideFineSource([readings, next = std::size_t{0}]() mutable {
            return readings[std::min(next++, readings.size() - 1)];
        });
    }
    ~ScopedFineReadings() { tick_testing::OverrideFineSource({}); }
};
}  // namespace

TEST(SizeList, ListsAndRanges) {
    EXPECT_EQ(ParseSizeList("200,400,800").values, (Sizes{200, 400, 800}));
    EXPECT_EQ(ParseSizeList("7").values, (Sizes{7}));
    EXPECT_EQ(ParseSizeList("200:1000:200").values, (Sizes{200, 400, 600, 800, 1000}));
    EXPECT_EQ(ParseSizeList("100:250:100").values,
              (Sizes{100, 200}));  // TO only when a step lands on it
    EXPECT_EQ(ParseSizeList("5:5:3").values, (Sizes{5}));
    EXPECT_EQ(ParseSizeList("46000:46340:46340").values, (Sizes{46000}));  // no overflow past TO
    EXPECT_EQ(ParseSizeList("1:1000:1").values.size(), 1000u);
    EXPECT_EQ(ParseThreadList("1,2,128").values, (Sizes{1, 2, 128}));
}

TEST(SizeList, MalformedListsAreRefusedWithTheOptionNamed) {
    for (const char* text : {"", ",", "100,", ",100", "100,,200", "0", "46341", "1e3", "12x",
                             " 100", "-5", "99999999999999999999"}) {
        const ListParse list = ParseSizeList(text);
        EXPECT_EQ(list.error.rfind("--sizes: expected whole numbers from 1 to 46340", 0), 0u)
            << "'" << text << "': " << list.error;
    }
    for (const char* text : {"100:200", "100:200:", ":200:10", "a:b:c", "1:2:3:4", "100:200:-1",
                             "100:200:0", "0:100:10", "100:46341:10"}) {
        EXPECT_EQ(ParseSizeList(text).error.rfind("--sizes: expected FROM:TO:STEP", 0), 0u) << text;
    }
    EXPECT_EQ(ParseSizeList("300:200:10").error,
              "--sizes: FROM must not exceed TO, got '300:200:10'");
    EXPECT_EQ(ParseSizeList("1:1001:1").error, "--sizes: '1:1001:1' gives more than 1000 sizes");
    std::string many = "1";
    for (int i = 0; i < 1000; ++i) many += ",1";
    EXPECT_EQ(ParseSizeList(many).error, "--sizes: more than 1000 entries");
    for (const char* text : {"0", "129", "1,,2", "1 2", "1:2:1"}) {
        EXPECT_EQ(ParseThreadList(text).error.rfind(
                      "--threads-list: expected whole numbers from 1 to 128", 0),
                  0u)
            << text;
    }
}

TEST(Plan, SizesThenThreadsThenMethodsThenReference) {
    CliOptions options =
        Options({"--all", "--sizes", "64,128", "--l-block", "64", "--threads-list", "1,2"});
    options.reference = true;  // as --reference sets it where OpenBLAS loads
    const Plan plan = ExpandPlan(options);
    const Strings per_size = {"m0 n{} t1",  "m1 n{} t1", "m2 n{} t1", "m3 n{} t1", "m4 n{} t1",
                              "ref n{} t1", "m1 n{} t2", "m2 n{} t2", "m4 n{} t2", "ref n{} t2"};
    Strings expected;
    for (const char* n : {"64", "128"}) {
        for (std::string point : per_size)
            expected.push_back(point.replace(point.find("{}"), 2, n));
    }
    EXPECT_EQ(Described(plan), expected);
    EXPECT_TRUE(plan.notes.empty());

    const Plan single = ExpandPlan(Options({"--method", "3", "-n", "90", "--threads", "2"}));
    ASSERT_EQ(single.points.size(), 1u);
    EXPECT_EQ(single.points[0].params.method, 3);
    EXPECT_EQ(single.points[0].params.n, 90);       // as asked; the run normalises it
    EXPECT_EQ(single.points[0].params.threads, 1);  // a single-thread method is labelled as it runs

    // Several methods in turn, in the order given.
    EXPECT_EQ(
        Described(ExpandPlan(Options({"--method", "vector-pack,3", "-n", "64", "--threads", "2"}))),
        (Strings{"m4 n64 t2", "m3 n64 t1"}));
}

TEST(Plan, SingleThreadMethodsRunOnceUnderAThreadList) {
    EXPECT_EQ(Described(ExpandPlan(
                  Options({"--all", "-n", "64", "--l-block", "32", "--threads-list", "2,4"}))),
              (Strings{"m0 n64 t1", "m1 n64 t2", "m2 n64 t2", "m3 n64 t1", "m4 n64 t2", "m1 n64 t4",
                       "m2 n64 t4", "m4 n64 t4"}));
    EXPECT_EQ(Described(ExpandPlan(
                  Options({"--method", "classic", "-n", "64", "--threads-list", "2,4,8"}))),
              (Strings{"m0 n64 t1"}));
}

TEST(Plan, NotesSayWhatTheNormalisationChanges) {
    EXPECT_EQ(ExpandPlan(Options({"-n", "1000"})).notes,
              (Strings{"-n 1000 runs as 880: a multiple of l_block 176"}));
    EXPECT_EQ(ExpandPlan(Options({"-n", "100"})).notes,
              (Strings{"--l-block 176 runs as 100: lowered to n 100"}));
    EXPECT_EQ(ExpandPlan(Options({"-n", "10", "--l-block", "7"})).notes,
              (Strings{"--l-block 7 runs as 4: a multiple of 4",
                       "-n 10 runs as 8: a multiple of l_block 4"}));
    EXPECT_TRUE(ExpandPlan(Options({"-n", "64", "--l-block", "64"})).notes.empty());
    // A sweep says each change once, in the order of its sizes.
    EXPECT_EQ(ExpandPlan(Options({"--method", "hp", "--sizes", "2000,10,100", "--l-block", "7",
                                  "--threads-list", "1,2"}))
                  .notes,
              (Strings{"--l-block 7 runs as 4: a multiple of 4",
                       "-n 10 runs as 8: a multiple of l_block 4"}));
}

TEST(Plan, PointsThatRunTheSameRunOnce) {
    const Plan sizes = ExpandPlan(Options({"--method", "hp", "--sizes", "200,250,400"}));
    EXPECT_EQ(Described(sizes), (Strings{"m1 n176 t1", "m1 n352 t1"}));
    EXPECT_EQ(sizes.notes, (Strings{"-n 200 runs as 176: a multiple of l_block 176",
                                    "-n 250 runs as 176, as -n 200 does: its points run once",
                                    "-n 400 runs as 352: a multiple of l_block 176"}));

    const Plan sweep =
        ExpandPlan(Options({"--all", "--sizes", "200,250", "--threads-list", "1,2"}));
    EXPECT_EQ(Described(sweep), (Strings{"m0 n176 t1", "m1 n176 t1", "m2 n176 t1", "m3 n176 t1",
                                         "m4 n176 t1", "m1 n176 t2", "m2 n176 t2", "m4 n176 t2"}));
    EXPECT_EQ(sweep.notes.size(), 2u);

    const Plan threads = ExpandPlan(
        Options({"--method", "hp", "-n", "64", "--l-block", "64", "--threads-list", "2,2,3"}));
    EXPECT_EQ(Described(threads), (Strings{"m1 n64 t2", "m1 n64 t3"}));
    EXPECT_TRUE(threads.notes.empty());
}

TEST(Plan, WhatCountsAsMultiRun) {
    const std::pair<Strings, bool> cases[] = {
        {{"-n", "64"}, false},
        {{"--sizes", "200,250"}, false},  // one point after the dedupe
        {{"--repeat", "2"}, true},
        {{"--warmup", "1"}, true},
        {{"--min-time", "0.1"}, true},
        {{"--all", "-n", "64"}, true},
    };
    for (const auto& [args, multi] : cases) {
        const CliOptions options = Options(args);
        EXPECT_EQ(IsMultiRun(options, ExpandPlan(options)), multi) << args[0];
    }
}

// Sample 1 of two runs (5 ms each), a sample 2 of 12 ms, a failed sample 3, a
// sample 4 of 13 ms; a warm-up and a sizing run that do not count.
TEST(PointStatistics, SummaryOfHandMadeSamples) {
    RunRecord warmup = Record(0, 0.5);
    warmup.warmup = true;
    const PointResult point =
        PointOf({warmup, Record(0, 0.001), Record(1, 0.005), Record(1, 0.005), Record(2, 0.012),
                 Record(3, 0.011, false), Record(4, 0.013)});
    const PointSummary s = Summarise(point);
    EXPECT_EQ(s.samples, 4u);
    EXPECT_EQ(s.failed_samples, 1u);
    EXPECT_EQ(s.seconds, (std::vector<double>{0.005, 0.012, 0.013}));
    EXPECT_EQ(s.runs_per_sample, (std::vector<std::size_t>{2, 1, 1}));
    // The statistics are those of the figures alone.
    EXPECT_EQ(s.statistics.count, 3u);
    EXPECT_DOUBLE_EQ(s.statistics.min, 0.005);
    EXPECT_DOUBLE_EQ(s.statistics.median, 0.012);
    EXPECT_TRUE(s.noisy);
    EXPECT_FALSE(s.short_samples);  // sample 1 adds up to 10 ms exactly: not short
    EXPECT_TRUE(s.problem);
    EXPECT_EQ(ProblemText(point.runs[5]), "no product");

    // Short: a sample with a figure below 10 ms; failed samples never count.
    EXPECT_TRUE(Summarise(PointWithSamples({0.020, 0.009})).short_samples);
    EXPECT_FALSE(Summarise(PointOf({Record(1, 0.020), Record(2, 0.001, false)})).short_samples);

    const PointSummary failed =
        Summarise(PointOf({Record(1, 0.02, false), Record(2, 0.02, false)}));
    EXPECT_EQ(failed.samples, 2u);
    EXPECT_EQ(failed.failed_samples, 2u);
    EXPECT_EQ(failed.statistics.count, 0u);
    EXPECT_FALSE(failed.best_gflops);
    EXPECT_FALSE(failed.median_gflops);
    EXPECT_FALSE(failed.noisy);

    // A sample whose time on the fine clock is not positive (a clock that
    // stood still or stepped back) keeps its seconds but gives no GFLOPS.
    for (const double seconds : {0.0, -0.001, std::nan("")}) {
        const PointSummary still = Summarise(PointWithSamples({seconds}));
        EXPECT_EQ(still.seconds.size(), 1u) << seconds;
        EXPECT_FALSE(still.best_gflops) << seconds;
        EXPECT_FALSE(still.median_gflops) << seconds;
    }
}

// CPU time beside wall time: a point whose threads got under 80 % of the
// cores they could run on is flagged; threads beyond the usable cores do
// not raise what is expected; without a CPU clock nothing is claimed.
TEST(PointStatistics, CpuTimeShowsWhetherTheThreadsHadTheirCores) {
    const auto point = [](std::int32_t threads, double cpu_per_second) {
        std::vector<RunRecord> runs;
        for (std::size_t i = 1; i <= 3; ++i) {
            runs.push_back(Record(i, 0.02));
            runs.back().result.measurements.cpu_seconds = 0.02 * cpu_per_second;
        }
        PointResult p = PointOf(runs);
        p.shown.threads = threads;
        return p;
    };
    const PointSummary full = Summarise(point(2, 1.96), 2);
    ASSERT_TRUE(full.cpu_share.has_value());
    EXPECT_NEAR(*full.cpu_share, 0.98, 1e-12);
    EXPECT_FALSE(full.cpu_short);
    const PointSummary taken = Summarise(point(2, 1.2), 2);
    EXPECT_NEAR(*taken.cpu_share, 0.6, 1e-12);
    EXPECT_TRUE(taken.cpu_short);
    EXPECT_FALSE(Summarise(point(8, 1.9), 2).cpu_short);  // 8 threads on 2 cores
    EXPECT_TRUE(Summarise(point(1, 0.5), 16).cpu_short);  // one thread, half its core
    EXPECT_EQ(full.cpu_seconds.size(), 3u);
    const PointSummary no_clock = Summarise(PointWithSamples({0.02, 0.02}), 2);
    EXPECT_FALSE(no_clock.cpu_share.has_value());
    EXPECT_FALSE(no_clock.cpu_short);
}

TEST(PointStatistics, NoisyAboveFivePercentOverTwoSamplesOrMore) {
    EXPECT_TRUE(Summarise(PointWithSamples({0.100, 0.110})).noisy);   // CV 6.7 %
    EXPECT_FALSE(Summarise(PointWithSamples({0.100, 0.104})).noisy);  // CV 2.8 %
    EXPECT_FALSE(Summarise(PointWithSamples({0.100})).noisy);
    // Failed samples are left out of the statistics, not counted as zero.
    EXPECT_FALSE(
        Summarise(PointOf({Record(1, 0.100), Record(2, 0.0, false), Record(3, 0.101)})).noisy);
}

TEST(PointStatistics, WarmUpsAndUncompletedRuns) {
    RunRecord warmup = Record(0, 0.004);
    warmup.warmup = true;
    RunRecord alloc_error = Record(2, 0.008);
    alloc_error.result.outcome = RunOutcome::AllocError;
    alloc_error.result.product = false;
    alloc_error.result.notices = {"Alloc Error"};
    const PointResult point = PointOf({warmup, Record(1, 0.002), alloc_error});
    const PointSummary s = Summarise(point);
    EXPECT_EQ(s.samples, 2u);
    EXPECT_EQ(s.failed_samples, 1u);
    EXPECT_EQ(s.seconds, (std::vector<double>{0.002}));
    EXPECT_DOUBLE_EQ(*s.best_gflops, 1.0);
    EXPECT_TRUE(s.problem);
    EXPECT_EQ(s.check, "not run");
    EXPECT_EQ(ProblemText(point.runs.back()), "notice \"Alloc Error\"; run not completed");
    EXPECT_TRUE(AnyProblem({point}));
    EXPECT_TRUE(AnyFigure({point}));
    EXPECT_FALSE(AnyProblem({PointWithSamples({0.001})}));
    EXPECT_FALSE(AnyFigure({PointOf({Record(1, 0.001, false)})}));
}

TEST(PointStatistics, CheckVerdictAndLargestDifferenceOfAPoint) {
    PointResult point = PointWithSamples({0.001, 0.001});
    for (RunRecord& run : point.runs) run.result.check = CheckVerdict::Passed;
    point.runs[0].result.check_difference = 2e-17;
    point.runs[1].result.check_difference = 5e-17;
    PointSummary s = Summarise(point);
    EXPECT_EQ(s.check, "passed");
    EXPECT_EQ(s.check_difference, 5e-17);
    EXPECT_FALSE(s.problem);
    point.runs[1].result.check = CheckVerdict::Failed;
    s = Summarise(point);
    EXPECT_EQ(s.check, "failed");
    EXPECT_EQ(s.failed_samples, 1u);  // a failed check gives no figure
    EXPECT_TRUE(s.problem);
    EXPECT_EQ(ProblemText(point.runs[1]), "check failed");
    point.runs[1].result.check = CheckVerdict::NoReference;
    point.runs[1].result.check_difference = std::nan("");
    s = Summarise(point);
    EXPECT_EQ(s.check, "no reference");
    EXPECT_EQ(s.check_difference, 2e-17);  // a check without reference has no difference
    EXPECT_TRUE(s.problem);
    EXPECT_EQ(s.failed_samples, 0u);
    for (RunRecord& run : point.runs) {  // runs that stopped before their check
        run.result.outcome = RunOutcome::AllocError;
        run.result.check = CheckVerdict::NotRun;
        run.result.check_difference = std::nan("");
    }
    s = Summarise(point);
    EXPECT_EQ(s.check, "not run");
    EXPECT_FALSE(s.check_difference);
}

TEST(PlanRunner, WarmUpsThenSamplesWithProgress) {
    const Plan plan = ExpandPlan(Options({"--all", "-n", "64", "--repeat", "3", "--warmup", "1"}));
    Strings seen;
    PlanHooks hooks;
    hooks.run = Scripted([](std::size_t k) { return 0.001 * static_cast<double>(k + 1); });
    hooks.before_run = [&](const RunProgress& p) {
        seen.push_back(std::to_string(p.point_index) + "/" + std::to_string(p.points) +
                       (p.warmup ? " w" : " s") + std::to_string(p.round) + " m" +
                       std::to_string(p.point->params.method));
    };
    RecordingSink sink;
    const std::vector<PointResult> results = RunPlan(plan.points, Settings(1, 3), sink, hooks);
    ASSERT_EQ(results.size(), 5u);
    ASSERT_EQ(seen.size(), 20u);
    EXPECT_EQ(seen[0], "1/5 w1 m0");
    EXPECT_EQ(seen[1], "1/5 s1 m0");
    EXPECT_EQ(seen[4], "2/5 w1 m1");
    EXPECT_EQ(seen.back(), "5/5 s3 m4");
    std::vector<std::size_t> samples;
    for (const RunRecord& run : results[0].runs) samples.push_back(run.sample);
    EXPECT_EQ(samples, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_TRUE(results[0].runs[0].warmup);
    const PointSummary first = Summarise(results[0]);  // counted: 2, 3 and 4 ms
    EXPECT_DOUBLE_EQ(first.statistics.min, 0.002);
    EXPECT_DOUBLE_EQ(first.statistics.median, 0.003);
    EXPECT_TRUE(first.short_samples);  // unbatched samples stay short
    EXPECT_EQ(results[4].runs.back().sequence, 20u);
}

// Runs of 0.4 ms: a timed plan adds runs to a sample until it reaches 10 ms;
// the shorter samples before only size it and are not counted.
TEST(PlanRunner, BatchesShortRunsIntoSamplesOfTenMilliseconds) {
    const double run_seconds = 0.0004;
    PlanHooks hooks;
    hooks.run = Scripted(Always(run_seconds));
    std::vector<RunProgress> firsts;
    hooks.before_run = [&](const RunProgress& p) {
        if (p.first_of_sample) firsts.push_back(p);
    };
    RecordingSink sink;
    const std::vector<PointResult> results =
        RunPlan(OnePoint(), Settings(0, 2, 0, true), sink, hooks);
    ASSERT_EQ(results.size(), 1u);
    const PointSummary s = Summarise(results[0]);
    ASSERT_EQ(s.samples, 2u);
    const std::size_t runs = s.runs_per_sample[0];
    EXPECT_EQ(s.runs_per_sample[1], runs);
    EXPECT_GE(static_cast<double>(runs) * run_seconds, kMinSampleSeconds);
    EXPECT_LE(static_cast<double>(runs),
              1.5 * kMinSampleSeconds / run_seconds);      // no wild overshoot
    EXPECT_NEAR(s.statistics.median, run_seconds, 1e-15);  // seconds per product
    EXPECT_FALSE(s.short_samples);

    // The sizing runs come first, with sample 0; then the two samples.
    std::size_t sizing = 0;
    while (sizing < results[0].runs.size() && results[0].runs[sizing].sample == 0) ++sizing;
    EXPECT_GT(sizing, 0u);
    EXPECT_EQ(results[0].runs.size(), sizing + 2 * runs);
    for (std::size_t i = sizing; i < results[0].runs.size(); ++i) {
        EXPECT_EQ(results[0].runs[i].sample, i < sizing + runs ? 1u : 2u) << i;
    }
    ASSERT_GE(firsts.size(), 3u);
    EXPECT_EQ(firsts.back().round, 2u);
    EXPECT_EQ(firsts.back().runs_in_sample, runs);
    EXPECT_EQ(firsts.front().runs_in_sample, 1u);

    // Unbatched, each run is a sample, however short.
    hooks.before_run = nullptr;
    const PointSummary single = Summarise(RunPlan(OnePoint(), Settings(0, 2), sink, hooks)[0]);
    EXPECT_EQ(single.runs_per_sample, (std::vector<std::size_t>{1, 1}));
    EXPECT_TRUE(single.short_samples);
}

// A cold first call (25 ms, then 0.4 ms a run) is a warm-up: it is never
// counted, and it sizes the first batch, so no try shorter than 10 ms
// becomes a sample either.
TEST(PlanRunner, TheWarmUpIsNeverCountedAndSizesTheFirstSample) {
    PlanHooks hooks;
    hooks.run = Scripted([](std::size_t k) { return k == 0 ? 0.025 : 0.0004; });
    std::vector<std::size_t> sizes;
    hooks.before_run = [&](const RunProgress& p) {
        if (p.first_of_sample && !p.warmup) sizes.push_back(p.runs_in_sample);
    };
    RecordingSink sink;
    const PointResult cold = RunPlan(OnePoint(), Settings(1, 2, 0, true), sink, hooks)[0];
    EXPECT_TRUE(cold.runs[0].warmup);
    EXPECT_EQ(cold.runs[0].sample, 0u);
    const PointSummary s = Summarise(cold);
    ASSERT_EQ(s.samples, 2u);
    for (const double seconds : s.seconds)
        EXPECT_NEAR(seconds, 0.0004, 1e-15);  // the cold call is in no sample
    EXPECT_GE(static_cast<double>(s.runs_per_sample[0]) * 0.0004, kMinSampleSeconds);

    // A warm-up of 0.4 ms sizes the first try at ten runs, not one.
    sizes.clear();
    hooks.run = Scripted(Always(0.0004));
    RunPlan(OnePoint(), Settings(1, 1, 0, true), sink, hooks);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.front(), 10u);
}

// Runs of 4 ms, batched; the third run computes nothing.
TEST(PlanRunner, ARunWithoutProductEndsItsSampleAsFailed) {
    PlanHooks hooks;
    hooks.run = Scripted(Always(0.004), {2});
    RecordingSink sink;
    const PointResult point = RunPlan(OnePoint(), Settings(0, 2, 0, true), sink, hooks).at(0);
    std::size_t failed = 0;
    while (failed < point.runs.size() && point.runs[failed].result.product) ++failed;
    ASSERT_EQ(failed, 2u);
    const std::size_t sample = point.runs[failed].sample;
    ASSERT_GT(sample, 0u);  // it counted
    ASSERT_LT(failed + 1, point.runs.size());
    EXPECT_EQ(point.runs[failed + 1].sample, sample + 1);  // the next run starts a new sample
    const PointSummary s = Summarise(point);
    EXPECT_EQ(s.samples, 2u);
    EXPECT_EQ(s.failed_samples, 1u);
    ASSERT_EQ(s.seconds.size(), 1u);
    EXPECT_NEAR(s.seconds[0], 0.004, 1e-15);
    EXPECT_TRUE(s.problem);
}

TEST(PlanRunner, MinimumTimeAddsSamplesUntilReached) {
    const double run_seconds = 1.0 / 32;  // exact in binary: 4 samples reach 0.1 s
    PlanHooks hooks;
    hooks.run = Scripted(Always(run_seconds));
    RecordingSink sink;
    EXPECT_EQ(Summarise(RunPlan(OnePoint(), Settings(1, 1, 0.1, true), sink, hooks)[0]).samples,
              4u);
    EXPECT_EQ(Summarise(RunPlan(OnePoint(), Settings(0, 6, 0.1, true), sink, hooks)[0]).samples,
              6u);
    EXPECT_EQ(Summarise(RunPlan(OnePoint(), Settings(0, 2, 0.0, true), sink, hooks)[0]).samples,
              2u);

    // A point that computes nothing takes no more than its repeats.
    auto calls = std::make_shared<std::size_t>(0);
    hooks.run = Scripted(Always(run_seconds), {0, 1, 2, 3, 4, 5}, calls);
    const PointSummary none =
        Summarise(RunPlan(OnePoint(), Settings(0, 2, 10.0, true), sink, hooks)[0]);
    EXPECT_EQ(*calls, 2u);
    EXPECT_EQ(none.failed_samples, 2u);
}

TEST(PlanRunner, AStopEndsThePlanAfterTheRunAtHand) {
    const Plan plan = ExpandPlan(Options({"--sizes", "64,128,192", "--l-block", "64"}));
    const auto run_until_stop = [&plan](std::size_t stop_after, std::size_t& calls,
                                        std::size_t& finished) {
        std::atomic<bool> stop{stop_after == 0};
        auto counter = std::make_shared<std::size_t>(0);
        PlanHooks hooks;
        hooks.run = Scripted(Always(0.02), {}, counter);
        hooks.stop = &stop;
        hooks.after_run = [&](const RunProgress&, const RunRecord& run) {
            if (run.sequence == stop_after) stop = true;
        };
        finished = 0;
        hooks.after_point = [&](const PointResult&) { ++finished; };
        RecordingSink sink;
        std::vector<PointResult> results = RunPlan(plan.points, Settings(0, 3), sink, hooks);
        calls = *counter;
        return results;
    };
    std::size_t calls = 0, finished = 0;
    // In the middle of point 2: it is kept with its two runs and marked.
    std::vector<PointResult> results = run_until_stop(5, calls, finished);
    EXPECT_EQ(calls, 5u);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0].interrupted);
    EXPECT_EQ(results[0].runs.size(), 3u);
    EXPECT_TRUE(results[1].interrupted);
    EXPECT_EQ(results[1].runs.size(), 2u);
    EXPECT_EQ(Summarise(results[1]).samples, 2u);
    EXPECT_EQ(finished, 1u);  // an interrupted point is not reported as finished

    // After the last run of point 1: the point is whole, nothing else runs.
    results = run_until_stop(3, calls, finished);
    EXPECT_EQ(calls, 3u);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].interrupted);
    EXPECT_EQ(finished, 1u);

    // Before the plan: nothing runs.
    results = run_until_stop(0, calls, finished);
    EXPECT_EQ(calls, 0u);
    EXPECT_TRUE(results.empty());
}

// Every run keeps the notices it showed; each text is passed on once per
// point, so a batched sample does not show it once per run.
TEST(PlanRunner, KeepsEachNoticeWithItsRunAndPassesItOnOncePerPoint) {
    NoticeRecorder outer;
    RecordingSink sink;
    const Plan plan = ExpandPlan(Options({"--method", "0,1", "-n", "8", "--parallel-kind", "tbb"}));
    const std::vector<PointResult> results = RunPlan(plan.points, Settings(0, 2), sink);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(outer.notices, (Strings{"TBB does not support"}));
    ASSERT_EQ(results[0].runs.size(), 2u);
    for (const RunRecord& run : results[0].runs) EXPECT_TRUE(run.result.notices.empty());
    ASSERT_EQ(results[1].runs.size(), 2u);
    for (const RunRecord& run : results[1].runs) {
        EXPECT_EQ(run.result.notices, (Strings{"TBB does not support"}));
        EXPECT_FALSE(run.result.product);
    }
    ShowNotice("after the plan");  // the earlier handler is back
    EXPECT_EQ(outer.notices.back(), "after the plan");
}

// Real runs of Classic; the fine clock is read at the start and the end of
// each timed span: 9 ms for the warm-up, then 5, 3 and 9 ms.
TEST(PlanRunner, RealRunsWithAKnownFineClock) {
    NoticeRecorder notices;
    ScopedFineReadings clock({0, 0.009, 1, 1.005, 2, 2.003, 3, 3.009});
    RecordingSink sink;
    const Plan plan =
        ExpandPlan(Options({"-n", "20", "--l-block", "8", "--check", "--chunk", "500"}));
    const std::vector<PointResult> results = RunPlan(plan.points, Settings(1, 3), sink);
    ASSERT_EQ(results.size(), 1u);
    const PointSummary s = Summarise(results[0]);
    EXPECT_EQ(s.samples, 3u);
    ASSERT_EQ(s.seconds.size(), 3u);
    EXPECT_NEAR(s.seconds[0], 0.005, 1e-12);
    EXPECT_NEAR(s.statistics.min, 0.003, 1e-12);
    EXPECT_NEAR(s.statistics.median, 0.005, 1e-12);
    EXPECT_EQ(s.check, "passed");
    ASSERT_TRUE(s.check_difference);
    EXPECT_LT(*s.check_difference, 1e-12);
    EXPECT_EQ(s.kernel_form, "scalar r-c-k loop");
    EXPECT_EQ(results[0].shown.n, 16);  // n 20 runs as 16
    EXPECT_EQ(results[0].shown.chunk, 16u);
    EXPECT_EQ(sink.lines.size(), 4u * 4u);
    EXPECT_TRUE(notices.notices.empty());
}

// /proc/stat in clock ticks (USER_HZ, 100 a second here): user, nice,
// system, idle, iowait, irq, softirq, steal. Other processes' use is the
// machine's busy time less this process's own.
TEST(LoadCheck, WarnsOfOtherWorkAndStolenTimeOnly) {
    const std::string root = ::testing::TempDir() + "vorp_load_" + std::to_string(getpid());
    std::filesystem::create_directories(root + "/proc");
    std::ofstream(root + "/proc/stat")
        << "cpu  1000 0 500 8000 100 0 0 0 0 0\ncpu0 500 0 250 4000 50 0 0 0 0 0\n";
    const std::optional<MachineCpu> read = ReadMachineCpu(root);
    std::filesystem::remove_all(root);
    ASSERT_TRUE(read.has_value());
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    EXPECT_DOUBLE_EQ(read->busy, 1500 / hz);
    EXPECT_DOUBLE_EQ(read->total, 9600 / hz);
    EXPECT_FALSE(ReadMachineCpu("/nonexistent").has_value());

    const MachineCpu before{10, 0, 100};
    // Over 1 s on 2 cores: 1.2 s busy, of which this process 1.0 s: quiet.
    EXPECT_EQ(LoadWarning(before, {11.2, 0, 102}, 1.0, 1.0, 2), "");
    // 1.8 s busy, 1.0 s own: another process had most of a core.
    const std::string busy = LoadWarning(before, {11.8, 0, 102}, 1.0, 1.0, 2);
    EXPECT_NE(busy.find("0.8 of 2 cores busy outside vorp-cli"), std::string::npos) << busy;
    // A hypervisor stole 15 % of the machine's time.
    const std::string stolen = LoadWarning(before, {10.5, 0.3, 102}, 0.5, 1.0, 2);
    EXPECT_NE(stolen.find("15% stolen"), std::string::npos) << stolen;
}
