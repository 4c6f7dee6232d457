// vorp-cli's options, and the binary on small runs: reports, exit statuses,
// the multi-run outputs and the plot script.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "cli_options.h"
#include "method_table.h"
#include "processor_info.h"
#include "reference_dgemm.h"
#include "support/cli_process.h"

namespace {
using nlohmann::json;

CliParseResult Parse(std::vector<std::string> args, VectorIsaCap supported = VectorIsaCap::Avx2) {
    return ParseCommandLine(args, supported);
}

bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_search(text, std::regex(pattern));
}

// The names a user gives --method, and the results show, by index.
const char* const kMethodNames[] = {"classic", "hp", "block-cache", "block-pack-2x2",
                                    "vector-pack"};
}  // namespace

TEST(CliOptions, DefaultsAreOneRunWithTheRunDefaults) {
    const CliParseResult parsed = Parse({});
    ASSERT_EQ(parsed.error, "");
    const CliOptions& o = parsed.options;
    const RunParameters& p = o.params;
    EXPECT_EQ(p.method, 0);
    EXPECT_EQ(p.n, 2000);
    EXPECT_EQ(p.l_block, 176);
    EXPECT_EQ(p.threads, 1);
    EXPECT_EQ(p.chunk, 100u);
    EXPECT_EQ(p.parallel_kind, 0);
    EXPECT_FALSE(p.check);
    EXPECT_EQ(p.isa_cap, VectorIsaCap::Auto);
    EXPECT_FALSE(o.all_methods);
    EXPECT_EQ(o.repeat, 1);
    EXPECT_EQ(o.warmup, 0);
    EXPECT_FALSE(o.min_time_given);
    EXPECT_EQ(o.min_time_seconds, 0);
    EXPECT_EQ(o.format, OutputFormat::Text);
    EXPECT_TRUE(o.sizes.empty() && o.thread_counts.empty() && o.compare_paths.empty());
}

TEST(CliOptions, EveryFieldHasAnOption) {
    const CliParseResult parsed =
        Parse({"--method", "block-cache", "-n", "300", "--l-block=64", "--threads", "4", "--chunk",
               "7", "--parallel-kind", "tbb", "--check", "--isa", "sse2"});
    ASSERT_EQ(parsed.error, "");
    const RunParameters& p = parsed.options.params;
    EXPECT_EQ(p.method, 2);
    EXPECT_EQ(p.n, 300);
    EXPECT_EQ(p.l_block, 64);
    EXPECT_EQ(p.threads, 4);
    EXPECT_EQ(p.chunk, 7u);
    EXPECT_EQ(p.parallel_kind, 1);
    EXPECT_TRUE(p.check);
    EXPECT_EQ(parsed.options.params.isa_cap, VectorIsaCap::Sse2);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Parse({"--method", std::to_string(i)}).options.params.method, i);
        EXPECT_EQ(Parse({"--method", kMethodNames[i]}).options.params.method, i) << kMethodNames[i];
    }
    EXPECT_TRUE(Parse({"-h"}).options.show_help);
    EXPECT_TRUE(Parse({"--version"}).options.show_version);
}

