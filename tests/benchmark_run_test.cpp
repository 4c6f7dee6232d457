#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <utility>
#include <vector>

#include "benchmark_run.h"
#include "stop.h"
#include "support/recorders.h"

namespace {
using Lines = std::vector<std::string>;

RunParameters Params(int method, int n, int l_block = 176, int threads = 1) {
    RunParameters params;
    params.method = method;
    params.n = n;
    params.l_block = l_block;
    params.threads = threads;
    return params;
}

bool Empty(const RunBuffers& buffers) {
    return !buffers.a && !buffers.b && !buffers.c && !buffers.scratch_rows &&
           buffers.scratch_row_count == 0;
}
}  // namespace

TEST(BenchmarkRun, ReportsTheTimedProductLineByLine) {
    NoticeRecorder notices;
    ScopedTicks ticks({1000, 1250});
    RecordingSink sink;
    RunParameters params = Params(kMethodClassic, 100);
    const RunResult result = RunBenchmark(params, sink);
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(sink.lines, (Lines{"Matrices are prepared", "DURATION:  0.25  s", "OPS:  2e+06",
                                 "Performance:  8  Mflops"}));
    EXPECT_EQ(result.measurements.start_tick, 1000);
    EXPECT_EQ(result.measurements.mflops, 8);
    EXPECT_TRUE(notices.notices.empty());
}

// A desktop session's locale may write numbers with a decimal comma; the
// report lines read the same in every front end. (The locale is built from
// the system's sources into a scratch directory; skipped where it cannot be.)
TEST(BenchmarkRun, ReportLinesUseAPointInEveryLocale) {
    const std::string dir = ::testing::TempDir() + "vorp_locale_" + std::to_string(getpid());
    const std::string build = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(("mkdir -p " + dir).c_str()) != 0 || std::system(build.c_str()) != 0) {
        GTEST_SKIP() << "localedef could not build de_DE.UTF-8";
    }
    setenv("LOCPATH", dir.c_str(), 1);
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr && [] {
        char text[16];
        std::snprintf(text, sizeof text, "%g", 0.25);
        return std::string(text) == "0,25";
    }();
    ScopedTicks ticks({1000, 1250});
    RecordingSink sink;
    RunParameters params = Params(kMethodClassic, 100);
    RunBenchmark(params, sink);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    std::system(("rm -rf " + dir).c_str());
    ASSERT_TRUE(comma) << "the locale did not take effect";
    EXPECT_EQ(sink.lines, (Lines{"Matrices are prepared", "DURATION:  0.25  s", "OPS:  2e+06",
                                 "Performance:  8  Mflops"}));
}

TEST(BenchmarkRun, ARunShorterThanOneTickHasNoPerformance) {
    ScopedTicks ticks({77, 77});
    RecordingSink sink;
    RunParameters params = Params(kMethodClassic, 8);
    RunBenchmark(params, sink);
    ASSERT_EQ(sink.lines.size(), 4u);
    EXPECT_EQ(sink.lines[1], "DURATION:  0  s");
    EXPECT_EQ(sink.lines[3], "Performance:  -1  Mflops");
}

// The run returns the values it used; the caller's parameters stay as they
// were, so the same parameters run the same way again.
TEST(BenchmarkRun, ReturnsTheNormalisedParametersItUsed) {
    RecordingSink sink;
    RunParameters params = Params(kMethodHp, 10, 176, 0);
    params.chunk = 100;
    params.check = true;
    for (int again = 0; again < 2; ++again) {
        const RunResult result = RunBenchmark(params, sink);
        ASSERT_EQ(result.outcome, RunOutcome::Completed);
        EXPECT_EQ(result.parameters.n, 10);
        EXPECT_EQ(result.parameters.l_block, 10);
        EXPECT_EQ(result.parameters.threads, 1);
        EXPECT_EQ(result.parameters.chunk, 10u);
        EXPECT_EQ(result.parameters.method, kMethodHp);
        EXPECT_TRUE(result.parameters.check);
        EXPECT_EQ(params.l_block, 176);
        EXPECT_EQ(params.threads, 0);
        EXPECT_EQ(params.chunk, 100u);
    }

    const RunResult lowered = RunBenchmark(Params(kMethodClassic, 203, 7, 8), sink);
    EXPECT_EQ(lowered.parameters.l_block, 4);
    EXPECT_EQ(lowered.parameters.n, 200);
    EXPECT_EQ(lowered.parameters.chunk, 25u);
    EXPECT_EQ(sink.lines.size(), 3u * 4u);
}

