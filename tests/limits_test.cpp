// The limits library: what each peak loop and the triad compute, that the
// mul+add loops hold no fused instruction, and the shape of MeasureLimits's
// results under a scripted fine clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "machine_limits.h"
#include "memory.h"
#include "peak_loops.h"
#include "processor_info.h"
#include "tick.h"
#include "triad.h"

namespace {

// The sum a loop returns after n iterations: accumulator i of every lane
// holds i + n * 2^-20 (exact for n below 2^32).
double KnownSum(const PeakLoop& loop, std::int64_t n) {
    const double a = loop.accumulators;
    const double lanes = PeakLoopLanes(loop);
    return lanes * (a * (a - 1) / 2 + a * static_cast<double>(n) * 0x1p-20);
}

class PeakLoopTest : public testing::TestWithParam<std::size_t> {
protected:
    const PeakLoop& Loop() const { return AllPeakLoops().at(GetParam()); }
};

std::string LoopName(const testing::TestParamInfo<std::size_t>& info) {
    return AllPeakLoops().at(info.param).function;
}

TEST_P(PeakLoopTest, ReturnsTheKnownSumOfItsAccumulators) {
    const PeakLoop& loop = Loop();
    if (!RunsHere(loop)) GTEST_SKIP() << loop.name << " needs " << loop.needs;
    for (const std::int64_t n : {0, 1, 7, 100'000}) {
        EXPECT_EQ(loop.run(n), KnownSum(loop, n)) << loop.name << " after " << n << " iterations";
    }
}

TEST_P(PeakLoopTest, CountsTwoFlopsPerLanePerAccumulator) {
    const PeakLoop& loop = Loop();
    EXPECT_EQ(loop.flops_per_iteration, 2.0 * loop.accumulators * PeakLoopLanes(loop));
    // The latency of an add or a fused multiply-add (up to 4 cycles) times
    // the units that start one per cycle (up to 2), on the processors of
    // today: fewer accumulators would leave a unit waiting.
    constexpr int kLatencyTimesUnits = 8;
    EXPECT_GE(loop.accumulators, kLatencyTimesUnits);
}

INSTANTIATE_TEST_SUITE_P(EachLoop, PeakLoopTest,
                         testing::Range<std::size_t>(0, AllPeakLoops().size()), LoopName);

// Narrowest first, the mul+add loop of a width before its FMA loop: the order
// of the measurements and of the limits table.
TEST(PeakLoops, NarrowestFirstEachMulAddBeforeItsFma) {
    const std::vector<PeakLoop>& loops = AllPeakLoops();
    for (std::size_t i = 1; i < loops.size(); ++i) {
        const PeakLoop &before = loops[i - 1], &after = loops[i];
        EXPECT_TRUE(before.vector_bits < after.vector_bits ||
                    (before.vector_bits == after.vector_bits &&
                     before.kind == PeakInstructions::kMulAdd &&
                     after.kind == PeakInstructions::kFusedMulAdd))
            << before.function << " before " << after.function;
    }
}

// Whether a loop runs follows what its function's instructions need, as the
// processor snapshot tells, and the loop names that need; the ceiling of the
// bit-exact kernels is the widest mul+add loop among those that run.
TEST(PeakLoops, RunWhatTheProcessorSnapshotAllowsTheWidestMulAddBeingTheCeiling) {
    const bool avx = SupportedIsaLevel() >= kIsaAvx;
    const bool fma = SupportedIsaLevel() >= kIsaAvxFma3;
    const bool avx512 = TheProcessorInfo().RunsAvx512();
    const std::map<std::string, std::pair<std::string, bool>> needs = {
        {"RunSse2MulAddLoop", {"SSE2", true}},
        {"RunAvxMulAddLoop", {"AVX", avx}},
        {"RunAvxFmaLoop", {"AVX+FMA3", fma}},
        {"RunAvx512MulAddLoop", {"AVX-512F", avx512}},
        {"RunAvx512FmaLoop", {"AVX-512F", avx512}}};
    std::vector<std::string> expected;
    for (const PeakLoop& loop : AllPeakLoops()) {
        ASSERT_EQ(needs.count(loop.function), 1u) << loop.function;
        const auto& [what, runs] = needs.at(loop.function);
        EXPECT_EQ(loop.needs, what) << loop.function;
        EXPECT_EQ(RunsHere(loop), runs) << loop.function;
        if (runs) expected.push_back(loop.function);
    }
    std::vector<std::string> here;
    for (const PeakLoop& loop : PeakLoopsRunHere()) here.push_back(loop.function);
    EXPECT_EQ(here, expected);
    EXPECT_STREQ(BitExactCeilingLoop().function, avx512 ? "RunAvx512MulAddLoop"
                                                 : avx  ? "RunAvxMulAddLoop"
                                                        : "RunSse2MulAddLoop");
}

// The disassembly of the built library, function by function: the object
// file each came from, its mnemonics and the widest vector register it names.
struct DisassembledFunction {
    std::string object;
    std::vector<std::string> mnemonics;
    int widest_register_bits = 0;
};

bool Disassemble(std::map<std::string, DisassembledFunction>& functions, std::string& error) {
    const std::string objdump = VORP_OBJDUMP;
    if (objdump.empty()) {
        error = "CMake found no objdump";
        return false;
    }
    const std::string command =
        "'" + objdump + "' -d -C --no-show-raw-insn '" VORP_LIMITS_LIBRARY "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        error = "cannot run " + command;
        return false;
    }
    const std::regex object_line(R"(^(\S+\.o):\s+file format)");
    const std::regex function_line(R"(^[0-9a-f]+ <(.+)>:$)");
    const std::regex instruction_line(R"(^\s*[0-9a-f]+:\s+([a-z][a-z0-9.]*))");
    std::string object, line;
    DisassembledFunction* current = nullptr;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) {
        line = buffer;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        std::smatch match;
        if (std::regex_search(line, match, object_line)) {
            object = match[1];
            current = nullptr;
        } else if (std::regex_match(line, match, function_line)) {
            std::string name = match[1];
            name = name.substr(0, name.find('('));  // "RunAvxFmaLoop(long)"
            current = &functions[object + ":" + name];
            current->object = object;
        } else if (current != nullptr && std::regex_search(line, match, instruction_line)) {
            current->mnemonics.push_back(match[1]);
            for (const auto& [name, bits] :
                 {std::pair{"%xmm", 128}, {"%ymm", 256}, {"%zmm", 512}}) {
                if (line.find(name) != std::string::npos)
                    current->widest_register_bits = std::max(current->widest_register_bits, bits);
            }
        }
    }
    if (functions.empty()) {
        error = "no function in the disassembly of " VORP_LIMITS_LIBRARY;
        return false;
    }
    return true;
}

