#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "cli_options.h"
#include "reference_dgemm.h"
#include "support/cli_process.h"
#include "support/json_reader.h"

namespace {
CliParseResult Parse(std::vector<std::string> args, std::int32_t supported_isa = 2) {
    return ParseCommandLine(args, supported_isa);
}

using CsvRows = std::vector<std::vector<std::string>>;

// The value of `column` in every data row.
std::vector<std::string> Column(const CsvRows& rows, const std::string& column) {
    std::size_t index = 0;
    while (index < rows.at(0).size() && rows[0][index] != column) ++index;
    std::vector<std::string> values;
    for (std::size_t r = 1; r < rows.size(); ++r) values.push_back(rows[r].at(index));
    return values;
}
}  // namespace

TEST(CliOptions, DefaultsAreTheRunDefaults) {
    const CliParseResult parsed = Parse({});
    ASSERT_EQ(parsed.error, "");
    const RunParameters& p = parsed.options.params;
    EXPECT_EQ(p.method, 0);
    EXPECT_EQ(p.n, 2000);
    EXPECT_EQ(p.l_block, 176);
    EXPECT_EQ(p.threads, 1);
    EXPECT_EQ(p.chunk, 100u);
    EXPECT_EQ(p.parallel_kind, 0);
    EXPECT_FALSE(p.check);
    EXPECT_EQ(parsed.options.isa_cap, 2);
}

TEST(CliOptions, EveryFieldHasAnOption) {
    const CliParseResult parsed =
        Parse({"--method", "block-cache", "-n", "300", "--l-block=64", "--threads", "4",
               "--chunk", "7", "--parallel-kind", "tbb", "--check", "--isa", "sse2"});
    ASSERT_EQ(parsed.error, "");
    const RunParameters& p = parsed.options.params;
    EXPECT_EQ(p.method, 2);
    EXPECT_EQ(p.n, 300);
    EXPECT_EQ(p.l_block, 64);
    EXPECT_EQ(p.threads, 4);
    EXPECT_EQ(p.chunk, 7u);
    EXPECT_EQ(p.parallel_kind, 1);
    EXPECT_TRUE(p.check);
    EXPECT_EQ(parsed.options.isa_cap, 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Parse({"--method", std::to_string(i)}).options.params.method, i);
        EXPECT_EQ(Parse({"--method", CliMethodNames()[i]}).options.params.method, i);
    }
    EXPECT_TRUE(Parse({"-h"}).options.show_help);
    EXPECT_TRUE(Parse({"--version"}).options.show_version);
}

TEST(CliOptions, RefusesUnusableValuesNamingOptionAndRange) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-n", "0"}, "-n: expected a whole number from 1 to 46340, got '0'"},
        {{"-n", "46341"}, "-n: expected a whole number from 1 to 46340"},
        {{"-n", "12abc"}, "-n: expected a whole number from 1 to 46340"},
        {{"-n", ""}, "-n: expected"},
        {{"--l-block", "3"}, "--l-block: expected a whole number at least 4"},
        {{"--threads", "0"}, "--threads: expected a whole number from 1 to 128"},
        {{"--threads", "129"}, "--threads: expected a whole number from 1 to 128"},
        {{"--chunk", "-1"}, "--chunk: expected a whole number from 0 to 4294967295"},
        {{"--method", "5"}, "--method: expected 0 to 4"},
        {{"--method", "fast"}, "--method: expected 0 to 4"},
        {{"--parallel-kind", "pthreads"}, "--parallel-kind: expected openmp or tbb"},
        {{"--isa", "avx512"}, "--isa: expected auto, sse2, avx or avx2"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"-n"}, "-n: missing value"},
        {{"--check=yes"}, "--check: takes no value"},
        {{"-n", "99999999999999999999"}, "-n: expected"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(Parse(args).error.rfind(message, 0), 0u) << Parse(args).error;
    }
}