// The bash completion is a static file: its --method words must be the
// table's indices, then its keys.
TEST(CliOptions, CompletionOffersTheMethodTable) {
    std::ifstream file(VORP_COMPLETION_FILE);
    ASSERT_TRUE(file) << VORP_COMPLETION_FILE;
    std::string line, words;
    const std::regex method_line(R"re(^\s*--method\).*compgen -W "([^"]*)")re");
    for (std::smatch match; std::getline(file, line);) {
        if (std::regex_search(line, match, method_line)) words = match[1];
    }
    std::string expected;
    for (std::size_t i = 0; i < kMethodTableSize; ++i)
        expected += std::to_string(MethodTable()[i].index) + " ";
    for (std::size_t i = 0; i < kMethodTableSize; ++i) {
        expected += std::string(MethodTable()[i].key) + (i + 1 < kMethodTableSize ? " " : "");
    }
    EXPECT_EQ(words, expected);
}

// Each error names the option, what it takes and, where it says, what it got.
TEST(CliOptions, RefusesUnusableValuesNamingOptionAndRange) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-n", "0"}, "-n: expected a whole number from 1 to 46340, got '0'"},
        {{"-n", "46341"}, "-n: expected a whole number from 1 to 46340"},
        {{"-n", "12abc"}, "-n: expected a whole number from 1 to 46340"},
        {{"-n", ""}, "-n: expected"},
        {{"-n", "99999999999999999999"}, "-n: expected"},
        {{"--l-block", "3"}, "--l-block: expected a whole number at least 4"},
        {{"--threads", "0"}, "--threads: expected a whole number from 1 to 128"},
        {{"--threads", "129"}, "--threads: expected a whole number from 1 to 128"},
        {{"--chunk", "-1"}, "--chunk: expected a whole number from 0 to 4294967295"},
        {{"--method", "5"}, "--method: expected 0 to 4"},
        {{"--method", "-1"}, "--method: expected 0 to 4"},
        {{"--method", "fast"}, "--method: expected 0 to 4"},
        {{"--method", "3,"}, "--method: expected 0 to 4"},
        {{"--method", "3,9"}, "--method: expected 0 to 4"},
        {{"--method", "3,3"}, "--method: 3 is named twice in '3,3'"},
        {{"--parallel-kind", "pthreads"}, "--parallel-kind: expected openmp or tbb"},
        {{"--isa", "avx3"}, "--isa: expected auto, sse2, avx, avx2 or avx512, got 'avx3'"},
        {{"--isa", "AVX2"}, "--isa: expected auto, sse2, avx, avx2 or avx512"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"-n"}, "-n: missing value"},
        {{"--check=yes"}, "--check: takes no value"},
        {{"--all=1"}, "--all: takes no value"},
        {{"--repeat", "0"}, "--repeat: expected a whole number from 1 to 1000"},
        {{"--repeat", "1001"}, "--repeat: expected a whole number from 1 to 1000"},
        {{"--warmup", "-1"}, "--warmup: expected a whole number from 0 to 100"},
        {{"--format", "xml"}, "--format: expected text, csv, json or markdown, got 'xml'"},
        {{"--output", ""}, "--output: expected a file name"},
        {{"--all", "--method", "1"}, "--all and --method cannot be combined"},
        {{"--sizes", "64", "-n", "64"}, "--sizes and -n cannot be combined"},
        {{"--threads", "2", "--threads-list", "1,2"},
         "--threads-list and --threads cannot be combined"},
        {{"--sizes", "100,,200"},
         "--sizes: expected whole numbers from 1 to 46340 separated by commas"},
        {{"--threads-list", "0,1"}, "--threads-list: expected whole numbers from 1 to 128"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(Parse(args).error.rfind(message, 0), 0u) << Parse(args).error;
    }
    for (const char* seconds : {"-1", "3601", "1e3", "abc", "", "0.5s", "nan", "inf"}) {
        EXPECT_EQ(Parse({"--min-time", seconds})
                      .error.rfind("--min-time: expected seconds from 0 to 3600", 0),
                  0u)
            << "'" << seconds << "': " << Parse({"--min-time", seconds}).error;
    }
}

TEST(CliOptions, IsaCannotAskForMoreThanTheProcessorOffers) {
    EXPECT_EQ(Parse({"--isa", "avx512"}, VectorIsaCap::Avx2).error,
              "--isa avx512: this processor (with this operating system) offers at most avx2");
    EXPECT_TRUE(Contains(Parse({"--isa", "avx2"}, VectorIsaCap::Avx).error, "offers at most avx"));
    EXPECT_TRUE(Contains(Parse({"--isa", "avx"}, VectorIsaCap::Sse2).error, "offers at most sse2"));
    const std::pair<const char*, VectorIsaCap> accepted[] = {{"auto", VectorIsaCap::Auto},
                                                             {"sse2", VectorIsaCap::Sse2},
                                                             {"avx", VectorIsaCap::Avx},
                                                             {"avx2", VectorIsaCap::Avx2},
                                                             {"avx512", VectorIsaCap::Avx512}};
    for (const auto& [name, cap] : accepted) {
        const CliParseResult parsed = Parse({"--isa", name}, VectorIsaCap::Avx512);
        EXPECT_EQ(parsed.error, "") << name;
        EXPECT_EQ(parsed.options.params.isa_cap, cap) << name;
    }
    EXPECT_EQ(Parse({"--isa", "auto"}, VectorIsaCap::Sse2).error, "");
}