TEST(BenchmarkRun, TheCheckRunsAfterTimingAndPasses) {
    NoticeRecorder notices;
    RecordingSink sink;
    RunParameters params = Params(kMethodClassic, 30);
    params.check = true;
    EXPECT_EQ(RunBenchmark(params, sink).check, CheckVerdict::Passed);
    EXPECT_EQ(sink.lines.size(), 4u);
    EXPECT_TRUE(notices.notices.empty());
}

TEST(BenchmarkRun, RefusesValuesWithNoDefinedOutcome) {
    // Threads above 128 never reach the OpenMP runtime; below 1 they run as 1.
    for (RunParameters params :
         {Params(0, 0), Params(0, 46341), Params(0, 100, 3), Params(5, 100),
          Params(kMethodHp, 100, 176, 129), Params(kMethodHp, 100, 176, 100000)}) {
        NoticeRecorder notices;
        RecordingSink sink;
        const RunResult result = RunBenchmark(params, sink);
        EXPECT_EQ(result.outcome, RunOutcome::Refused);
        EXPECT_TRUE(sink.lines.empty());
        EXPECT_EQ(notices.notices.size(), 1u);
        EXPECT_EQ(result.notices, notices.notices);
        EXPECT_FALSE(result.product);
        // The parameters as given: nothing was normalised.
        EXPECT_EQ(result.parameters.n, params.n);
        EXPECT_EQ(result.parameters.l_block, params.l_block);
        EXPECT_EQ(result.parameters.threads, params.threads);
    }
}

TEST(BenchmarkRun, EachMatrixAllocationFailureReleasesEverything) {
    const long live_before = memory_testing::LiveAllocations();
    for (int nth = 1; nth <= 3; ++nth) {
        NoticeRecorder notices;
        RecordingSink sink;
        RunBuffers buffers;
        RunParameters params = Params(kMethodClassic, 50, 7, 0);
        ScopedAllocationFailure fail(nth);
        const RunResult result = RunBenchmark(params, sink, buffers);
        EXPECT_EQ(result.outcome, RunOutcome::AllocError);
        EXPECT_EQ(notices.notices, Lines{"Alloc Error"});
        EXPECT_EQ(result.notices, Lines{"Alloc Error"});
        EXPECT_TRUE(sink.lines.empty());
        EXPECT_TRUE(Empty(buffers));
        // The normalised values the run had begun with.
        EXPECT_EQ(result.parameters.l_block, 4);
        EXPECT_EQ(result.parameters.n, 48);
        EXPECT_EQ(result.parameters.threads, 1);
        EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
    }
}

TEST(BenchmarkRun, MemoryTheMachineCannotBackIsAnAllocError) {
    const long live_before = memory_testing::LiveAllocations();
    const std::uint64_t matrices = 3 * (50 * 50 + 2) * sizeof(double);
    {
        NoticeRecorder notices;
        RecordingSink sink;
        ScopedAvailableMemory tight(matrices - 1);
        RunParameters params = Params(kMethodClassic, 50);
        EXPECT_EQ(RunBenchmark(params, sink).outcome, RunOutcome::AllocError);
        EXPECT_EQ(notices.notices, Lines{"Alloc Error"});
    }
    {
        // The matrices fit, the check's reference does not (the fourth
        // allocation, after A, B and C): the run goes ahead and only the
        // check gives up.
        NoticeRecorder notices;
        RecordingSink sink;
        ScopedAvailableMemory tight(matrices);  // A, B and C alone are guarded up front
        ScopedAllocationFailure no_reference(4);
        RunParameters params = Params(kMethodClassic, 50);
        params.check = true;
        const RunResult result = RunBenchmark(params, sink);
        EXPECT_EQ(result.outcome, RunOutcome::Completed);
        EXPECT_TRUE(result.product);
        EXPECT_EQ(result.check, CheckVerdict::NoReference);
        EXPECT_EQ(notices.notices, Lines{"Memory allocation error during check"});
        EXPECT_EQ(sink.lines.size(), 4u);  // the report lines follow
    }
    EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
}