bool IsFused(const std::string& mnemonic) {
    // vfmadd..., vfmsub..., vfnmadd..., vfnmsub... (FMA3, FMA4 and AVX-512).
    static const std::regex fused("^vfn?m(add|sub)");
    return std::regex_search(mnemonic, fused);
}

const DisassembledFunction* Find(const std::map<std::string, DisassembledFunction>& functions,
                                 const std::string& name) {
    for (const auto& [key, function] : functions) {
        if (key.size() > name.size() &&
            key.compare(key.size() - name.size() - 1, std::string::npos, ":" + name) == 0) {
            return &function;
        }
    }
    return nullptr;
}

// What the table says of each loop is what the built code does: the width of
// its registers, and whether it fuses; and the table holds every loop of the
// library.
TEST(PeakLoops, MulAddLoopsHoldNoFusedInstructionAndFmaLoopsDo) {
    std::map<std::string, DisassembledFunction> functions;
    std::string error;
    if (!Disassemble(functions, error)) GTEST_SKIP() << error;
    std::set<std::string> in_library, in_table;
    const std::regex loop_name(R"(:Run\w*Loop$)");
    for (const auto& [name, function] : functions) {
        if (std::regex_search(name, loop_name)) in_library.insert(name.substr(name.find(':') + 1));
    }
    for (const PeakLoop& loop : AllPeakLoops()) {
        in_table.insert(loop.function);
        const DisassembledFunction* function = Find(functions, loop.function);
        ASSERT_NE(function, nullptr) << loop.function << " not in " VORP_LIMITS_LIBRARY;
        EXPECT_EQ(function->widest_register_bits, loop.vector_bits) << loop.function;
        int fused = 0, multiplies = 0, adds = 0;
        for (const std::string& mnemonic : function->mnemonics) {
            fused += IsFused(mnemonic);
            multiplies += mnemonic == "mulpd" || mnemonic == "vmulpd";
            adds += mnemonic == "addpd" || mnemonic == "vaddpd";
        }
        if (loop.kind == PeakInstructions::kMulAdd) {
            EXPECT_EQ(fused, 0) << loop.function << " fuses its multiply and add";
            // At least one multiply and add per accumulator in the loop body.
            EXPECT_GE(multiplies, loop.accumulators) << loop.function;
            EXPECT_GE(adds, loop.accumulators) << loop.function;
        } else {
            // The check sees fused instructions where there are some.
            EXPECT_GE(fused, loop.accumulators) << loop.function;
        }
    }
    EXPECT_EQ(in_table, in_library);
    // Nothing else of the library fuses: the fused loops' file is the one place.
    for (const auto& [name, function] : functions) {
        if (function.object.find("fma_peak") != std::string::npos) continue;
        for (const std::string& mnemonic : function.mnemonics) {
            EXPECT_FALSE(IsFused(mnemonic)) << name << " holds " << mnemonic;
        }
    }
}