TEST(CliOptions, EveryMultiRunOptionIsRead) {
    const CliParseResult parsed =
        Parse({"--all", "--repeat", "3", "--warmup=2", "--format", "json", "--output", "r.json",
               "--sizes", "200:1000:200", "--threads-list", "1,2", "--min-time", "0.5"});
    ASSERT_EQ(parsed.error, "");
    const CliOptions& o = parsed.options;
    EXPECT_TRUE(o.all_methods);
    EXPECT_EQ(o.repeat, 3);
    EXPECT_EQ(o.warmup, 2);
    EXPECT_EQ(o.format, OutputFormat::Json);
    EXPECT_EQ(o.output_path, "r.json");
    EXPECT_EQ(o.sizes, (std::vector<std::int32_t>{200, 400, 600, 800, 1000}));
    EXPECT_EQ(o.thread_counts, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(o.min_time_seconds, 0.5);
    EXPECT_TRUE(o.min_time_given);
    EXPECT_EQ(Parse({"--format", "csv"}).options.format, OutputFormat::Csv);
    // An explicit 0 still counts as given: it turns off a sweep's default.
    const CliParseResult zero = Parse({"--min-time", "0"});
    EXPECT_TRUE(zero.options.min_time_given);
    EXPECT_EQ(zero.options.min_time_seconds, 0);
    EXPECT_EQ(Parse({"--min-time=3600"}).options.min_time_seconds, 3600);
}

TEST(CliOptions, CompareTakesTwoFilesAndNothingElse) {
    const CliParseResult parsed = Parse({"--compare", "old.json", "new.json"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.compare_paths, (std::vector<std::string>{"old.json", "new.json"}));
    // The file names are taken as they are, even when they look like options.
    EXPECT_EQ(Parse({"--compare", "-n", "--all"}).options.compare_paths,
              (std::vector<std::string>{"-n", "--all"}));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--compare"},
                                                 {"--compare", "old.json"},
                                                 {"--compare=old.json", "new.json"}}) {
        EXPECT_EQ(Parse(args).error, "--compare: expected two result files, OLD.json NEW.json");
    }
    EXPECT_EQ(Parse({"--compare", "a", "b", "-n", "64"}).error,
              "--compare takes no other option but --match");
    EXPECT_EQ(Parse({"--all", "--compare", "a", "b"}).error,
              "--compare takes no other option but --match");
    EXPECT_EQ(Parse({"--compare", "a", "b", "--match", "threads"}).options.compare_match,
              CompareMatch::Threads);
    EXPECT_EQ(Parse({"--match", "method", "--compare", "a", "b"}).options.compare_match,
              CompareMatch::Method);
    EXPECT_EQ(Parse({"--compare", "a", "b", "--match", "isa"}).error,
              "--match: expected method, threads or n, got 'isa'");
    EXPECT_EQ(Parse({"--match", "threads"}).error, "--match: only with --compare");
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
    const CliParseResult blis = Parse({"--reference=blis"});
    if (ReferenceDgemmAvailable(ReferenceLibrary::Blis)) {
        EXPECT_EQ(blis.error, "");
        EXPECT_EQ(blis.options.reference_library, ReferenceLibrary::Blis);
    } else {
        EXPECT_EQ(blis.error, "--reference: the system BLAS (libblis.so.4) could not be loaded");
    }
    EXPECT_EQ(Parse({"--reference=mkl"}).error,
              "--reference: expected openblas, openblas-own or blis, got 'mkl'");
    if (ReferenceDgemmAvailable()) {
        EXPECT_TRUE(Parse({"--reference=openblas-own"}).options.reference_own_choice);
        EXPECT_FALSE(Parse({"--reference=openblas"}).options.reference_own_choice);
    }
}