// Everything a run allocates is weighed before the first allocation:
// method 3's scratch rows with the matrices; and the memory is looked at
// again while the matrices are first touched, as another process may take
// it meanwhile (the kernel would kill this one rather than refuse it).
TEST(BenchmarkRun, TheGuardWeighsAllARunTakesAndLooksAgainWhileTouching) {
    const long live_before = memory_testing::LiveAllocations();
    const std::uint64_t matrices = 3 * (64 * 64 + 2) * sizeof(double);
    {
        NoticeRecorder notices;
        RecordingSink sink;
        ScopedAvailableMemory tight(matrices + 1024);  // less than 64 rows of 65 doubles more
        RunParameters block_cache = Params(kMethodBlockCache, 64, 64);
        EXPECT_EQ(RunBenchmark(block_cache, sink).outcome, RunOutcome::Completed);
        RunParameters pack = Params(kMethodBlockPack2x2, 64, 64);
        EXPECT_EQ(RunBenchmark(pack, sink).outcome, RunOutcome::AllocError);
        EXPECT_EQ(notices.notices, Lines{"Alloc Error"});
    }
    {
        // Order 1700: three matrices of 22 MiB, zeroed in 32 MiB pieces; the
        // memory is gone after the up-front look.
        NoticeRecorder notices;
        RecordingSink sink;
        int looks = 0;
        memory_testing::OverrideAvailableMemory(std::function<std::uint64_t()>(
            [&looks]() -> std::uint64_t { return ++looks == 1 ? UINT64_MAX : 0; }));
        RunParameters params = Params(kMethodClassic, 1700, 1700);
        RunBuffers buffers;
        EXPECT_EQ(RunBenchmark(params, sink, buffers).outcome, RunOutcome::AllocError);
        memory_testing::OverrideAvailableMemory(std::nullopt);
        EXPECT_EQ(looks, 2);
        EXPECT_EQ(notices.notices, Lines{"Alloc Error"});
        EXPECT_TRUE(sink.lines.empty());
        EXPECT_TRUE(Empty(buffers));
    }
    EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
}

TEST(BenchmarkRun, ScratchRowFailureComesAfterPreparation) {
    const long live_before = memory_testing::LiveAllocations();
    // Allocations: A, B, C, the row table, then one row per table entry.
    for (int nth : {4, 5, 6, 4 + 8}) {
        NoticeRecorder notices;
        RecordingSink sink;
        RunBuffers buffers;
        RunParameters params = Params(kMethodBlockPack2x2, 16, 8);
        ScopedAllocationFailure fail(nth);
        EXPECT_EQ(RunBenchmark(params, sink, buffers).outcome, RunOutcome::AllocError) << nth;
        EXPECT_EQ(notices.notices, Lines{"Alloc Error"});
        EXPECT_EQ(sink.lines, Lines{"Matrices are prepared"});
        EXPECT_TRUE(Empty(buffers));
        EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
    }
}

TEST(BenchmarkRun, ReleaseMatricesIsSafeOnEmptyBuffers) {
    RunBuffers buffers;
    ReleaseMatrices(buffers);
    ReleaseMatrices(buffers);
    EXPECT_TRUE(Empty(buffers));
}

