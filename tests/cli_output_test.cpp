// The outputs of vorp-cli's multi-run work on hand-made results: CSV and JSON
// documents, summary table, problem list, header, progress and check lines,
// context helpers and kernel forms.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kernel_form.h"
#include "limits_report.h"
#include "methods.h"
#include "processor_info.h"
#include "result_format.h"
#include "run_context.h"
#include "support/cli_process.h"

namespace {
using nlohmann::json;

RunRecord Completed(std::size_t sequence, std::size_t sample, double seconds) {
    RunRecord run;
    run.sequence = sequence;
    run.warmup = sample == 0;
    run.sample = sample;
    run.result.outcome = RunOutcome::Completed;
    run.result.product = true;
    run.result.measurements.fine_seconds = seconds;
    run.result.measurements.duration_seconds = seconds;
    return run;
}

RunRecord WithoutProduct(std::size_t sequence, std::size_t sample, const std::string& notice) {
    RunRecord run = Completed(sequence, sample, 0.004);
    run.result.product = false;
    run.result.notices = {notice};
    return run;
}

PointResult Point(std::int32_t method, std::int32_t n, std::vector<RunRecord> runs) {
    PointResult point;
    point.point.params.method = method;
    point.point.params.n = n;
    point.point.params.l_block = 64;
    point.shown = NormalisedParameters(point.point);
    point.runs = std::move(runs);
    return point;
}

// Classic at n 128 (samples of 2, 5 and 3 ms after a warm-up), method 4 at
// the AVX level with one notice, an HP point whose only run could not
// allocate, and an HP point whose two runs computed nothing.
std::vector<PointResult> SampleResults() {
    std::vector<PointResult> results;
    results.push_back(Point(0, 130,
                            {Completed(1, 0, 0.009), Completed(2, 1, 0.002), Completed(3, 2, 0.005),
                             Completed(4, 3, 0.003)}));
    RunRecord vector_run = Completed(5, 1, 0.001);
    vector_run.result.isa_level = 1;
    vector_run.result.notices = {"Conflict between N and \"lbv\", or lbh"};
    results.push_back(Point(4, 128, {vector_run}));
    RunRecord alloc_error;
    alloc_error.sequence = 6;
    alloc_error.sample = 1;
    alloc_error.result.outcome = RunOutcome::AllocError;
    alloc_error.result.notices = {"Alloc Error"};
    results.push_back(Point(1, 128, {alloc_error}));
    results.push_back(Point(1, 128,
                            {WithoutProduct(7, 1, "TBB does not support"),
                             WithoutProduct(8, 2, "TBB does not support")}));
    return results;
}

RunContext SampleContext() {
    RunContext context;
    context.version = "1.0.0";
    context.date = "2024-05-01T12:00:00Z";
    context.cpu_model = "Test \"CPU\" \\ model";
    context.isa_level = 2;
    context.isa_name = "AVX+FMA3";
    context.kernel_form = "AVX 8x4 (Tavrel_8x4)";
    context.threads = {1, 2};
    context.warmup = 1;
    context.repeat = 3;
    context.compiler = "GCC 12";
    context.build_type = "Release";
    return context;
}

// Whether `table` has a line of exactly these fields, separated by spaces.
bool HasRow(const std::string& table, const std::vector<std::string>& fields) {
    std::string pattern = "\n *";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        pattern +=
            (i ? " +" : "") + std::regex_replace(fields[i], std::regex(R"([.+*()])"), R"(\$&)");
    }
    return std::regex_search(table, std::regex(pattern + " *\n"));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}
}  // namespace