TEST(CliOptions, IsaCannotAskForMoreThanTheProcessorOffers) {
    EXPECT_NE(Parse({"--isa", "avx2"}, 1).error.find("offers at most avx"), std::string::npos);
    EXPECT_NE(Parse({"--isa", "avx"}, 0).error.find("offers at most sse2"), std::string::npos);
    EXPECT_EQ(Parse({"--isa", "avx"}, 2).options.isa_cap, 1);
    EXPECT_EQ(Parse({"--isa", "auto"}, 0).error, "");
}

TEST(CliProgram, PrintsTheReportOfASmallRun) {
    const CliRun run = RunCli("-n 90 --l-block 40 --check");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::regex report(
        "Matrices are prepared\n"
        "DURATION:  [0-9.e+-]+  s\n"
        "OPS:  1\\.024e\\+06\n"  // n 80
        "Performance:  [0-9.e+-]+  Mflops\n");
    EXPECT_TRUE(std::regex_match(run.out, report)) << run.out;
}

TEST(CliProgram, ExitStatuses) {
    const CliRun bad = RunCli("--threads 200");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("--threads: expected a whole number from 1 to 128, got '200'"),
              std::string::npos);

    // Four matrices of order 46340 are far beyond this machine: Alloc Error.
    const CliRun too_big = RunCli("-n 46340 --check");
    EXPECT_EQ(too_big.status, 1);
    EXPECT_EQ(too_big.out, "");
    EXPECT_EQ(too_big.err, "notice: Alloc Error\n");

    const CliRun help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--parallel-kind"), std::string::npos);
    EXPECT_EQ(RunCli("--version").out, "vorp-cli 1.0.0\n");
}

TEST(CliOptions, MultiRunOptions) {
    const CliParseResult defaults = Parse({});
    EXPECT_FALSE(defaults.options.all_methods);
    EXPECT_EQ(defaults.options.repeat, 1);
    EXPECT_EQ(defaults.options.warmup, 0);
    EXPECT_EQ(defaults.options.format, OutputFormat::Text);
    EXPECT_TRUE(defaults.options.sizes.empty() && defaults.options.thread_counts.empty());

    const CliParseResult parsed =
        Parse({"--all", "--repeat", "3", "--warmup=2", "--format", "json", "--output", "r.json",
               "--sizes", "200:1000:200", "--threads-list", "1,2"});
    ASSERT_EQ(parsed.error, "");
    const CliOptions& o = parsed.options;
    EXPECT_TRUE(o.all_methods);
    EXPECT_EQ(o.repeat, 3);
    EXPECT_EQ(o.warmup, 2);
    EXPECT_EQ(o.format, OutputFormat::Json);
    EXPECT_EQ(o.output_path, "r.json");
    EXPECT_EQ(o.sizes, (std::vector<std::int32_t>{200, 400, 600, 800, 1000}));
    EXPECT_EQ(o.thread_counts, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(Parse({"--format", "csv"}).options.format, OutputFormat::Csv);
}

TEST(CliOptions, RefusesUnusableMultiRunValues) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--repeat", "0"}, "--repeat: expected a whole number from 1 to 1000"},
        {{"--repeat", "1001"}, "--repeat: expected a whole number from 1 to 1000"},
        {{"--warmup", "-1"}, "--warmup: expected a whole number from 0 to 100"},
        {{"--format", "xml"}, "--format: expected text, csv or json, got 'xml'"},
        {{"--output", ""}, "--output: expected a file name"},
        {{"--all=1"}, "--all: takes no value"},
        {{"--all", "--method", "1"}, "--all and --method cannot be combined"},
        {{"--sizes", "64", "-n", "64"}, "--sizes and -n cannot be combined"},
        {{"--threads", "2", "--threads-list", "1,2"}, "--threads-list and --threads cannot be combined"},
        {{"--sizes", "100,,200"}, "--sizes: expected whole numbers from 1 to 46340 separated by commas"},
        {{"--threads-list", "0,1"}, "--threads-list: expected whole numbers from 1 to 128"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(Parse(args).error.rfind(message, 0), 0u) << Parse(args).error;
    }
}