TEST(BenchmarkRun, TheUsersTimeAtANoticeIsNotTimed) {
    // HP with the TBB choice shows its notice inside the timed span; the user
    // takes 3 s to answer it.
    ScopedManualClocks clocks;
    const NoticeHandler previous = SetNoticeHandler([&](const std::string&) { clocks.now += 3.0; });
    RecordingSink sink;
    RunParameters params = Params(kMethodHp, 40);
    params.parallel_kind = kParallelTbb;
    const RunResult result = RunBenchmark(params, sink);
    SetNoticeHandler(previous);
    EXPECT_EQ(result.measurements.duration_seconds, 0);
    EXPECT_EQ(result.measurements.fine_seconds, 0);
    EXPECT_EQ(sink.lines[1], "DURATION:  0  s");
    // The run clocks stood still while the notice waited and run on after it.
    const double before = RunFineSeconds();
    clocks.now += 0.25;
    EXPECT_DOUBLE_EQ(RunFineSeconds() - before, 0.25);
}

TEST(BenchmarkRun, RunClocksStandStillDuringAPauseFromAnyThread) {
    ScopedManualClocks clocks;
    const double tick = RunTickMilliseconds(), fine = RunFineSeconds();
    {
        const ClockPause outer;
        clocks.now += 1.0;
        EXPECT_EQ(RunTickMilliseconds(), tick);
        {
            const ClockPause inner;
            clocks.now += 1.0;
        }
        EXPECT_EQ(RunFineSeconds(), fine);  // still inside the outer pause
        clocks.now += 1.0;
    }
    clocks.now += 0.5;
    EXPECT_EQ(RunTickMilliseconds() - tick, 500);
    EXPECT_DOUBLE_EQ(RunFineSeconds() - fine, 0.5);
}

// Whether there is a product is the method's own word; a notice alone says
// nothing of it. The run keeps the notices it showed, in order, and each
// still reached the handler.
TEST(BenchmarkRun, AMethodThatGivesUpHasNoProduct) {
    struct Case {
        RunParameters params;
        bool product;
        Lines notices;
    };
    RunParameters hp_tbb = Params(kMethodHp, 40), cache_tbb = Params(kMethodBlockCache, 40, 8),
                  vector_tbb = Params(kMethodVectorPack, 40, 8);
    hp_tbb.parallel_kind = cache_tbb.parallel_kind = vector_tbb.parallel_kind = kParallelTbb;
    for (const Case& c : {Case{hp_tbb, false, {"TBB does not support"}},
                          Case{cache_tbb, true, {"TBB does not support"}},  // computes all the same
                          Case{vector_tbb, true, {"TBB does not support"}},
                          Case{Params(kMethodClassic, 40), true, {}}}) {
        NoticeRecorder notices;
        RecordingSink sink;
        RunParameters params = c.params;
        params.check = true;
        const RunResult result = RunBenchmark(params, sink);
        EXPECT_EQ(result.outcome, RunOutcome::Completed);
        EXPECT_EQ(result.product, c.product) << c.params.method;
        EXPECT_EQ(result.notices, c.notices) << c.params.method;
        EXPECT_EQ(notices.notices, c.notices) << c.params.method;
        // The report lines stay as they are (method 4 adds its vectorisation line).
        EXPECT_EQ(sink.lines.size(), c.params.method == kMethodVectorPack ? 5u : 4u);
        // Nothing computed, nothing checked: a refusal never reads as a
        // failed check ("Check Error").
        EXPECT_EQ(result.check, c.product ? CheckVerdict::Passed : CheckVerdict::NoProduct);
    }
    // The notices of a failed check come in the order shown, after the
    // method's: a product override that gives a wrong C and none.
    for (const bool product : {true, false}) {
        NoticeRecorder notices;
        RecordingSink sink;
        RunBuffers buffers;
        RunParameters params = Params(kMethodClassic, 8);
        params.check = true;
        const auto wrong = [product](const RunParameters&, RunBuffers& b, ReportSink&) {
            ShowNotice("override");
            b.c[1] = 1.0;
            return product;
        };
        const RunResult result = RunBenchmark(params, sink, buffers, wrong);
        EXPECT_EQ(result.product, product);
        EXPECT_EQ(result.check, product ? CheckVerdict::Failed : CheckVerdict::NoProduct);
        EXPECT_EQ(result.notices, product ? (Lines{"override", "Check Error"}) : Lines{"override"});
        EXPECT_EQ(notices.notices, result.notices);
    }
    NoticeRecorder notices;
    RecordingSink sink;
    RunParameters params = Params(kMethodClassic, 40);
    ScopedAllocationFailure fail(1);
    EXPECT_FALSE(RunBenchmark(params, sink).product);
}