TEST(CliProgram, PrintsTheReportOfASmallRun) {
    const CliRun run = RunCli("-n 90 --l-block 40 --check");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::regex report(
        "Matrices are prepared\n"
        "DURATION:  [0-9.e+-]+  s\n"
        "OPS:  1\\.024e\\+06\n"  // n 80
        "Performance:  [0-9.e+-]+  Mflops\n");
    EXPECT_TRUE(std::regex_match(run.out, report)) << run.out;
    // The normalisation, what the run was, the fine clock and the tick's
    // coarseness (the run is a few ticks at most), and the check's verdict
    // go to standard error.
    EXPECT_TRUE(std::regex_match(
        run.err, std::regex("note: -n 90 runs as 80: a multiple of l_block 40\n"
                            "note: a single cold run \\(this process's first product\\); "
                            "fine clock: [0-9.e+-]+ ms, [0-9.]+ GFLOPS\n"
                            "note: [^\n]*1 ms tick[^\n]*\n"
                            "check: passed \\(largest relative difference "
                            "[0-9.e+-]+\\)\n")))
        << run.err;
}

TEST(CliProgram, ExitStatuses) {
    // Every refusal of the command line takes this one way: nothing runs.
    const CliRun bad = RunCli("--threads 200");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "vorp-cli: --threads: expected a whole number from 1 to 128, got '200'\n"
              "Try 'vorp-cli --help'.\n");

    // Three matrices of order 46288 take 51 GB: on a machine of 1 GiB (a
    // hand-made /proc tree) the guard refuses them before anything is
    // computed, whatever memory this machine has.
    const std::string root = TempPath("small_machine");
    ASSERT_EQ(std::system(("mkdir -p " + root + "/proc/self").c_str()), 0);
    std::ofstream(root + "/proc/meminfo") << "MemTotal: 2097152 kB\nMemAvailable: 1048576 kB\n";
    std::ofstream(root + "/proc/self/status") << "VmSize:\t   20480 kB\nThreads:\t1\n";
    const CliRun too_big = RunCli("-n 46340 --check", "VORP_SYSTEM_ROOT=" + root);
    EXPECT_EQ(too_big.status, 1);
    EXPECT_EQ(too_big.out, "");
    EXPECT_TRUE(Contains(too_big.err, "notice: Alloc Error\n")) << too_big.err;
    EXPECT_EQ(RunCli("-n 64", "VORP_SYSTEM_ROOT=" + root).status, 0);
    std::system(("rm -rf " + root).c_str());
#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer cannot start under an address-space limit
    const CliRun capped = RunCli("-n 46340 --check", "ulimit -v 4000000;");
    EXPECT_EQ(capped.status, 1);
    EXPECT_TRUE(Contains(capped.err, "notice: Alloc Error\n")) << capped.err;
#endif

    // A method that gives up computes nothing: status 1, no figure.
    const CliRun gave_up = RunCli("--method hp --parallel-kind tbb -n 64");
    EXPECT_EQ(gave_up.status, 1);
    EXPECT_TRUE(Contains(gave_up.err, "notice: TBB does not support\n")) << gave_up.err;

    const CliRun help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: vorp-cli", 0), 0u) << help.out;
    EXPECT_EQ(RunCli("--version").out, "vorp-cli 1.0.0\n");
}

