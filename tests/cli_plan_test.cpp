// The plan of a vorp-cli invocation, the runner and the statistics of its
// summaries, without the binary.
#include <gtest/gtest.h>

#include <cmath>

#include "plan_runner.h"
#include "run_plan.h"
#include "run_results.h"
#include "support/recorders.h"

namespace {
using Sizes = std::vector<std::int32_t>;

CliOptions Options(std::vector<std::string> args) {
    const CliParseResult parsed = ParseCommandLine(args, 2);
    EXPECT_EQ(parsed.error, "");
    return parsed.options;
}

// A runner that takes the given durations in turn and completes every run.
PointRunFunction ScriptedDurations(std::vector<double> seconds) {
    return [seconds, next = std::size_t{0}](const PlannedPoint&, RunParameters& params,
                                            ReportSink&) mutable {
        RunResult result;
        result.outcome = RunOutcome::Completed;
        result.measurements.duration_seconds = seconds.at(next++);
        NormaliseOrderAndBlock(params.n, params.l_block);
        return result;
    };
}

PointResult PointWithCountedTimes(std::vector<double> seconds, std::int32_t n = 100) {
    PointResult point;
    point.point.params.n = n;
    point.shown = NormalisedParameters(point.point);
    for (const double s : seconds) {
        RunRecord& run = point.runs.emplace_back();
        run.result.outcome = RunOutcome::Completed;
        run.result.measurements.duration_seconds = s;
    }
    return point;
}
}  // namespace

TEST(SizeList, ListsAndRanges) {
    EXPECT_EQ(ParseSizeList("200,400,800").values, (Sizes{200, 400, 800}));
    EXPECT_EQ(ParseSizeList("7").values, (Sizes{7}));
    EXPECT_EQ(ParseSizeList("200:1000:200").values, (Sizes{200, 400, 600, 800, 1000}));
    EXPECT_EQ(ParseSizeList("100:250:100").values, (Sizes{100, 200}));  // TO only when a step lands on it
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
    EXPECT_EQ(ParseSizeList("300:200:10").error, "--sizes: FROM must not exceed TO, got '300:200:10'");
    EXPECT_EQ(ParseSizeList("1:1001:1").error, "--sizes: '1:1001:1' gives more than 1000 sizes");
    std::string many = "1";
    for (int i = 0; i < 1000; ++i) many += ",1";
    EXPECT_EQ(ParseSizeList(many).error, "--sizes: more than 1000 entries");
    for (const char* text : {"0", "129", "1,,2", "1 2", "1:2:1"}) {
        EXPECT_EQ(ParseThreadList(text).error.rfind("--threads-list: expected whole numbers from 1 to 128", 0), 0u)
            << text;
    }
}

TEST(Plan, SizesThenThreadsThenMethodsThenReference) {
    CliOptions options = Options({"--all", "--sizes", "64,128", "--threads-list", "1,2", "--repeat", "3",
                                  "--warmup", "1"});
    options.reference = true;  // as --reference would set it where OpenBLAS is built in
    const std::vector<PlannedPoint> plan = ExpandPlan(options);
    ASSERT_EQ(plan.size(), 2u * 2u * 6u);
    EXPECT_EQ(TotalRuns(plan, options), 24u * 4u);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const PlannedPoint& p = plan[i];
        EXPECT_EQ(p.params.n, i < 12 ? 64 : 128);
        EXPECT_EQ(p.params.threads, (i / 6) % 2 == 0 ? 1 : 2);
        EXPECT_EQ(p.reference, i % 6 == 5);
        if (!p.reference) {
            EXPECT_EQ(p.params.method, static_cast<std::int32_t>(i % 6));
        }
    }
    EXPECT_EQ(PointMethodKey(plan[4]), "vector-pack");
    EXPECT_EQ(PointMethodKey(plan[5]), "openblas");

    const std::vector<PlannedPoint> single = ExpandPlan(Options({"--method", "3", "-n", "90", "--threads", "2"}));
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].params.method, 3);
    EXPECT_EQ(single[0].params.n, 90);
    EXPECT_EQ(single[0].params.threads, 2);
}