TEST(ResultJson, HoldsContextAndEveryPoint) {
    const json doc = json::parse(FormatJson(SampleContext(), SampleResults(), false));
    std::set<std::string> keys;
    for (const auto& item : doc.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{"schema_version", "context", "interrupted", "results"}));
    EXPECT_EQ(doc["interrupted"], false);
    EXPECT_EQ(doc["context"]["cpu_model"], "Test \"CPU\" \\ model");

    const json& results = doc["results"];
    ASSERT_EQ(results.size(), 4u);
    const json& classic = results[0];
    EXPECT_EQ(classic["method"], "classic");
    EXPECT_EQ(classic["method_index"], 0);
    EXPECT_EQ(classic["n"], 128);  // 130 normalised with l_block 64
    EXPECT_EQ(classic["asked"], (json{{"n", 130}, {"l_block", 64}, {"threads", 1}}));
    EXPECT_EQ(classic["operations"], 4194304);
    EXPECT_EQ(classic["seconds"], (json{0.002, 0.005, 0.003}));  // the warm-up is not counted
    EXPECT_EQ(classic["runs_per_sample"], (json{1, 1, 1}));
    EXPECT_EQ(classic["completed"], 3);
    EXPECT_EQ(classic["failed"], 0);
    EXPECT_EQ(classic["product"], true);
    EXPECT_EQ(classic["best_seconds"], 0.002);
    EXPECT_EQ(classic["median_seconds"], 0.003);
    EXPECT_EQ(classic["best_gflops"], 2.09715);  // 2.097152 to six digits
    EXPECT_EQ(classic["cv"], 0.458258);
    EXPECT_EQ(classic["noisy"], true);
    EXPECT_EQ(classic["short"], true);
    EXPECT_EQ(classic["kernel"], "scalar r-c-k loop");
    EXPECT_TRUE(classic["isa"].is_null());
    EXPECT_TRUE(classic["max_rel_diff"].is_null());
    EXPECT_EQ(classic["problems"], json::array());

    const json& vector = results[1];
    EXPECT_EQ(vector["isa"],
              VectorPackInstructionSet(1));  // what the kernel form uses: no FMA claimed
    EXPECT_EQ(vector["kernel"], KernelFormName(4, 1));
    EXPECT_TRUE(vector["cv"].is_null());  // one sample
    EXPECT_EQ(vector["product"], true);   // a notice alone still gives a figure
    EXPECT_EQ(vector["problems"][0]["run"], 5);
    EXPECT_EQ(vector["problems"][0]["notices"][0], "Conflict between N and \"lbv\", or lbh");

    for (const json* none : {&results[2], &results[3]}) {
        SCOPED_TRACE(none->dump());
        EXPECT_EQ((*none)["completed"], 0);
        EXPECT_EQ((*none)["product"], false);
        EXPECT_EQ((*none)["seconds"], json::array());
        for (const char* key : {"best_seconds", "median_seconds", "mean_seconds", "best_gflops",
                                "median_gflops", "cv"}) {
            EXPECT_TRUE((*none)[key].is_null()) << key;
        }
        EXPECT_EQ((*none)["problems"][0]["product"], false);
    }
    EXPECT_EQ(results[2]["failed"], 1);
    EXPECT_EQ(results[2]["problems"][0]["completed"], false);
    EXPECT_EQ(results[3]["failed"], 2);
    EXPECT_EQ(results[3]["problems"][0]["completed"], true);
    EXPECT_EQ(results[3]["problems"].size(), 1u);  // the same problem, told once
    EXPECT_EQ(results[3]["problems"][0]["run"], 7);
    EXPECT_EQ(results[3]["problems"][0]["last_run"], 8);
    EXPECT_EQ(results[3]["problems"][0]["runs"], 2);
    EXPECT_EQ(results[3]["problems"][0]["notices"], json::array({"TBB does not support"}));

    std::vector<PointResult> stopped = SampleResults();
    stopped.back().interrupted = true;
    const json partial = json::parse(FormatJson(SampleContext(), stopped, true));
    EXPECT_EQ(partial["interrupted"], true);
    EXPECT_EQ(partial["results"][3]["interrupted"], true);
    EXPECT_EQ(partial["results"][0]["interrupted"], false);
}

