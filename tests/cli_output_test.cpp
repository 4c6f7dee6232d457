// The outputs of vorp-cli's multi-run work: JSON writer, CSV and JSON
// documents, summary table, problem list, context and kernel forms.
#include <gtest/gtest.h>

#include "json_writer.h"
#include "kernel_form.h"
#include "processor_info.h"
#include "result_format.h"
#include "run_context.h"
#include "support/json_reader.h"

namespace {
RunRecord Completed(std::size_t sequence, double seconds, bool warmup = false) {
    RunRecord run;
    run.sequence = sequence;
    run.warmup = warmup;
    run.result.outcome = RunOutcome::Completed;
    run.result.measurements.duration_seconds = seconds;
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

// Classic at n 128 (2, 5, 3 ms after a warm-up), method 4 at the AVX level
// with one notice, and an HP point whose only run stopped.
std::vector<PointResult> SampleResults() {
    std::vector<PointResult> results;
    results.push_back(Point(0, 130, {Completed(1, 0.009, true), Completed(2, 0.002),
                                     Completed(3, 0.005), Completed(4, 0.003)}));
    RunRecord vector_run = Completed(5, 0.001);
    vector_run.result.isa_level = 1;
    vector_run.notices = {"Conflict between N and \"lbv\", or lbh"};
    results.push_back(Point(4, 128, {vector_run}));
    RunRecord stopped;
    stopped.sequence = 6;
    stopped.result.outcome = RunOutcome::AllocError;
    stopped.notices = {"Alloc Error"};
    results.push_back(Point(1, 128, {stopped}));
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
}  // namespace

TEST(JsonWriter, EscapesAndNestsIntoValidJson) {
    EXPECT_EQ(JsonQuoted("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonQuoted("caf\xc3\xa9"), "\"caf\xc3\xa9\"");  // UTF-8 passes through
    JsonWriter json;
    json.BeginObject();
    json.Key("empty").BeginArray().EndArray();
    json.Key("none").BeginObject().EndObject();
    json.Key("list").BeginArray().Integer(-3).Number(0.1).Number(1e300 * 1e300).Bool(false).Null().EndArray();
    json.Key("text").String("line\nbreak");
    json.Key("missing").Number(std::optional<double>());
    json.EndObject();
    const JsonValue doc = JsonReader::Parse(json.Text());
    EXPECT_TRUE(doc["empty"].items.empty());
    EXPECT_TRUE(doc["none"].members.empty());
    EXPECT_EQ(doc["list"].items.size(), 5u);
    EXPECT_EQ(doc["list"][0].number, -3);
    EXPECT_EQ(doc["list"][1].number, 0.1);  // shortest form reads back exactly
    EXPECT_TRUE(doc["list"][2].IsNull());   // infinity is not JSON
    EXPECT_EQ(doc["text"].text, "line\nbreak");
    EXPECT_TRUE(doc["missing"].IsNull());
    EXPECT_EQ(json.Text().back(), '\n');
}

TEST(ResultJson, HoldsContextAndEveryPoint) {
    const JsonValue doc = JsonReader::Parse(FormatJson(SampleContext(), SampleResults()));
    EXPECT_EQ(doc["schema_version"].number, kResultsSchemaVersion);
    const JsonValue& context = doc["context"];
    EXPECT_EQ(context["cpu_model"].text, "Test \"CPU\" \\ model");
    EXPECT_EQ(context["isa_level"].number, 2);
    EXPECT_EQ(context["vector_kernel"].text, "AVX 8x4 (Tavrel_8x4)");
    EXPECT_EQ(context["threads"].items.size(), 2u);
    EXPECT_TRUE(context["reference"].IsNull());

    const JsonValue& results = doc["results"];
    ASSERT_EQ(results.items.size(), 3u);
    const JsonValue& classic = results[0];
    EXPECT_EQ(classic["method"].text, "classic");
    EXPECT_EQ(classic["n"].number, 128);  // 130 normalised with l_block 64
    EXPECT_EQ(classic["operations"].number, 4194304);
    EXPECT_EQ(classic["seconds"].items.size(), 3u);  // the warm-up is not counted
    EXPECT_EQ(classic["seconds"][1].number, 0.005);
    EXPECT_EQ(classic["best_seconds"].number, 0.002);
    EXPECT_EQ(classic["median_seconds"].number, 0.003);
    EXPECT_EQ(classic["best_gflops"].number, 2.09715);  // 2.097152 to six digits
    EXPECT_TRUE(classic["isa"].IsNull());
    EXPECT_TRUE(classic["problems"].items.empty());

    const JsonValue& vector = results[1];
    EXPECT_EQ(vector["isa"].text, "AVX");
    EXPECT_EQ(vector["kernel"].text, KernelFormName(4, 1));
    EXPECT_EQ(vector["problems"][0]["run"].number, 5);
    EXPECT_EQ(vector["problems"][0]["notices"][0].text, "Conflict between N and \"lbv\", or lbh");

    const JsonValue& stopped = results[2];
    EXPECT_EQ(stopped["completed"].number, 0);
    EXPECT_TRUE(stopped["best_seconds"].IsNull());
    EXPECT_TRUE(stopped["best_gflops"].IsNull());
    EXPECT_FALSE(stopped["problems"][0]["completed"].boolean);
}

TEST(ResultCsv, OneQuotedRowPerPoint) {
    const std::string csv = FormatCsv(SampleResults(), 1, 3);
    const auto rows = ParseCsv(csv);
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<std::string> header = {
        "method", "method_index", "n", "l_block", "threads", "chunk", "isa", "kernel", "warmup",
        "repeat", "completed", "best_seconds", "median_seconds", "best_gflops", "median_gflops",
        "check", "problems"};
    EXPECT_EQ(rows[0], header);
    for (const auto& row : rows) EXPECT_EQ(row.size(), header.size());
    EXPECT_EQ(rows[1], (std::vector<std::string>{"classic", "0", "128", "64", "1", "100", "",
                                                 "scalar r-c-k loop", "1", "3", "3", "0.002", "0.003",
                                                 "2.09715", "1.3981", "not run", ""}));
    EXPECT_EQ(rows[2][6], "AVX");
    EXPECT_EQ(rows[2][16], "run 5: notice \"Conflict between N and \"lbv\", or lbh\"");
    EXPECT_EQ(rows[3][11], "");  // nothing timed
    EXPECT_EQ(rows[3][16], "run 6: notice \"Alloc Error\"; run not completed");
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
}

TEST(ResultText, SummaryTableAndProblemList) {
    const std::string table = FormatSummaryTable(SampleResults(), 1, 3);
    EXPECT_EQ(table.rfind("Summary: best and median of 3 counted runs per row, after 1 warm-up", 0), 0u);
    EXPECT_NE(table.find("  1  classic           128       64        1     0.002     0.003         2.10"),
              std::string::npos) << table;
    EXPECT_NE(table.find("  3  hp                128       64        1         -         -            -"),
              std::string::npos) << table;
    EXPECT_NE(table.find("Runs with a check failure or notice:\n"
                         "  run 5 of 6 (row 2: vector-pack, n 128, threads 1): notice"),
              std::string::npos) << table;
    EXPECT_NE(table.find("  run 6 of 6 (row 3: hp, n 128, threads 1): notice \"Alloc Error\"; run not completed\n"),
              std::string::npos);
    const std::vector<PointResult> clean = {SampleResults()[0]};
    EXPECT_EQ(FormatProblems(clean), "All 4 runs completed without notice or check failure.\n");
}

TEST(ResultText, HeaderAndProgressLines) {
    PlannedPoint point;
    point.params.method = 1;
    point.params.n = 400;
    point.params.threads = 2;
    RunProgress progress{3, 10, &point, false, 1, 3};
    EXPECT_EQ(FormatRunHeader(progress), "== run 3 of 10: hp, n 400, threads 2, counted run 1 of 3");
    EXPECT_EQ(FormatProgressLine(progress, 1.25), "run 3 of 10: hp, n 400, threads 2 (1.2 s elapsed)");
    point.reference = true;
    progress.warmup = true;
    EXPECT_EQ(FormatRunHeader(progress), "== run 3 of 10: openblas, n 400, threads 2, warm-up 1 of 3");
}

TEST(RunContextTest, CpuModelDateAndKernelForms) {
    EXPECT_EQ(CpuModelFrom("processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel name\t: AMD EPYC 7B13 \n"
                           "model name\t: second\n"),
              "AMD EPYC 7B13");
    EXPECT_EQ(CpuModelFrom("model name\t: Bad\x01\xff Chip\n"), "Bad Chip");
    EXPECT_EQ(CpuModelFrom("processor : 0\n"), "unknown");
    EXPECT_EQ(CpuModelFrom("model name :   \n"), "unknown");
    EXPECT_EQ(IsoDateUtc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(IsoDateUtc(1714564800), "2024-05-01T12:00:00Z");
    EXPECT_EQ(KernelFormName(4, 0), "SSE2 4x4 (Tavrel)");
    const std::string avx_levels = TheProcessorInfo().RunsAvx512() ? "AVX-512 24x8 (Tavrel_8x4)"
                                                                   : "AVX 8x4 (Tavrel_8x4)";
    EXPECT_EQ(KernelFormName(4, 1), avx_levels);
    EXPECT_EQ(KernelFormName(4, 2), avx_levels);
    setenv("TAVREL_8X4_FORM", "avx", 1);  // the library's switch to its 256-bit form
    EXPECT_EQ(KernelFormName(4, 2), "AVX 8x4 (Tavrel_8x4)");
    unsetenv("TAVREL_8X4_FORM");
    for (int method = 0; method < 5; ++method) {
        EXPECT_EQ(KernelFormName(method, 2).find(','), std::string::npos);  // stays one CSV field
    }
    const std::string text = FormatContextText(SampleContext());
    EXPECT_EQ(text.rfind("vorp-cli 1.0.0, 2024-05-01T12:00:00Z\n", 0), 0u);
    EXPECT_NE(text.find("method 4: AVX+FMA3, AVX 8x4 (Tavrel_8x4)\n"), std::string::npos);
}