TEST(CliProgram, AllMethodsRepeatedAsJson) {
    const CliRun run =
        RunCli("--all --repeat 2 --min-time 0 --format json -n 64 --l-block 32 --check");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // not a terminal: no progress; the context is in the document
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["context"]["repeat"], 2);
    EXPECT_EQ(doc["interrupted"], false);
    const json& results = doc["results"];
    ASSERT_EQ(results.size(), 5u);
    for (std::size_t m = 0; m < 5; ++m) {
        const json& r = results[m];
        SCOPED_TRACE(r.dump());
        EXPECT_EQ(r["method"], kMethodNames[m]);
        EXPECT_EQ(r["method_index"], m);
        EXPECT_EQ(r["n"], 64);
        EXPECT_EQ(r["seconds"].size(), 2u);  // --min-time 0: exactly the repeats
        EXPECT_EQ(r["tick_seconds"].size(), 2u);
        EXPECT_EQ(r["runs_per_sample"].size(), 2u);
        EXPECT_EQ(r["completed"], 2);
        EXPECT_EQ(r["failed"], 0);
        EXPECT_EQ(r["product"], true);
        EXPECT_EQ(r["check"], "passed");
        EXPECT_TRUE(r["max_rel_diff"].is_number());
        EXPECT_TRUE(r["problems"].empty());
        EXPECT_LE(r["best_seconds"].get<double>(), r["median_seconds"].get<double>());
        EXPECT_GE(r["best_gflops"].get<double>(), r["median_gflops"].get<double>());
    }
    EXPECT_FALSE(results[4]["isa"].is_null());
    EXPECT_TRUE(results[0]["isa"].is_null());
}