TEST(BenchmarkRun, TheCheckGivesItsLargestRelativeDifference) {
    RecordingSink sink;
    RunParameters params = Params(kMethodVectorPack, 64, 16);
    params.check = true;
    const RunResult checked = RunBenchmark(params, sink);
    EXPECT_EQ(checked.check, CheckVerdict::Passed);
    EXPECT_GE(checked.check_difference, 0.0);
    EXPECT_LT(checked.check_difference, 1e-13);
    params.check = false;
    EXPECT_TRUE(std::isnan(RunBenchmark(params, sink).check_difference));
}

namespace {
// A sink that notes, for each line, how many looks at the stop request the
// run had made when the line came.
struct LookNotingSink : RecordingSink {
    explicit LookNotingSink(const ScopedStopLooks& watched) : watched(watched) {}
    void AppendLine(const std::string& line) override {
        RecordingSink::AppendLine(line);
        looks_at_line.push_back(watched.looks.load());
    }
    const ScopedStopLooks& watched;
    std::vector<long> looks_at_line;
};

// The looks of a whole run of `params`: before "Matrices are prepared", and
// before the line that follows the product (and its check).
std::pair<long, long> LooksOfAWholeRun(RunParameters params) {
    const ScopedStopLooks counted;
    LookNotingSink sink(counted);
    EXPECT_EQ(RunBenchmark(params, sink).outcome, RunOutcome::Completed);
    if (sink.looks_at_line.size() < 2) return {0, 0};
    return {sink.looks_at_line[0], sink.looks_at_line[1]};
}

// A run stopped at a known point: it shows "Stopped" in place of its timing
// lines (after "Matrices are prepared" when the matrices were), counts
// nothing, holds nothing and writes nothing back.
void ExpectStoppedRun(const RunParameters& given, long stop_at, bool prepared) {
    SCOPED_TRACE(testing::Message() << "stopped at look " << stop_at);
    const long live_before = memory_testing::LiveAllocations();
    NoticeRecorder notices;
    RecordingSink sink;
    RunParameters params = given;
    RunResult result;
    {
        const ScopedStopLooks stop(stop_at);
        result = RunBenchmark(params, sink);
    }
    EXPECT_EQ(result.outcome, RunOutcome::Stopped);
    EXPECT_FALSE(result.product);
    EXPECT_NE(result.check, CheckVerdict::Failed);  // an unfinished reference is no verdict
    if (!prepared) {
        EXPECT_EQ(sink.lines, Lines{"Stopped"});
    } else {
        ASSERT_GE(sink.lines.size(), 2u);
        EXPECT_EQ(sink.lines.front(), "Matrices are prepared");
        EXPECT_EQ(sink.lines.back(), "Stopped");
        for (const std::string& line : sink.lines) {
            EXPECT_NE(line.rfind("DURATION", 0), 0u) << line;
            EXPECT_NE(line.rfind("Performance", 0), 0u) << line;
        }
    }
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
    EXPECT_EQ(params.n, given.n);
    EXPECT_EQ(params.l_block, given.l_block);
    EXPECT_EQ(params.threads, given.threads);
    EXPECT_EQ(params.chunk, given.chunk);
}
}  // namespace