// Fields with a comma, a quote or a line break are quoted: each point stays
// one row of the header's width.
TEST(ResultCsv, OneQuotedRowPerPoint) {
    std::vector<PointResult> results = SampleResults();
    results[1].runs[0].result.notices.push_back("on two\nlines");
    std::string csv = FormatCsvHeader();
    for (const PointResult& point : results) csv += FormatCsvRow(point, 1, 3);
    const CsvRows rows = ParseCsv(csv);
    ASSERT_EQ(rows.size(), 5u);
    for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size());
    const std::map<std::string, std::string> classic = {{"method", "classic"},
                                                        {"method_index", "0"},
                                                        {"n", "128"},
                                                        {"l_block", "64"},
                                                        {"threads", "1"},
                                                        {"chunk", "100"},
                                                        {"isa", ""},
                                                        {"kernel", "scalar r-c-k loop"},
                                                        {"warmup", "1"},
                                                        {"repeat", "3"},
                                                        {"completed", "3"},
                                                        {"failed", "0"},
                                                        {"best_seconds", "0.002"},
                                                        {"median_seconds", "0.003"},
                                                        {"mean_seconds", "0.00333333"},
                                                        {"stddev_seconds", "0.00152753"},
                                                        {"cv", "0.458258"},
                                                        {"best_gflops", "2.09715"},
                                                        {"median_gflops", "1.3981"},
                                                        {"noisy", "true"},
                                                        {"short", "true"},
                                                        {"interrupted", "false"},
                                                        {"check", "not run"},
                                                        {"max_rel_diff", ""},
                                                        {"problems", ""},
                                                        {"cpu_share", ""},
                                                        {"cpu_short", "false"},
                                                        {"peak", ""},
                                                        {"peak_share", ""}};
    ASSERT_EQ(classic.size(), rows[0].size());  // every column
    for (const auto& [column, value] : classic) EXPECT_EQ(Column(rows, column)[0], value) << column;

    EXPECT_EQ(Column(rows, "isa")[1], VectorPackInstructionSet(1));
    EXPECT_EQ(Column(rows, "stddev_seconds")[1], "");  // one sample: no spread
    EXPECT_EQ(Column(rows, "problems")[1],
              "run 5: notice \"Conflict between N and \"lbv\", or lbh\"; notice \"on two\nlines\"");
    EXPECT_EQ(Column(rows, "problems")[2], "run 6: notice \"Alloc Error\"; run not completed");
    EXPECT_EQ(Column(rows, "problems")[3],
              "runs 7-8 (2): notice \"TBB does not support\"; no product");
    for (std::size_t row : {2, 3}) {
        for (const char* column :
             {"best_seconds", "median_seconds", "best_gflops", "median_gflops"}) {
            EXPECT_EQ(Column(rows, column)[row], "") << column;
        }
        EXPECT_EQ(Column(rows, "completed")[row], "0");
    }
    EXPECT_EQ(Column(rows, "failed")[3], "2");
}