TEST(CliOptions, ReferenceIsOfferedOnlyWithTheSystemBlas) {
    const CliParseResult parsed = Parse({"--reference"});
    if (ReferenceDgemmAvailable()) {
        EXPECT_EQ(parsed.error, "");
        EXPECT_TRUE(parsed.options.reference);
    } else {
        EXPECT_EQ(parsed.error,
                  "--reference: the system BLAS (libopenblas.so.0) could not be loaded");
    }
}

TEST(CliProgram, AllMethodsRepeatedAsJson) {
    const CliRun run = RunCli("--all --repeat 2 --format json -n 64 --l-block 32 --check");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // not a terminal: no progress; the context is in the document
    const JsonValue doc = JsonReader::Parse(run.out);
    EXPECT_EQ(doc["schema_version"].number, 1);
    const JsonValue& context = doc["context"];
    for (const char* key : {"program", "version", "date", "cpu_model", "isa", "vector_kernel",
                            "compiler", "build_type"}) {
        EXPECT_EQ(context[key].kind, JsonValue::Kind::String) << key;
    }
    EXPECT_EQ(context["version"].text, "1.0.0");
    EXPECT_EQ(context["repeat"].number, 2);
    const JsonValue& results = doc["results"];
    ASSERT_EQ(results.items.size(), 5u);
    for (std::size_t m = 0; m < 5; ++m) {
        const JsonValue& r = results[m];
        EXPECT_EQ(r["method"].text, CliMethodNames()[m]);
        EXPECT_EQ(r["method_index"].number, m);
        EXPECT_EQ(r["n"].number, 64);
        EXPECT_EQ(r["seconds"].items.size(), 2u);
        EXPECT_EQ(r["completed"].number, 2);
        EXPECT_EQ(r["check"].text, "passed");
        EXPECT_TRUE(r["problems"].items.empty());
        EXPECT_LE(r["best_seconds"].number, r["median_seconds"].number);
    }
    EXPECT_FALSE(results[4]["isa"].IsNull());
    EXPECT_TRUE(results[0]["isa"].IsNull());
}

TEST(CliProgram, SweepAsCsvShowsTheNormalisedSizes) {
    const CliRun run =
        RunCli("--method hp --sizes 40:130:30 --l-block 32 --threads-list 1,2 --format csv");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("cpu: "), std::string::npos);  // the context goes to standard error
    const CsvRows rows = ParseCsv(run.out);
    ASSERT_EQ(rows.size(), 9u) << run.out;
    EXPECT_EQ(rows[0][0], "method");
    for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size());
    // 40, 70, 100, 130 lose their remainder modulo 32.
    EXPECT_EQ(Column(rows, "n"), (std::vector<std::string>{"32", "32", "64", "64", "96", "96", "128", "128"}));
    EXPECT_EQ(Column(rows, "threads"), (std::vector<std::string>{"1", "2", "1", "2", "1", "2", "1", "2"}));
    EXPECT_EQ(Column(rows, "method")[7], "hp");
}

TEST(CliProgram, MalformedListsAreRefusedBeforeAnyRun) {
    for (const char* args : {"--sizes 200:100:10", "--sizes 100:200:0", "--sizes 100:200",
                             "--sizes 1:46340:1", "--sizes x", "--sizes 64,", "--threads-list 1,200",
                             "--threads-list '1;2'"}) {
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_NE(run.err.find("Try 'vorp-cli --help'"), std::string::npos) << args;
    }
}