TEST(Triad, SlicesCoverTheArrayInWholeLinesInOrder) {
    for (const std::int64_t n : {0, 1, 7, 8, 9, 64, 1003, 4096}) {
        for (const std::int32_t team : {1, 2, 3, 8}) {
            std::int64_t next = 0;
            for (std::int32_t rank = 0; rank < team; ++rank) {
                const TriadSlice slice = TriadSliceOf(n, team, rank);
                EXPECT_EQ(slice.begin, next) << "n " << n << ", team " << team << ", rank " << rank;
                EXPECT_LE(slice.begin, slice.end);
                EXPECT_EQ(slice.begin % 8, 0);
                next = slice.end;
            }
            EXPECT_EQ(next, n) << "n " << n << ", team " << team;
        }
    }
    // 1003 doubles are 125 whole lines and 3 doubles: 42, 42 and 41 lines.
    EXPECT_EQ(TriadSliceOf(1003, 3, 0).end, 42 * 8);
    EXPECT_EQ(TriadSliceOf(1003, 3, 1).end, 84 * 8);
    EXPECT_EQ(TriadSliceOf(1003, 3, 2).end, 1003);
}

TEST(Triad, FillsThenComputesBPlusScalarTimesC) {
    constexpr std::int64_t kN = 1003;
    std::vector<double> a(kN, -1), b(kN, -1), c(kN, -1);
    const std::int32_t filled = FillTriadArrays(a.data(), b.data(), c.data(), kN, 3);
    EXPECT_GE(filled, 1);
    EXPECT_LE(filled, 3);
    for (std::int64_t i = 0; i < kN; ++i) {
        ASSERT_EQ(a[i], 0) << i;
        ASSERT_EQ(b[i], 1) << i;
        ASSERT_EQ(c[i], 2) << i;
    }
    const std::int32_t ran = RunTriad(a.data(), b.data(), c.data(), kTriadScalar, kN, 3);
    EXPECT_GE(ran, 1);
    EXPECT_LE(ran, 3);
    for (std::int64_t i = 0; i < kN; ++i) ASSERT_EQ(a[i], 1 + 3.0 * 2) << i;

    // i + 3 * (i / 4) = 1.75 i, exact; b and c unchanged.
    for (std::int64_t i = 0; i < kN; ++i) {
        b[i] = static_cast<double>(i);
        c[i] = 0.25 * static_cast<double>(i);
    }
    RunTriad(a.data(), b.data(), c.data(), 3.0, kN, 2);
    for (std::int64_t i = 0; i < kN; ++i) {
        ASSERT_EQ(a[i], 1.75 * static_cast<double>(i)) << i;
        ASSERT_EQ(b[i], static_cast<double>(i)) << i;
        ASSERT_EQ(c[i], 0.25 * static_cast<double>(i)) << i;
    }
}

TEST(Triad, ArraysAreFourTimesTheLastLevelCache) {
    const std::vector<CpuidCache> caches = {
        {1, CacheKind::Data, 48 << 10},
        {1, CacheKind::Instruction, 32 << 10},
        {2, CacheKind::Unified, 1 << 20},
        {3, CacheKind::Unified, 32 << 20},
    };
    const TriadSize size = ChooseTriadSize(caches);
    EXPECT_EQ(size.elements, (std::int64_t{128} << 20) / 8);
    EXPECT_EQ(size.reason, "4 x the 32 MiB L3 cache");

    const TriadSize l2_only =
        ChooseTriadSize({{1, CacheKind::Data, 32 << 10}, {2, CacheKind::Unified, 512 << 10}});
    EXPECT_EQ(l2_only.elements, (std::int64_t{2} << 20) / 8);
    EXPECT_EQ(l2_only.reason, "4 x the 512 KiB L2 cache");

    const TriadSize unknown = ChooseTriadSize({});
    EXPECT_EQ(unknown.elements, (std::int64_t{128} << 20) / 8);
    EXPECT_NE(unknown.reason.find("default"), std::string::npos) << unknown.reason;

    const TriadSize huge = ChooseTriadSize({{3, CacheKind::Unified, std::uint64_t{1} << 30}});
    EXPECT_EQ(huge.elements, (std::int64_t{1} << 30) / 8);
    EXPECT_NE(huge.reason.find("bounded"), std::string::npos) << huge.reason;
}