TEST(ResultText, SummaryTableAndProblemList) {
    const std::string table = FormatSummaryTable(SampleResults());
    EXPECT_EQ(
        table.rfind(
            "Summary: per point, samples with a figure; seconds per product on the fine clock\n",
            0),
        0u);
    EXPECT_TRUE(HasRow(table, {"1", "classic", "128", "64", "1", "3", "3", "45.8", "1.40", "2.10",
                               "-", "noisy short"}))
        << table;
    EXPECT_TRUE(HasRow(table, {"2", "vector-pack", "128", "64", "1", "1", "1", "-", "4.19", "4.19",
                               "-", "short"}));
    // No figure: every figure is "-", whatever the cause.
    EXPECT_TRUE(HasRow(table, {"3", "hp", "128", "64", "1", "0", "-", "-", "-", "-", "-", "none"}));
    EXPECT_TRUE(HasRow(table, {"4", "hp", "128", "64", "1", "0", "-", "-", "-", "-", "-", "none"}));
    EXPECT_NE(table.find("Kernels:\n  classic: scalar r-c-k loop\n"), std::string::npos);
    EXPECT_NE(table.find("Runs without a figure, with a notice or a check failure:\n"
                         "  run 5 (row 2: vector-pack, n 128, l_block 64, threads 1): notice"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("  run 6 (row 3: hp, n 128, l_block 64, threads 1): notice \"Alloc "
                         "Error\"; run not completed\n"),
              std::string::npos);
    EXPECT_NE(table.find("  runs 7-8 (2) (row 4: hp, n 128, l_block 64, threads 1): notice \"TBB "
                         "does not support\"; no product\n"),
              std::string::npos);
    // The classic point's first run is a warm-up, the others' are counted.
    EXPECT_NE(table.find("Mixed: 1 point warmed, 3 with the first run counted.\n"),
              std::string::npos)
        << table;
    EXPECT_NE(FormatSummaryTable({SampleResults()[0]})
                  .find("Warm: every point's first run was an uncounted warm-up"),
              std::string::npos);
    EXPECT_NE(FormatSummaryTable({SampleResults()[1]}).find("Cold: each point's first run"),
              std::string::npos);
    const std::vector<PointResult> clean = {SampleResults()[0]};
    EXPECT_EQ(FormatProblems(clean),
              "All 4 runs computed their product without notice or check failure.\n");
}

// With a reference row each point gets its ratio to the reference at the
// same order and threads; the Markdown form is the same table, one row per
// point, with the context below it.
TEST(ResultText, ReferenceRatioAndMarkdownTable) {
    std::vector<PointResult> results = SampleResults();
    PointResult reference = Point(0, 128, {Completed(9, 1, 0.0015)});
    reference.point.reference = true;
    results.push_back(reference);
    const std::string table = FormatSummaryTable(results);
    EXPECT_TRUE(HasRow(table, {"1", "classic", "128", "64", "1", "3", "3", "45.8", "1.40", "2.10",
                               "0.50", "-", "noisy short"}))
        << table;
    EXPECT_TRUE(
        HasRow(table, {"3", "hp", "128", "64", "1", "0", "-", "-", "-", "-", "-", "-", "none"}))
        << table;
    EXPECT_NE(table.find("vs ref: the reference's median time"), std::string::npos);
    EXPECT_EQ(FormatSummaryTable(SampleResults()).find("vs ref"), std::string::npos);

    const std::string markdown = FormatMarkdownSummary(SampleContext(), results);
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Lines(markdown)) {
        if (line.empty() || line[0] != '|') continue;
        std::vector<std::string> cells;
        std::string cell;
        for (std::size_t i = 1; i < line.size(); ++i) {
            if (line[i] == '|' && line[i - 1] != '\\') {
                cells.push_back(
                    cell.substr(cell.find_first_not_of(' '),
                                cell.find_last_not_of(' ') - cell.find_first_not_of(' ') + 1));
                cell.clear();
            } else {
                cell += line[i];
            }
        }
        rows.push_back(cells);
    }
    ASSERT_EQ(rows.size(), 2 + results.size());  // header, alignment row, one per point
    for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size());
    EXPECT_EQ(rows[0][10], "vs ref");
    EXPECT_EQ(rows[1][2], "---:");
    EXPECT_EQ(rows[2][1], "classic");
    EXPECT_EQ(rows[2][10], "0.50");
    EXPECT_EQ(rows.back()[1], "openblas");
    EXPECT_EQ(rows.back()[10], "1.00");
    EXPECT_NE(markdown.find("<details><summary>Context</summary>"), std::string::npos);
    EXPECT_NE(markdown.find("Test \"CPU\""), std::string::npos);
}

// The widest rows: the largest n and thread count with a median of minutes
// and a CV above 100 %; a short point with every flag and no reference.
TEST(ResultText, SummaryTableFitsInOneHundredColumns) {
    const auto point = [](std::int32_t n, std::int32_t threads, std::vector<RunRecord> runs) {
        PointResult p = Point(kMethodBlockPack2x2, n, std::move(runs));
        p.point.params.l_block = n;
        p.point.params.threads = threads;
        p.shown = NormalisedParameters(p.point);
        p.runs[1].result.check = CheckVerdict::NoReference;
        p.interrupted = true;
        return p;
    };
    const std::vector<PointResult> results = {
        point(46340, 128,
              {Completed(1, 1, 30.0), Completed(2, 2, 900.0), WithoutProduct(3, 3, "Alloc Error")}),
        point(100, 1,
              {Completed(4, 1, 0.001), Completed(5, 2, 0.5), WithoutProduct(6, 3, "Alloc Error")}),
    };
    const std::string table = FormatSummaryTable(results);
    EXPECT_TRUE(HasRow(table, {"2", "block-pack-2x2", "100", "100", "1", "2", "250.5", "140.9",
                               "0.01", "2.00", "no-ref", "fail noisy short stop"}))
        << table;
    for (const std::string& line : Lines(table.substr(0, table.find("Runs without a figure")))) {
        EXPECT_LE(line.size(), 100u) << line;
    }
}