TEST(CliProgram, TextOutputToAFileWithSummary) {
    const std::string path = TempPath("summary.txt");
    const CliRun run = RunCli("--repeat 3 --warmup 1 -n 48 --check --output " + path);
    const std::string text = ReadWholeFile(path);
    std::remove(path.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(text.find("== run 1 of 4: classic, n 48, threads 1, warm-up 1 of 1\nMatrices are prepared\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("== run 4 of 4: classic, n 48, threads 1, counted run 3 of 3"), std::string::npos);
    EXPECT_NE(text.find("Summary: best and median of 3 counted runs per row, after 1 warm-up"),
              std::string::npos) << text;
    EXPECT_NE(text.find("All 4 runs completed without notice or check failure."), std::string::npos);

    const CliRun unwritable = RunCli("-n 8 --output /nonexistent-dir/x.csv");
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_NE(unwritable.err.find("--output /nonexistent-dir/x.csv: No such file or directory"),
              std::string::npos) << unwritable.err;
}

TEST(CliProgram, NoticesMakeTheStatusOneAndTheSummaryNamesTheRuns) {
    // Methods 1, 2 and 4 answer TBB with a notice; 0 and 3 ignore the selector.
    const CliRun run = RunCli("--all -n 32 --parallel-kind tbb");
    EXPECT_EQ(run.status, 1);
    const std::string problems = run.out.substr(run.out.find("Runs with a check failure or notice:"));
    for (const char* line : {"run 2 of 5 (row 2: hp", "run 3 of 5 (row 3: block-cache",
                             "run 5 of 5 (row 5: vector-pack"}) {
        EXPECT_NE(problems.find(line), std::string::npos) << problems;
    }
    EXPECT_EQ(problems.find("run 1 of 5"), std::string::npos);
    EXPECT_EQ(problems.find("run 4 of 5"), std::string::npos);
    EXPECT_NE(problems.find("notice \"TBB does not support\""), std::string::npos);

    // CSV and JSON keep the data clean and name the runs on standard error.
    const CliRun csv = RunCli("--all -n 32 --parallel-kind tbb --format csv");
    EXPECT_EQ(csv.status, 1);
    EXPECT_NE(csv.err.find("run 2 of 5 (row 2: hp"), std::string::npos);
    EXPECT_EQ(Column(ParseCsv(csv.out), "problems")[1], "run 2: notice \"TBB does not support\"");
}

TEST(CliProgram, ReferenceRowOrRefusal) {
    const CliRun run = RunCli("--reference -n 64 --threads 2 --check --format csv");
    if (!ReferenceDgemmAvailable()) {
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("not available in this build"), std::string::npos);
        return;
    }
    EXPECT_EQ(run.status, 0) << run.err;
    const CsvRows rows = ParseCsv(run.out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(Column(rows, "method"), (std::vector<std::string>{"classic", "openblas"}));
    EXPECT_EQ(Column(rows, "method_index")[1], "");
    EXPECT_EQ(Column(rows, "threads")[1], "2");
    EXPECT_EQ(Column(rows, "check"), (std::vector<std::string>{"passed", "passed"}));
    EXPECT_EQ(Column(rows, "kernel")[1].rfind("OpenBLAS dgemm", 0), 0u);
}

TEST(CliProgram, PlotScriptDrawsASweep) {
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "gnuplot is not installed (Debian package gnuplot-nox); the plot is not tested";
    }
    const std::string csv = TempPath("sweep.csv"), png = TempPath("sweep.png");
    const CliRun sweep = RunCli("--all --sizes 100:300:100 --l-block 100 --format csv --output " + csv);
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const std::string command =
        std::string(VORP_PLOT_SCRIPT) + " " + csv + " " + png + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string image = ReadWholeFile(png);
    EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
    EXPECT_GT(image.size(), 1000u);
    std::remove(csv.c_str());
    std::remove(png.c_str());
    // A CSV without the needed columns is refused.
    const std::string bad = TempPath("bad.csv");
    std::ofstream(bad) << "a,b\n1,2\n";
    EXPECT_NE(std::system((std::string(VORP_PLOT_SCRIPT) + " " + bad + " " + png + " 2>/dev/null").c_str()), 0);
    std::remove(bad.c_str());
}