// Replaces the fine clock for the life of the object: each reading adds the
// next of `steps` to the time (then `then` for every reading after them).
class ScriptedFineClock {
public:
    ScriptedFineClock(std::vector<double> steps, double then) {
        tick_testing::OverrideFineSource(
            [steps = std::move(steps), then, now = 0.0, next = std::size_t{0}]() mutable {
                now += next < steps.size() ? steps[next] : then;
                ++next;
                return now;
            });
    }
    ~ScriptedFineClock() { tick_testing::OverrideFineSource({}); }
    ScriptedFineClock(const ScriptedFineClock&) = delete;
    ScriptedFineClock& operator=(const ScriptedFineClock&) = delete;
};

// Durations that are sums of powers of two stay exact.
constexpr double kTick = 1.0 / 64;     // longer than kShortest: one run is a sample
constexpr double kBlink = 1.0 / 1024;  // shorter than kShortest
constexpr double kShortest = 0.01;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A quick measurement of the triad alone, of 64 elements on one thread.
LimitSettings TriadOnOneThread(std::int32_t samples) {
    LimitSettings settings;
    settings.thread_counts = {1};
    settings.samples = samples;
    settings.min_sample_seconds = kShortest;
    settings.peaks = false;
    settings.triad_elements = 64;
    return settings;
}

TEST(MeasureLimits, MeasuresEachLoopHereAndTheTriadForEachTeam) {
    const ScriptedFineClock clock({}, kTick);
    LimitSettings settings;
    settings.thread_counts = {1, 2};
    settings.samples = 3;
    settings.min_sample_seconds = kShortest;
    settings.first_peak_iterations = 4;
    settings.triad_elements = 1000;
    const MachineLimits limits = MeasureLimits(settings, 0.05);

    const std::vector<PeakLoop> loops = PeakLoopsRunHere();
    ASSERT_EQ(limits.measurements.size(), 2 * loops.size() + 2);
    const PeakLoop ceiling = BitExactCeilingLoop();
    EXPECT_EQ(limits.bit_exact_ceiling, std::string(ceiling.name) + " peak");
    EXPECT_GT(limits.seconds, 0);

    std::size_t index = 0;
    for (const PeakLoop& loop : loops) {
        for (const std::int32_t threads : {1, 2}) {
            const LimitMeasurement& m = limits.measurements[index++];
            SCOPED_TRACE(LimitLabel(m));
            EXPECT_EQ(m.kind, LimitKind::kPeak);
            EXPECT_EQ(m.name, std::string(loop.name) + " peak");
            EXPECT_EQ(m.unit, "GFLOPS");
            EXPECT_EQ(m.threads_requested, threads);
            EXPECT_STREQ(m.function, loop.function);
            EXPECT_EQ(m.vector_bits, loop.vector_bits);
            EXPECT_EQ(m.instructions, loop.kind);
            EXPECT_EQ(m.accumulators, loop.accumulators);
            EXPECT_EQ(m.flops_per_iteration, loop.flops_per_iteration);
            EXPECT_EQ(m.bit_exact_ceiling, loop.run == ceiling.run);
            EXPECT_TRUE(Contains(m.what_ran, loop.function)) << m.what_ran;
            EXPECT_TRUE(Contains(m.what_ran, std::to_string(loop.accumulators) + " accumulators"))
                << m.what_ran;
            EXPECT_TRUE(Contains(m.what_ran, std::to_string(loop.vector_bits) + "-bit"))
                << m.what_ran;
            EXPECT_TRUE(Contains(m.what_ran, loop.instructions)) << m.what_ran;

            ASSERT_EQ(m.samples.size(), 3u);
            for (const LimitSample& sample : m.samples) {
                EXPECT_EQ(sample.iterations, 4);  // the first run lasted long enough
                EXPECT_EQ(sample.seconds, kTick);
                EXPECT_GE(sample.team, 1);
                EXPECT_DOUBLE_EQ(sample.rate,
                                 sample.team * 4 * loop.flops_per_iteration / kTick * 1e-9);
            }
            const double rate = m.samples[0].rate;
            EXPECT_EQ(m.statistics.count, 3u);
            EXPECT_DOUBLE_EQ(m.median, rate);
            EXPECT_DOUBLE_EQ(m.statistics.median, rate);
            EXPECT_DOUBLE_EQ(m.best, rate);
            EXPECT_EQ(m.cv, 0);
            EXPECT_FALSE(m.noisy);
            EXPECT_EQ(m.threads, m.samples.back().team);
            if (m.threads == threads) {
                EXPECT_EQ(m.problem, "");
            }
            EXPECT_GT(m.seconds, 0);
        }
    }
    for (const std::int32_t threads : {1, 2}) {
        const LimitMeasurement& m = limits.measurements[index++];
        SCOPED_TRACE(LimitLabel(m));
        EXPECT_EQ(m.kind, LimitKind::kTriad);
        EXPECT_EQ(m.name, "triad bandwidth");
        EXPECT_EQ(m.unit, "GB/s");
        EXPECT_EQ(m.threads_requested, threads);
        EXPECT_EQ(m.array_elements, 1000);
        EXPECT_EQ(m.bytes_per_element, 24);
        EXPECT_FALSE(m.write_allocate_counted);
        EXPECT_FALSE(m.bit_exact_ceiling);
        EXPECT_TRUE(Contains(m.what_ran, "3 arrays of 1000 doubles")) << m.what_ran;
        EXPECT_TRUE(Contains(m.what_ran, "24 bytes per element")) << m.what_ran;
        EXPECT_TRUE(Contains(m.what_ran, "write-allocate not counted")) << m.what_ran;
        ASSERT_EQ(m.samples.size(), 3u);
        for (const LimitSample& sample : m.samples) {
            EXPECT_EQ(sample.iterations, 1);  // one pass of the team
            EXPECT_EQ(sample.seconds, kTick);
            EXPECT_DOUBLE_EQ(sample.rate, 1000 * 24 / kTick * 1e-9);
        }
        EXPECT_DOUBLE_EQ(m.median, 1000 * 24 / kTick * 1e-9);
        EXPECT_DOUBLE_EQ(m.best, m.median);
        EXPECT_EQ(m.cv, 0);
        EXPECT_FALSE(m.noisy);
    }
}