// A single run's notes: what it was, the fine clock's figure, and how much
// the report's millisecond tick can be off.
TEST(ResultText, ASingleRunAdmitsItsTick) {
    RunRecord run = Completed(1, 1, 0.04683);
    run.result.measurements.duration_seconds = 0.047;
    run.result.measurements.operations = 2.0 * 880 * 880 * 880;
    EXPECT_EQ(
        SingleRunNotes(run),
        (std::vector<std::string>{
            "a single cold run (this process's first product); fine clock: 46.83 ms, 29.10 GFLOPS",
            "47 ms on a 1 ms tick: \u00b12 %"}));
    run.result.measurements.duration_seconds = 0.100;
    EXPECT_EQ(SingleRunNotes(run).size(), 1u);  // 100 ticks and more: within 1 %
    run.result.measurements.duration_seconds = 0;
    EXPECT_EQ(SingleRunNotes(run).back(),
              "the product took less than the 1 ms tick: DURATION 0, Performance -1");
    run.result.product = false;
    EXPECT_TRUE(SingleRunNotes(run).empty());
}

TEST(ResultText, HeaderProgressAndCheckLines) {
    PlannedPoint point;
    point.params.method = 1;
    point.params.n = 410;
    point.params.l_block = 178;
    point.params.threads = 2;
    RunProgress progress;
    progress.point_index = 3;
    progress.points = 10;
    progress.point = &point;
    progress.shown = NormalisedParameters(point);  // n 352, l_block 176
    progress.round = 1;
    progress.runs_in_sample = 8;
    EXPECT_EQ(FormatRunHeader(progress),
              "== point 3 of 10: hp, n 352, l_block 176, threads 2, sample 1 (8 runs)");
    const std::string line = FormatProgressLine(progress, 1.25);
    EXPECT_EQ(line.rfind("point 3 of 10: hp, n 352, l_block 176, threads 2", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 16), " (1.2 s elapsed)") << line;
    progress.runs_in_sample = 1;
    EXPECT_EQ(FormatRunHeader(progress),
              "== point 3 of 10: hp, n 352, l_block 176, threads 2, sample 1");
    point.reference = true;
    progress.warmup = true;
    progress.round = 2;
    EXPECT_EQ(FormatRunHeader(progress),
              "== point 3 of 10: openblas, n 352, l_block 176, threads 2, warm-up 2");

    RunRecord run = Completed(1, 1, 0.01);
    EXPECT_EQ(FormatCheckLine(run), "");
    run.result.check = CheckVerdict::Passed;
    run.result.check_difference = 3.1e-17;
    EXPECT_EQ(FormatCheckLine(run), "check: passed (largest relative difference 3.1e-17)");
    run.result.check = CheckVerdict::Failed;
    run.result.check_difference = 0.5;
    EXPECT_EQ(FormatCheckLine(run), "check: failed (largest relative difference 0.5)");
    run.result.check = CheckVerdict::NoReference;
    EXPECT_EQ(FormatCheckLine(run), "check: not done (no memory for the reference product)");
}