TEST(Plan, NormalisedParametersAreThoseOfTheRun) {
    CliOptions options = Options({"--sizes", "2000,10,100", "--l-block", "7", "--threads-list", "8"});
    const std::vector<PlannedPoint> plan = ExpandPlan(options);
    const RunParameters a = NormalisedParameters(plan[0]);
    EXPECT_EQ(a.l_block, 4);
    EXPECT_EQ(a.n, 2000);
    EXPECT_EQ(a.chunk, 100u);
    const RunParameters b = NormalisedParameters(plan[1]);
    EXPECT_EQ(b.l_block, 4);
    EXPECT_EQ(b.n, 8);
    EXPECT_EQ(b.chunk, 1u);
    options = Options({"--sizes", "2000"});
    EXPECT_EQ(NormalisedParameters(ExpandPlan(options)[0]).n, 1936);
}

TEST(Statistics, BestAndMedian) {
    TimingSummary s = SummariseTimes({0.005, 0.003, 0.009});
    EXPECT_EQ(s.count, 3u);
    EXPECT_DOUBLE_EQ(s.best_seconds, 0.003);
    EXPECT_DOUBLE_EQ(s.median_seconds, 0.005);
    s = SummariseTimes({0.004, 0.001, 0.010, 0.002});  // even count: mean of the middle two
    EXPECT_DOUBLE_EQ(s.best_seconds, 0.001);
    EXPECT_DOUBLE_EQ(s.median_seconds, 0.003);
    s = SummariseTimes({0.25});
    EXPECT_DOUBLE_EQ(s.best_seconds, 0.25);
    EXPECT_DOUBLE_EQ(s.median_seconds, 0.25);
    EXPECT_EQ(SummariseTimes({}).count, 0u);

    EXPECT_DOUBLE_EQ(*GflopsAt(2e9, 0.5), 4.0);
    EXPECT_FALSE(GflopsAt(2e9, 0.0));  // less than a tick: no figure
    EXPECT_FALSE(GflopsAt(2e9, -0.001));
    EXPECT_FALSE(GflopsAt(2e9, std::nan("")));
}

TEST(Statistics, SummaryCountsOnlyCompletedCountedRuns) {
    PointResult point = PointWithCountedTimes({0.004, 0.002, 0.008}, 100);
    point.runs.front().warmup = true;           // 0.004 is a warm-up
    point.runs.back().result.outcome = RunOutcome::AllocError;  // 0.008 never completed
    point.runs.back().notices = {"Alloc Error"};
    const PointSummary s = Summarise(point);
    EXPECT_EQ(s.timing.count, 1u);
    EXPECT_DOUBLE_EQ(s.timing.best_seconds, 0.002);
    EXPECT_DOUBLE_EQ(s.operations, 2e6);
    EXPECT_DOUBLE_EQ(*s.best_gflops, 1.0);
    EXPECT_TRUE(s.problem);
    EXPECT_EQ(s.check, "not run");
    EXPECT_EQ(ProblemText(point.runs.back()), "notice \"Alloc Error\"; run not completed");
    EXPECT_TRUE(AnyProblem({point}));
    EXPECT_FALSE(AnyProblem({PointWithCountedTimes({0.001})}));
}

TEST(Statistics, CheckVerdictOfAPoint) {
    PointResult point = PointWithCountedTimes({0.001, 0.001});
    point.point.params.check = true;
    for (RunRecord& run : point.runs) run.result.check = CheckVerdict::Passed;
    EXPECT_EQ(Summarise(point).check, "passed");
    EXPECT_FALSE(Summarise(point).problem);
    point.runs[1].result.check = CheckVerdict::Failed;
    EXPECT_EQ(Summarise(point).check, "failed");
    EXPECT_TRUE(Summarise(point).problem);
    EXPECT_EQ(ProblemText(point.runs[1]), "check failed");
    point.runs[1].result.check = CheckVerdict::NoReference;
    EXPECT_EQ(Summarise(point).check, "no reference");
    for (RunRecord& run : point.runs) {  // runs that stopped before their check
        run.result.outcome = RunOutcome::AllocError;
        run.result.check = CheckVerdict::NotRun;
    }
    EXPECT_EQ(Summarise(point).check, "not run");
}