TEST(MeasureLimits, GrowsShortRunsUntilEachSampleLastsTheShortestSample) {
    // Readings: the measurements' starts, a first run of one pass too short,
    // one of 13 passes long enough, then a short sample before two good ones.
    const ScriptedFineClock clock({0, 0, 0, kBlink, 0, kTick, 0, kBlink, 0, kTick}, kTick);
    const MachineLimits limits = MeasureLimits(TriadOnOneThread(2), 0.05);
    ASSERT_EQ(limits.measurements.size(), 1u);
    const LimitMeasurement& m = limits.measurements[0];
    ASSERT_EQ(m.samples.size(), 2u);
    // Grown by the shortfall with a quarter's margin, 1.25 * 0.01 * 1024 =
    // 12.8: from 1 to ceil(1 * 12.8) = 13, then to ceil(13 * 12.8) = 167.
    const std::int64_t grown_twice = 167;
    for (const LimitSample& sample : m.samples) {
        EXPECT_EQ(sample.iterations, grown_twice);
        EXPECT_EQ(sample.seconds, kTick);
        EXPECT_DOUBLE_EQ(sample.rate, grown_twice * 64 * 24 / kTick * 1e-9);
    }
    EXPECT_EQ(m.problem, "");
}

TEST(MeasureLimits, MarksSpreadSamplesNoisyByTheThresholdGiven) {
    // Samples of one and of two ticks: rates r and r / 2, CV 0.47.
    const std::vector<double> steps = {0, 0, 0, kTick, 0, kTick, 0, 2 * kTick};
    const LimitSettings settings = TriadOnOneThread(2);
    const double r = 64 * 24 / kTick * 1e-9;
    {
        const ScriptedFineClock clock(steps, kTick);
        const LimitMeasurement m = MeasureLimits(settings, 0.05).measurements.at(0);
        EXPECT_DOUBLE_EQ(m.best, r);
        EXPECT_DOUBLE_EQ(m.median, 0.75 * r);
        EXPECT_DOUBLE_EQ(m.statistics.min, r / 2);
        EXPECT_NEAR(m.cv, std::sqrt(2 * 0.25 * 0.25) / 0.75, 1e-12);
        EXPECT_TRUE(m.noisy);
    }
    {
        const ScriptedFineClock clock(steps, kTick);
        EXPECT_FALSE(MeasureLimits(settings, 0.5).measurements.at(0).noisy);
    }
}