TEST(RunContextTest, CpuModelDateAndKernelForms) {
    EXPECT_EQ(
        CpuModelFrom("processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel name\t: AMD EPYC 7B13 \n"
                     "model name\t: second\n"),
        "AMD EPYC 7B13");
    EXPECT_EQ(CpuModelFrom("model name\t: Bad\x01\xff Chip\n"), "Bad Chip");
    EXPECT_EQ(CpuModelFrom("processor : 0\n"), "unknown");
    EXPECT_EQ(CpuModelFrom("model name :   \n"), "unknown");
    EXPECT_EQ(IsoDateUtc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(IsoDateUtc(1714564800), "2024-05-01T12:00:00Z");
    EXPECT_EQ(KernelFormName(4, 0), "SSE2 4x4 (Tavrel)");
    // Both AVX levels run the form of Tavrel_8x4 in force.
    const std::string avx_levels = KernelFormName(4, 1);
    EXPECT_TRUE(avx_levels == "AVX-512 24x8 (Tavrel_8x4)" || avx_levels == "AVX 8x4 (Tavrel_8x4)")
        << avx_levels;
    EXPECT_EQ(KernelFormName(4, 2), avx_levels);
    for (int method = 0; method < 5; ++method) {
        EXPECT_EQ(KernelFormName(method, 2).find(','), std::string::npos);  // stays one CSV field
    }
    const std::string text = FormatContextText(SampleContext());
    EXPECT_EQ(text.rfind("cpu: Test \"CPU\" \\ model\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nmethod 4: AVX+FMA3, AVX 8x4 (Tavrel_8x4)\n"), std::string::npos);
}

namespace {
// A hand-made machine: 128-, 512-bit mul+add and 512-bit FMA peaks for 1
// and 2 threads, and the triad.
MachineLimits HandMadeLimits() {
    MachineLimits limits;
    const auto peak = [](const char* name, std::int32_t bits, bool fused, std::int32_t threads,
                         double median) {
        LimitMeasurement m;
        m.name = name;
        m.unit = "GFLOPS";
        m.vector_bits = bits;
        m.instructions = fused ? PeakInstructions::kFusedMulAdd : PeakInstructions::kMulAdd;
        m.threads = m.threads_requested = threads;
        m.median = m.best = median;
        return m;
    };
    limits.measurements = {peak("128-bit mul+add peak", 128, false, 1, 16),
                           peak("128-bit mul+add peak", 128, false, 2, 32),
                           peak("256-bit mul+add peak", 256, false, 1, 32),
                           peak("256-bit FMA peak", 256, true, 1, 32),
                           peak("512-bit mul+add peak", 512, false, 1, 64),
                           peak("512-bit mul+add peak", 512, false, 2, 128),
                           peak("512-bit FMA peak", 512, true, 1, 128),
                           peak("512-bit FMA peak", 512, true, 2, 256)};
    LimitMeasurement triad;
    triad.kind = LimitKind::kTriad;
    triad.name = "triad bandwidth";
    triad.unit = "GB/s";
    triad.threads = triad.threads_requested = 2;
    triad.median = triad.best = 35.25;
    limits.measurements.push_back(triad);
    limits.bit_exact_ceiling = "512-bit mul+add peak";
    return limits;
}
}  // namespace

// Each point is read against its peak: methods 0 to 3 that of the clone of
// their loop the loader picks (256-bit where AVX2 and FMA run, fused for hp
// and block-cache; else 128-bit), method 4 the width its kernel uses, the
// reference the widest fused peak, all of the point's thread count; the
// limits appear in the context as lines the plot reads.
TEST(ResultLimits, EveryPointAgainstItsPeak) {
    const MachineLimits limits = HandMadeLimits();
    std::vector<PointResult> results =
        SampleResults();  // classic 1.398 GFLOPS; vector-pack at level 1; hp
    PointResult reference = Point(0, 128, {Completed(9, 1, 0.0015)});
    reference.point.reference = true;
    results.push_back(reference);
    const bool v3 = SupportedIsaLevel() >= kIsaAvxFma3;
    const PointSummary classic = Summarise(results[0]);
    EXPECT_EQ(PeakForPoint(limits, results[0], classic)->name,
              v3 ? "256-bit mul+add peak" : "128-bit mul+add peak");
    EXPECT_EQ(PeakForPoint(limits, results[2], Summarise(results[2]))->name,
              v3 ? "256-bit FMA peak" : "128-bit mul+add peak");  // hp's loop may be contracted
    const PointSummary vector = Summarise(results[1]);
    const LimitMeasurement* vector_peak = PeakForPoint(limits, results[1], vector);
    if (VectorPackInstructionSet(1) == "AVX-512") {
        ASSERT_NE(vector_peak, nullptr);
        EXPECT_EQ(vector_peak->name, "512-bit mul+add peak");
    } else {
        EXPECT_EQ(vector_peak, nullptr);  // no 256-bit peak measured here
    }
    EXPECT_EQ(PeakForPoint(limits, results.back(), Summarise(results.back()))->name,
              "512-bit FMA peak");
    results[0].shown.threads = 3;  // no limit measured for 3 threads
    EXPECT_EQ(PeakForPoint(limits, results[0], classic), nullptr);
    results[0].shown.threads = 1;

    const std::string table = FormatSummaryTable(results, &limits);
    EXPECT_TRUE(HasRow(table, {"1", "classic", "128", "64", "1", "3", "3", "45.8", "1.40", "2.10",
                               "0.50", v3 ? "4" : "9", "-", "noisy short"}))
        << table;
    EXPECT_NE(table.find("peak%: median GFLOPS over the peak of what ran with its threads"),
              std::string::npos);
    const CsvRows rows = ParseCsv(FormatCsvHeader() + FormatCsvRow(results[0], 1, 3, &limits));
    EXPECT_EQ(Column(rows, "peak")[0],
              v3 ? "256-bit mul+add peak, 1 thread" : "128-bit mul+add peak, 1 thread");
    EXPECT_EQ(Column(rows, "peak_share")[0].substr(0, 5), v3 ? "0.043" : "0.087");

    RunContext context = SampleContext();
    context.limits = limits;
    const std::string comments = FormatContextComments(context);
    EXPECT_NE(comments.find("# limit: 512-bit mul+add peak, 2 threads: 128 GFLOPS\n"),
              std::string::npos)
        << comments;
    EXPECT_NE(comments.find("# limit: triad bandwidth, 2 threads: 35.25 GB/s\n"),
              std::string::npos);
    EXPECT_NE(comments.find("# bit-exact ceiling: 512-bit mul+add peak\n"), std::string::npos);
    const json doc = json::parse(FormatJson(context, results, false));
    EXPECT_EQ(doc["context"]["limits"]["measurements"].size(), 9u);
    EXPECT_EQ(doc["context"]["limits"]["bit_exact_ceiling"], "512-bit mul+add peak");
    EXPECT_EQ(doc["results"][0]["peak"],
              v3 ? "256-bit mul+add peak, 1 thread" : "128-bit mul+add peak, 1 thread");
    EXPECT_TRUE(doc["results"][2]["peak_share"].is_null());  // no figure
    // Methods 0 and 1 stream B once it exceeds the last-level cache: their
    // bound is the triad's bandwidth times a quarter operation per byte.
    EXPECT_EQ(CacheBytes("32768K"), 32u << 20);
    EXPECT_EQ(CacheBytes("1M"), 1u << 20);
    EXPECT_EQ(CacheBytes("unknown"), 0u);
    PointResult streaming = results[0];
    streaming.shown.n = 4096;  // B: 128 MiB
    streaming.shown.threads = 2;
    EXPECT_DOUBLE_EQ(*BandwidthBoundGflops(limits, streaming, 32u << 20), 35.25 * 0.25);
    EXPECT_FALSE(
        BandwidthBoundGflops(limits, results[0], 32u << 20).has_value());  // n 128: B in cache
    EXPECT_FALSE(BandwidthBoundGflops(limits, streaming, 0).has_value());  // cache unknown
    streaming.shown.method = kMethodBlockCache;
    EXPECT_FALSE(BandwidthBoundGflops(limits, streaming, 32u << 20)
                     .has_value());  // reuses blocks from cache
    const std::string limits_table = FormatLimitsTable(limits);
    EXPECT_NE(limits_table.find("The 512-bit mul+add peak is the ceiling of the bit-exact kernels"),
              std::string::npos);
}