TEST(PlanRunner, WarmUpsThenCountedRunsWithProgress) {
    const CliOptions options = Options({"--all", "-n", "64", "--repeat", "3", "--warmup", "1"});
    const std::vector<PlannedPoint> plan = ExpandPlan(options);
    std::vector<double> seconds;
    for (int i = 0; i < 20; ++i) seconds.push_back(0.001 * (i + 1));
    std::vector<std::string> seen;
    PlanHooks hooks;
    hooks.run = ScriptedDurations(seconds);
    hooks.before_run = [&](const RunProgress& p) {
        seen.push_back(std::to_string(p.sequence) + "/" + std::to_string(p.total) +
                       (p.warmup ? " w" : " c") + std::to_string(p.round) + "/" + std::to_string(p.rounds) +
                       " m" + std::to_string(p.point->params.method));
    };
    RecordingSink sink;
    const std::vector<PointResult> results = RunPlan(plan, 1, 3, sink, hooks);
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(seen.front(), "1/20 w1/1 m0");
    EXPECT_EQ(seen[1], "2/20 c1/3 m0");
    EXPECT_EQ(seen[4], "5/20 w1/1 m1");
    EXPECT_EQ(seen.back(), "20/20 c3/3 m4");
    const PointSummary first = Summarise(results[0]);  // counted: 2, 3 and 4 ms
    EXPECT_DOUBLE_EQ(first.timing.best_seconds, 0.002);
    EXPECT_DOUBLE_EQ(first.timing.median_seconds, 0.003);
    EXPECT_EQ(results[4].runs.back().sequence, 20u);
}

TEST(PlanRunner, RecordsEachNoticeWithItsRunAndPassesItOn) {
    NoticeRecorder outer;
    PlanHooks hooks;
    hooks.run = [](const PlannedPoint& point, RunParameters&, ReportSink&) {
        if (point.params.method == kMethodHp) ShowNotice("TBB does not support");
        RunResult result;
        result.outcome = RunOutcome::Completed;
        return result;
    };
    RecordingSink sink;
    const std::vector<PointResult> results =
        RunPlan(ExpandPlan(Options({"--all", "-n", "8", "--repeat", "2"})), 0, 2, sink, hooks);
    EXPECT_EQ(outer.notices, (std::vector<std::string>{"TBB does not support", "TBB does not support"}));
    EXPECT_TRUE(results[0].runs[0].notices.empty());
    EXPECT_EQ(results[1].runs[1].notices, (std::vector<std::string>{"TBB does not support"}));
    EXPECT_TRUE(results[2].runs[0].notices.empty());
    ShowNotice("after the plan");  // the earlier handler is back
    EXPECT_EQ(outer.notices.back(), "after the plan");
}

TEST(PlanRunner, RealRunsWithAKnownClock) {
    NoticeRecorder notices;
    // Each run reads the clock at its start and its end: 9 ms warm-up, then 5, 3 and 9 ms.
    ScopedTicks ticks({0, 9, 100, 105, 200, 203, 300, 309});
    RecordingSink sink;
    const std::vector<PointResult> results =
        RunPlan(ExpandPlan(Options({"-n", "20", "--l-block", "8", "--check", "--chunk", "500"})), 1, 3, sink);
    ASSERT_EQ(results.size(), 1u);
    const PointSummary s = Summarise(results[0]);
    EXPECT_EQ(s.timing.count, 3u);
    EXPECT_DOUBLE_EQ(s.timing.best_seconds, 0.003);
    EXPECT_DOUBLE_EQ(s.timing.median_seconds, 0.005);
    EXPECT_DOUBLE_EQ(*s.best_gflops, 2.0 * 16 * 16 * 16 * 1e-9 / 0.003);  // n 20 runs as 16
    EXPECT_EQ(s.check, "passed");
    EXPECT_EQ(results[0].shown.n, 16);
    EXPECT_EQ(results[0].shown.chunk, 16u);
    EXPECT_EQ(sink.lines.size(), 4u * 4u);
    EXPECT_TRUE(notices.notices.empty());
}