// CPU time beside the wall time: a one-thread triad whose samples got half
// of their wall time on the CPU is flagged; a full share is not.
TEST(MeasureLimits, ATeamThatLostItsCoresIsFlagged) {
    const LimitSettings settings = TriadOnOneThread(2);
    for (const double cpu_per_tick : {0.5, 1.0}) {
        const ScriptedFineClock clock({}, kTick);
        double cpu = 0;
        tick_testing::OverrideCpuSource(
            [&cpu, cpu_per_tick] { return cpu += cpu_per_tick * kTick; });
        const LimitMeasurement m = MeasureLimits(settings, 0.05).measurements.at(0);
        tick_testing::OverrideCpuSource({});
        EXPECT_NEAR(m.cpu_share, cpu_per_tick, 1e-9) << cpu_per_tick;
        EXPECT_EQ(m.cpu_short, cpu_per_tick < 0.8);
    }
}

TEST(MeasureLimits, AClockThatStandsStillEndsWithShortSamplesSaidSo) {
    const ScriptedFineClock clock({}, 0);
    LimitSettings settings;
    settings.thread_counts = {1};
    settings.samples = 2;
    settings.first_peak_iterations = 3;
    settings.triad = false;
    const MachineLimits limits = MeasureLimits(settings, 0.05);
    ASSERT_EQ(limits.measurements.size(), PeakLoopsRunHere().size());
    for (const LimitMeasurement& m : limits.measurements) {
        ASSERT_EQ(m.samples.size(), 2u) << m.name;
        EXPECT_EQ(m.samples[0].iterations, 3) << m.name;
        EXPECT_EQ(m.samples[0].rate, 0) << m.name;
        EXPECT_TRUE(Contains(m.problem, "shorter than")) << m.problem;
    }
}

TEST(MeasureLimits, DefaultsToOneThreadAndEveryUsableCore) {
    const LimitSettings defaults;
    EXPECT_EQ(defaults.samples, 5);
    EXPECT_EQ(defaults.min_sample_seconds, 0.010);
    EXPECT_EQ(defaults.triad_elements, 0);

    const ScriptedFineClock clock({}, kTick);
    LimitSettings settings = TriadOnOneThread(1);
    settings.thread_counts.clear();  // the default
    const MachineLimits limits = MeasureLimits(settings, 0.05);
    std::vector<std::int32_t> teams;
    for (const LimitMeasurement& m : limits.measurements) teams.push_back(m.threads_requested);
    const std::int32_t cores = UsableCores();
    const std::vector<std::int32_t> expected =
        cores == 1 ? std::vector<std::int32_t>{1} : std::vector<std::int32_t>{1, cores};
    EXPECT_EQ(teams, expected);
}

TEST(MeasureLimits, ReleasesTheTriadArraysAndSaysWhenTheyCannotBeHad) {
    const ScriptedFineClock clock({}, kTick);
    const LimitSettings settings = TriadOnOneThread(1);
    const long before = memory_testing::LiveAllocations();
    EXPECT_EQ(MeasureLimits(settings, 0.05).measurements.at(0).problem, "");
    EXPECT_EQ(memory_testing::LiveAllocations(), before);

    memory_testing::FailAllocationNumber(2);
    const LimitMeasurement failed = MeasureLimits(settings, 0.05).measurements.at(0);
    memory_testing::FailAllocationNumber(0);
    EXPECT_TRUE(failed.samples.empty());
    EXPECT_TRUE(Contains(failed.problem, "not measured")) << failed.problem;
    EXPECT_EQ(memory_testing::LiveAllocations(), before);
}

TEST(LimitLabel, NamesTheTeamThatRanElseTheOneAskedFor) {
    LimitMeasurement m;
    m.name = "triad bandwidth";
    m.threads_requested = 2;
    EXPECT_EQ(LimitLabel(m), "triad bandwidth, 2 threads");  // no sample ran
    m.threads = 1;
    EXPECT_EQ(LimitLabel(m), "triad bandwidth, 1 thread");
}

}  // namespace