TEST(CliProgram, SweepAsCsvShowsTheNormalisedSizes) {
    const CliRun run = RunCli(
        "--method hp --sizes 40:130:30 --l-block 32 --threads-list 1,2 --min-time 0 --format csv");
    EXPECT_EQ(run.status, 0) << run.err;
    // Standard output is a file here, not a terminal: the context heads it.
    EXPECT_EQ(run.out.rfind("# cpu: ", 0), 0u) << run.out;
    EXPECT_FALSE(Contains(run.err, "cpu: "));
    EXPECT_TRUE(Contains(run.err, "note: -n 40 runs as 32: a multiple of l_block 32\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "note: -n 130 runs as 128: a multiple of l_block 32\n"));
    const CsvRows rows = ParseCsv(WithoutContext(run.out));
    ASSERT_EQ(rows.size(), 9u) << run.out;
    EXPECT_EQ(rows[0][0], "method");
    for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size());
    // 40, 70, 100, 130 lose their remainder modulo 32.
    EXPECT_EQ(Column(rows, "n"),
              (std::vector<std::string>{"32", "32", "64", "64", "96", "96", "128", "128"}));
    EXPECT_EQ(Column(rows, "threads"),
              (std::vector<std::string>{"1", "2", "1", "2", "1", "2", "1", "2"}));
    EXPECT_EQ(Column(rows, "method")[7], "hp");
}

TEST(CliProgram, TextOutputToAFileWithSummary) {
    const std::string path = TempPath("summary.txt");
    const CliRun run = RunCli("--repeat 3 --warmup 1 -n 48 --check --verbose --output " + path);
    const std::string text = ReadWholeFile(path);
    std::remove(path.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(text.rfind("# cpu: ", 0), 0u) << text;  // the context heads the file
    EXPECT_TRUE(Contains(text,
                         "\n== point 1 of 1: classic, n 48, l_block 48, threads 1, warm-up 1\n"
                         "Matrices are prepared\n"))
        << text;
    EXPECT_TRUE(Matches(
        text,
        "\n== point 1 of 1: classic, n 48, l_block 48, threads 1, sample 3( \\([0-9]+ runs\\))?\n"))
        << text;
    EXPECT_TRUE(Contains(
        text,
        "\nSummary: per point, samples with a figure; seconds per product on the fine clock\n"));
    EXPECT_TRUE(Matches(
        text, "\n +1 +classic +48 +48 +1 +3 +[0-9.e+-]+ +[0-9.]+ +[0-9.]+ +[0-9.]+ +passed"))
        << text;
    EXPECT_TRUE(
        Matches(text, "All [0-9]+ runs computed their product without notice or check failure.\n"));
    EXPECT_TRUE(Contains(run.err, "note: --l-block 176 runs as 48: lowered to n 48\n")) << run.err;
}

// HP answers TBB with a failure notice and computes nothing; block-cache and
// vector-pack answer with a notice and compute all the same; classic and
// block-pack-2x2 ignore the selector.
TEST(CliProgram, RunsWithoutProductHaveNoFigureAndAreNamed) {
    const CliRun text = RunCli("--all -n 128 --l-block 64 --parallel-kind tbb --min-time 0");
    EXPECT_EQ(text.status, 1);
    const std::size_t summary = text.out.find("Summary:");
    ASSERT_NE(summary, std::string::npos) << text.out;
    const std::string tail = text.out.substr(summary);
    EXPECT_TRUE(Matches(tail, "\n +2 +hp +128 +64 +1 +0 +- +- +- +- +- +none\n")) << tail;
    EXPECT_TRUE(
        Matches(tail, "\n +3 +block-cache +128 +64 +1 +1 +[0-9.e+-]+ +- +[0-9.]+ +[0-9.]+ "))
        << tail;
    const std::string problems =
        tail.substr(tail.find("Runs without a figure, with a notice or a check failure:\n"));
    EXPECT_TRUE(Matches(problems,
                        "\n  run [0-9]+ \\(row 2: hp, n 128, l_block 64, threads 1\\): "
                        "notice \"TBB does not support\"; no product\n"))
        << problems;
    EXPECT_TRUE(Matches(problems,
                        "\\(row 3: block-cache, n 128, l_block 64, threads 1\\): "
                        "notice \"TBB does not support\"\n"));
    EXPECT_TRUE(Matches(problems, "\\(row 5: vector-pack, "));
    EXPECT_FALSE(Contains(problems, "(row 1:"));
    EXPECT_FALSE(Contains(problems, "(row 4:"));

    // CSV and JSON keep the data clean and name the runs on standard error.
    const CliRun csv = RunCli("--method hp --parallel-kind tbb -n 64 --repeat 2 --format csv");
    EXPECT_EQ(csv.status, 1);
    EXPECT_TRUE(Contains(
        csv.err,
        "(row 1: hp, n 64, l_block 64, threads 1): notice \"TBB does not support\"; no product"))
        << csv.err;
    const CsvRows rows = ParseCsv(WithoutContext(csv.out));
    ASSERT_EQ(rows.size(), 2u) << csv.out;
    EXPECT_EQ(Column(rows, "completed")[0], "0");
    EXPECT_EQ(Column(rows, "failed")[0], "2");
    for (const char* column :
         {"best_seconds", "median_seconds", "best_gflops", "median_gflops", "cv"}) {
        EXPECT_EQ(Column(rows, column)[0], "") << column;
    }
    // Runs with the same problem one after another are told once (the
    // plan's warm-up apart from the counted runs).
    EXPECT_EQ(Column(rows, "problems")[0],
              "run 1: notice \"TBB does not support\"; no product; "
              "runs 2-3 (2): notice \"TBB does not support\"; no product");
    EXPECT_EQ(Column(rows, "warmup")[0], "1");
}

// Each system BLAS that loads adds its row, at the thread count asked, with
// the product the check accepts; one that does not load is refused.
TEST(CliProgram, ReferenceRowOrRefusal) {
    struct Library {
        const char* option;
        ReferenceLibrary library;
        const char* method;
        const char* kernel;
        const char* file;
        const char* threads;
    };
    // BLIS on one thread: with a team of its threads alive at the exit,
    // LeakSanitizer (the asan preset) fails to stop them and ends the run.
    for (const Library& reference : {Library{"--reference", ReferenceLibrary::OpenBlas, "openblas",
                                             "OpenBLAS dgemm", "libopenblas.so.0", "2"},
                                     Library{"--reference=blis", ReferenceLibrary::Blis, "blis",
                                             "BLIS dgemm (", "libblis.so.4", "1"}}) {
        SCOPED_TRACE(reference.option);
        const CliRun run = RunCli(std::string(reference.option) + " -n 64 --threads " +
                                  reference.threads + " --check --min-time 0 --format csv");
        if (!ReferenceDgemmAvailable(reference.library)) {
            EXPECT_EQ(run.status, 2);
            EXPECT_TRUE(Contains(run.err, std::string("--reference: the system BLAS (") +
                                              reference.file + ") could not be loaded"))
                << run.err;
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        const CsvRows rows = ParseCsv(WithoutContext(run.out));
        ASSERT_EQ(rows.size(), 3u) << run.out;
        EXPECT_EQ(Column(rows, "method"), (std::vector<std::string>{"classic", reference.method}));
        EXPECT_EQ(Column(rows, "method_index")[1], "");
        EXPECT_EQ(Column(rows, "threads")[1], reference.threads);
        EXPECT_EQ(Column(rows, "check"), (std::vector<std::string>{"passed", "passed"}));
        EXPECT_EQ(Column(rows, "kernel")[1].rfind(reference.kernel, 0), 0u)
            << Column(rows, "kernel")[1];
    }
}

TEST(CliProgram, PlotScriptDrawsASweep) {
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) {
        GTEST_SKIP()
            << "gnuplot is not installed (Debian package gnuplot-nox); the plot is not tested";
    }
    const std::string csv = TempPath("sweep.csv"), png = TempPath("sweep.png");
    const CliRun sweep =
        RunCli("--all --sizes 100:300:100 --l-block 100 --min-time 0 --format csv --output " + csv);
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const std::string command =
        std::string(VORP_PLOT_SCRIPT) + " " + csv + " " + png + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string image = ReadWholeFile(png);
    EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
    EXPECT_GT(image.size(), 1000u);
    std::remove(csv.c_str());
    std::remove(png.c_str());
}

// A plan warms each point once before it counts, the reference row as the
// methods; only --warmup 0 counts a process's first call. Per-sample report
// lines wait for --verbose.
TEST(CliFigures, PlansCountWarmRunsOnly) {
    const std::string reference = ReferenceDgemmAvailable() ? " --reference" : "";
    const CliRun warm =
        RunCli("--method 0 -n 64 --repeat 2 --min-time 0 --format json" + reference);
    ASSERT_EQ(warm.status, 0) << warm.err;
    const json doc = json::parse(warm.out);
    EXPECT_EQ(doc["context"]["warmup"], 1);
    for (const json& result : doc["results"]) EXPECT_EQ(result["warmup"], 1) << result["method"];
    EXPECT_EQ(doc["results"].size(), reference.empty() ? 1u : 2u);

    const CliRun cold = RunCli("--method 0 -n 64 --repeat 2 --warmup 0 --min-time 0 --format json");
    EXPECT_EQ(json::parse(cold.out)["results"][0]["warmup"], 0);

    const CliRun quiet = RunCli("--method 0 -n 32 --repeat 2 --min-time 0");
    EXPECT_FALSE(Contains(quiet.out, "Matrices are prepared")) << quiet.out;
    EXPECT_FALSE(Contains(quiet.out, "== point")) << quiet.out;
    EXPECT_TRUE(Contains(quiet.out, "Summary: ")) << quiet.out;
}

// With OPENBLAS_CORETYPE set, the reference says the kernel was forced and
// names OpenBLAS's own choice, asked of a process without it;
// --reference=openblas-own runs that choice and says what it left out.
TEST(CliFigures, AForcedReferenceKernelIsNamed) {
    if (!ReferenceDgemmAvailable()) GTEST_SKIP() << "no libopenblas.so.0";
    const std::string env = "env -u OPENBLAS_L2_SIZE OPENBLAS_CORETYPE=Haswell";
    const CliRun forced = RunCli("--method 0 -n 64 --reference --min-time 0", env);
    ASSERT_EQ(forced.status, 0) << forced.err;
    const std::string note =
        "note: OPENBLAS_CORETYPE=Haswell forces OpenBLAS's kernel: the reference runs "
        "OpenBLAS dgemm (Haswell); on its own OpenBLAS would pick ";
    EXPECT_TRUE(Contains(forced.err, note)) << forced.err;
    EXPECT_FALSE(Contains(forced.err, "(could not be told)")) << forced.err;
    EXPECT_TRUE(Contains(forced.out, "Reference: OPENBLAS_CORETYPE=Haswell forces")) << forced.out;

    const CliRun own = RunCli("--method 0 -n 64 --reference=openblas-own --min-time 0", env);
    ASSERT_EQ(own.status, 0) << own.err;
    EXPECT_TRUE(Contains(own.err,
                         "note: the reference runs OpenBLAS's own kernel choice (OpenBLAS dgemm ("))
        << own.err;
    EXPECT_TRUE(
        Contains(own.err, "OPENBLAS_CORETYPE=Haswell from the environment was not applied to it"));

    const CliRun plain = RunCli("--method 0 -n 64 --reference --min-time 0",
                                "env -u OPENBLAS_L2_SIZE -u OPENBLAS_CORETYPE");
    EXPECT_FALSE(Contains(plain.err, "forces OpenBLAS's kernel")) << plain.err;
}

// Results written to a file leave the summary on the terminal; Markdown is
// the summary as a table.
TEST(CliFigures, ASummaryAtTheTerminalAndAFileFromOneRun) {
    const std::string path = TempPath("terminal.json");
    // script(1) gives the program a terminal for its standard output.
    const std::string seen = TempPath("terminal.txt");
    const std::string command = "script -qec '" + std::string(VORP_CLI_PATH) +
                                " -n 32 --repeat 2 --min-time 0 --format json --output " + path +
                                "' /dev/null >" + seen + " 2>&1 </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string terminal = ReadWholeFile(seen);
    std::remove(seen.c_str());
    EXPECT_TRUE(Contains(terminal, "Summary: per point")) << terminal;
    EXPECT_EQ(json::parse(ReadWholeFile(path))["results"].size(), 1u);
    std::remove(path.c_str());
    const CliRun piped = RunCli("-n 32 --repeat 2 --min-time 0 --format json --output " + path);
    EXPECT_EQ(piped.out, "");  // not a terminal: nothing beside the file
    std::remove(path.c_str());

    const CliRun markdown = RunCli("-n 32 --method 3,4 --repeat 2 --min-time 0 --format markdown");
    ASSERT_EQ(markdown.status, 0) << markdown.err;
    EXPECT_EQ(markdown.out.rfind("| # | method | n | l_block | threads | samples |", 0), 0u)
        << markdown.out;
    EXPECT_TRUE(Contains(markdown.out, "\n| 1 | block-pack-2x2 | 32 | 32 | 1 |")) << markdown.out;
    EXPECT_TRUE(Contains(markdown.out, "\n| 2 | vector-pack | 32 | 32 | 1 |")) << markdown.out;
}

// --limits alone measures the limits only; with a plan each point gets its
// share of its peak, and the limits travel in the context.
TEST(CliLimits, AloneOrBeforeAPlan) {
    const CliRun alone = RunCli("--limits --format json");
    ASSERT_EQ(alone.status, 0) << alone.err;
    const json doc = json::parse(alone.out);
    EXPECT_TRUE(doc["results"].empty());
    const json& measurements = doc["context"]["limits"]["measurements"];
    ASSERT_FALSE(measurements.empty());
    bool sse2 = false, triad = false;
    for (const json& m : measurements) {
        sse2 = sse2 || (m["name"] == "128-bit mul+add peak" && m["threads"] == 1);
        triad = triad || m["name"] == "triad bandwidth";
        EXPECT_FALSE(m["samples"].empty()) << m["label"];
    }
    EXPECT_TRUE(sse2);
    EXPECT_TRUE(triad);

    const CliRun plan = RunCli("--method 0,3 -n 64 --limits --min-time 0 --format csv");
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_TRUE(Contains(plan.out, "\n# limit: 128-bit mul+add peak, 1 thread: ")) << plan.out;
    const CsvRows rows = ParseCsv(WithoutContext(plan.out));
    ASSERT_EQ(rows.size(), 3u);
    const std::string clone =
        SupportedIsaLevel() >= kIsaAvxFma3 ? "256" : "128";  // the loops' clone that runs
    for (const std::string& peak : Column(rows, "peak"))
        EXPECT_EQ(peak, clone + "-bit mul+add peak, 1 thread");
    for (const std::string& share : Column(rows, "peak_share")) EXPECT_GT(std::stod(share), 0);
}