// Zeroing and preparing the matrices looks at the stop request a row at a
// time (large matrices take seconds there where first touches are slow): a
// stop at any of those looks ends the run before the method starts.
TEST(BenchmarkRun, AStopAtAnyLookOfThePreparationEndsTheRunBeforeTheMethod) {
    for (const int method : {kMethodClassic, kMethodVectorPack}) {
        SCOPED_TRACE(testing::Message() << "method " << method);
        const RunParameters params = Params(method, 40, 8);
        const long preparation = LooksOfAWholeRun(params).first;
        EXPECT_GE(preparation, params.n);
        for (long look = 1; look <= preparation; ++look) ExpectStoppedRun(params, look, false);
    }
}

// Every method, with a team where it has one, and the check look at the
// stop request at their documented grain while the product runs; a stop at
// the first, a middle and the last of those looks ends the run. The grain
// bounds the work between two looks, so a stop ends a run of any size soon.
TEST(BenchmarkRun, AStopAtALookOfTheProductEndsEveryMethodAndTheCheck) {
    struct Case {
        int method, n, l_block, threads;
        bool check;
        long looks;  // at least, from the grain
        const char* grain;
    };
    for (const Case& c : {
             Case{kMethodClassic, 128, 128, 1, false, 128 * 128 / 64, "every 64 elements of C"},
             Case{kMethodHp, 96, 96, 2, false, 96, "a row"},
             Case{kMethodBlockCache, 96, 16, 2, false, 6 * 6, "a block of a block row"},
             Case{kMethodBlockPack2x2, 96, 16, 1, false, 6 * 6, "a block"},
             Case{kMethodVectorPack, 96, 16, 1, false, 96 / 16, "a depth block"},
             Case{kMethodVectorPack, 96, 16, 2, false, 96 / 16, "a depth block"},
             Case{kMethodBlockPack2x2, 96, 16, 1, true, 96 * 96 / 64,
                  "the check: every 64 elements"},
         }) {
        SCOPED_TRACE(testing::Message() << "method " << c.method << " threads " << c.threads
                                        << (c.check ? " with the check" : ""));
        RunParameters params = Params(c.method, c.n, c.l_block, c.threads);
        params.check = c.check;
        const auto [prepared, ended] = LooksOfAWholeRun(params);
        EXPECT_GE(ended - prepared, c.looks) << "looks at the stop request: " << c.grain;
        for (const long look : {prepared + 1, (prepared + ended) / 2, ended}) {
            ExpectStoppedRun(params, look, true);
        }
    }
}

namespace {
long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}
}  // namespace

// A small product after the first faults in no page: the matrices, method
// 3's scratch rows (allocated in the timed span) and method 4's slots come
// from memory the process has touched before, whatever the heap's history.
// (The sanitizer's allocator keeps freed memory in quarantine and hands out
// fresh blocks, so this holds for the C heap only.)
TEST(BenchmarkRun, ASmallProductAfterTheFirstFaultsInNoPage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator hands out fresh memory";
#endif
    // Automatic NUMA balancing adds hinting faults of its own.
    std::ifstream balancing("/proc/sys/kernel/numa_balancing");
    int numa_balancing = 0;
    if (balancing >> numa_balancing && numa_balancing != 0) GTEST_SKIP() << "NUMA balancing is on";
    for (const auto& [method, n] :
         {std::pair{kMethodBlockPack2x2, 176}, std::pair{kMethodVectorPack, 176},
          std::pair{kMethodVectorPack, 352}}) {
        RecordingSink sink;
        for (int warm = 0; warm < 2; ++warm) {
            RunParameters params = Params(method, n);
            RunBenchmark(params, sink);
        }
        RunParameters params = Params(method, n);
        const long before = MinorFaults();
        EXPECT_EQ(RunBenchmark(params, sink).outcome, RunOutcome::Completed);
        EXPECT_LE(MinorFaults() - before, 4) << "method " << method << " n " << n;
    }
}
