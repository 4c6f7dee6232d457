// The vorp-cli binary end to end: the output file replaced only by work that
// gives a figure, targets that are not plain writable files, standard output
// as "-", a stop by signal, --isa, the JSON
// document read back and --compare on documents of the program itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli_options.h"
#include "result_format.h"
#include "support/cli_process.h"

namespace {
using nlohmann::json;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A file that already holds results, removed with its temporary siblings at
// the end of the test.
struct ExistingFile {
    explicit ExistingFile(const std::string& name, const std::string& text = "earlier results\n1,2,3\n")
        : path(TempPath(name)), content(text) {
        WriteFile(path, content);
    }
    ~ExistingFile() {
        std::remove(path.c_str());
        for (const std::string& partial : PartialFiles(path)) std::remove(partial.c_str());
    }
    std::string path, content;
};

// The lines of a CSV text that are not "#" context lines.
std::vector<std::string> DataLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (line.rfind("#", 0) != 0) lines.push_back(line);
    }
    return lines;
}

// A fresh directory for files of one test, removed with them at its end.
struct ScratchDir {
    explicit ScratchDir(const std::string& name) : path(TempPath(name)) {
        std::system(("rm -rf " + path + " && mkdir -p " + path).c_str());
    }
    ~ScratchDir() { std::system(("rm -rf " + path).c_str()); }
    std::string path;
};

mode_t ModeOf(const std::string& path, bool follow_links = true) {
    struct stat info {};
    (follow_links ? stat : lstat)(path.c_str(), &info);
    return info.st_mode;
}

// Waits until `ready` holds, polling every 20 ms; false after `limit`.
template <typename Condition>
bool WaitFor(Condition ready, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
}  // namespace

TEST(CliOutputFile, RefusedOrFailedWorkLeavesTheFileAsItWas) {
    for (const char* format : {"text", "csv", "json"}) {
        SCOPED_TRACE(format);
        const ExistingFile file(std::string("kept.") + format);
        const std::string output = std::string(" --format ") + format + " --output " + file.path;

        const CliRun refused = RunCli("--threads 200" + output);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(ReadWholeFile(file.path), file.content);

        // HP under TBB gives up: no run gives a figure.
        const CliRun failed = RunCli("--method 1 --parallel-kind tbb -n 64" + output);
        EXPECT_EQ(failed.status, 1);
        EXPECT_TRUE(Contains(failed.err, "no run gave a figure; " + file.path + " is left as it was"))
            << failed.err;
        EXPECT_EQ(ReadWholeFile(file.path), file.content);
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});

        // Work with a figure replaces it whole.
        const CliRun replaced = RunCli("--method 0 -n 32" + output);
        EXPECT_EQ(replaced.status, 0) << replaced.err;
        const std::string text = ReadWholeFile(file.path);
        EXPECT_FALSE(Contains(text, "earlier results"));
        EXPECT_EQ(text.rfind(std::string(format) == "json" ? "{" : "# cpu: ", 0), 0u) << text;
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
    }
}

// Started with standard input, output or error closed, vorp-cli keeps them
// on /dev/null, so its results file never takes their place: the notes
// (-n 1000 runs as 880) and the context stay out of the document.
TEST(CliOutputFile, ClosedStandardDescriptorsNeverReceiveTheResults) {
    for (const char* closed : {"2>&-", "1>&- 2>&-", "0<&- 1>&- 2>&-"}) {
        SCOPED_TRACE(closed);
        const std::string path = TempPath("closed.json");
        const std::string wrapper = std::string("sh -c 'exec \"$0\" \"$@\" ") + closed + "'";
        const CliRun run = RunCli("-n 1000 --format json --output " + path, wrapper);
        EXPECT_EQ(run.status, 0);
        const std::string text = ReadWholeFile(path);
        ASSERT_EQ(text.rfind("{", 0), 0u) << text.substr(0, 80);
        EXPECT_TRUE(nlohmann::json::accept(text));
        std::remove(path.c_str());
    }
}

// A FIFO is written into, not replaced, and its reader gets the document.
TEST(CliOutputFile, FifoReceivesTheResultsAndStaysAFifo) {
    const ScratchDir dir("fifo");
    const std::string fifo = dir.path + "/results";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::string received;
    std::thread reader([&] { received = ReadWholeFile(fifo); });
    const CliRun run = RunCli("-n 32 --repeat 2 --format csv --output " + fifo);
    // Lets the reader see an end even if vorp-cli never opened the FIFO.
    const int opened = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (opened >= 0) close(opened);
    reader.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
    EXPECT_EQ(received.rfind("# cpu: ", 0), 0u) << received;
    const CsvRows rows = ParseCsv(WithoutContext(received));
    ASSERT_EQ(rows.size(), 2u) << received;
    EXPECT_EQ(rows[0], kCsvColumns);
    EXPECT_EQ(PartialFiles(fifo), std::vector<std::string>{});
}

// A link keeps leading to its file, which is replaced with its mode kept.
TEST(CliOutputFile, SymlinkTargetIsReplacedWithItsMode) {
    const ScratchDir dir("link");
    const std::string target = dir.path + "/results.csv", link = dir.path + "/latest.csv";
    WriteFile(target, "earlier results\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("results.csv", link.c_str()), 0);
    const CliRun run = RunCli("-n 32 --format csv --output " + link);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(S_ISLNK(ModeOf(link, false)));
    EXPECT_EQ(ModeOf(target) & 07777, 0640u);
    const std::string text = ReadWholeFile(target);
    EXPECT_EQ(text.rfind("# cpu: ", 0), 0u) << text;
    EXPECT_EQ(PartialFiles(target), std::vector<std::string>{});
    EXPECT_EQ(PartialFiles(link), std::vector<std::string>{});
}

// Refused before any run: no note of the plan shows, nothing is created.
TEST(CliOutputFile, DirectoryTargetIsRefusedUpFront) {
    const ScratchDir dir("directory");
    const CliRun run = RunCli("-n 16 --output " + dir.path);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "--output " + dir.path + ": Is a directory")) << run.err;
    EXPECT_FALSE(Contains(run.err, "note:")) << run.err;
    EXPECT_TRUE(S_ISDIR(ModeOf(dir.path)));
    EXPECT_EQ(PartialFiles(dir.path), std::vector<std::string>{});
}

TEST(CliOutputFile, ReadOnlyFileIsRefusedUpFront) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    const ExistingFile file("read-only.txt");
    ASSERT_EQ(chmod(file.path.c_str(), 0444), 0);
    const CliRun run = RunCli("-n 16 --output " + file.path);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "--output " + file.path + ": Permission denied")) << run.err;
    EXPECT_FALSE(Contains(run.err, "note:")) << run.err;
    EXPECT_EQ(ReadWholeFile(file.path), file.content);
    EXPECT_EQ(ModeOf(file.path) & 07777, 0444u);
}

TEST(CliOutputFile, DashIsStandardOutput) {
    const std::string dir = TempPath("dash");
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    const CliRun run = RunCli("-n 32 --repeat 2 --format csv --output -", "cd " + dir + " &&");
    EXPECT_EQ(run.status, 0) << run.err;
    const CsvRows rows = ParseCsv(run.out);  // the data alone: no context lines
    ASSERT_EQ(rows.size(), 2u) << run.out;
    EXPECT_EQ(rows[0], kCsvColumns);
    EXPECT_TRUE(Contains(run.err, "cpu: "));  // the context goes to standard error
    EXPECT_FALSE(FileExists(dir + "/-"));
    EXPECT_EQ(PartialFiles(dir + "/-"), std::vector<std::string>{});
    std::system(("rm -rf " + dir).c_str());
}

// A sweep whose larger sizes take seconds, stopped by SIGINT once its first
// row is in the temporary file: the file then holds the context, the header
// and the rows completed.
TEST(CliInterrupt, CsvSweepKeepsItsCompletedRows) {
    const ExistingFile file("stopped.csv", "");
    CliChild child({"--sizes", "200:2000:200", "--method", "0", "--format", "csv", "--output", file.path});
    const bool first_row = WaitFor([&] {
        for (const std::string& partial : PartialFiles(file.path)) {
            if (DataLines(ReadWholeFile(partial)).size() >= 2) return true;
        }
        return false;
    });
    ASSERT_TRUE(first_row) << child.Err();
    EXPECT_EQ(ReadWholeFile(file.path), "");  // replaced only at the end
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 130) << child.Err();
    EXPECT_TRUE(Contains(child.Err(), "stopped")) << child.Err();

    const std::string text = ReadWholeFile(file.path);
    EXPECT_EQ(text.rfind("# cpu: ", 0), 0u) << text;
    const CsvRows rows = ParseCsv(WithoutContext(text));
    ASSERT_GE(rows.size(), 2u) << text;
    ASSERT_LT(rows.size(), 11u) << text;
    EXPECT_EQ(rows[0], kCsvColumns);
    for (std::size_t r = 1; r < rows.size(); ++r) EXPECT_EQ(rows[r].size(), kCsvColumns.size()) << r;
    EXPECT_EQ(Column(rows, "n")[0], "176");  // 200 normalised with l_block 176
    EXPECT_NE(Column(rows, "median_gflops")[0], "");
    EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
}

TEST(CliInterrupt, JsonSweepIsMarkedInterrupted) {
    const ExistingFile file("stopped.json", "");
    CliChild child({"--sizes", "200:2000:200", "--method", "0", "--format", "json", "--output", file.path});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 130) << child.Err();

    const json doc = json::parse(ReadWholeFile(file.path));
    EXPECT_EQ(doc["interrupted"], true);
    const json& results = doc["results"];
    ASSERT_GE(results.size(), 1u);
    ASSERT_LT(results.size(), 10u);
    for (std::size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i]["interrupted"], false) << i;
    EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
}

// A second signal ends the process at once: the run at hand (seconds long) is
// not waited for, so no result is written and the file is left as it was.
TEST(CliInterrupt, SecondSignalExitsAtOnce) {
    const ExistingFile file("twice.csv");
    CliChild child({"--method", "0", "-n", "1600", "--format", "csv", "--output", file.path});
    ASSERT_TRUE(WaitFor([&] { return !PartialFiles(file.path).empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the product
    // The first stops the product within milliseconds and would write what
    // completed; the second, right behind it, ends the process before that
    // (SIGTERM, since a second SIGINT still pending would merge with the first).
    child.Signal(SIGINT);
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(), 130);
    EXPECT_EQ(ReadWholeFile(file.path), file.content);
    EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
}

// A hang-up stops the run like SIGTERM: FILE ends complete (the context,
// the header and the stopped point) and no temporary file is left.
TEST(CliInterrupt, HangUpStopsTheRun) {
    const ExistingFile file("hangup.csv");
    CliChild child({"--method", "0", "-n", "2400", "--format", "csv", "--output", file.path});
    ASSERT_TRUE(WaitFor([&] { return !PartialFiles(file.path).empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    child.Signal(SIGHUP);
    EXPECT_EQ(child.Wait(), 130) << child.Err();
    const std::string text = ReadWholeFile(file.path);
    if (text != file.content) {
        const CsvRows rows = ParseCsv(WithoutContext(text));
        ASSERT_EQ(rows.size(), 2u) << text;
        EXPECT_EQ(Column(rows, "interrupted")[0], "true");
    }
    EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
}

TEST(CliIsa, CapsNameTheKernelFormThatRan) {
    if (SupportedIsaCap() < VectorIsaCap::Avx2) GTEST_SKIP() << "no AVX2 here";
    const auto kernel_of = [](const std::string& isa) {
        const CliRun run = RunCli("--isa " + isa + " --method 4 -n 200 --format json");
        EXPECT_EQ(run.status, 0) << run.err;
        const json doc = json::parse(run.out);
        EXPECT_EQ(doc["context"]["vector_kernel"], doc["results"][0]["kernel"]);
        return doc["results"][0]["kernel"].get<std::string>();
    };
    EXPECT_EQ(kernel_of("avx2"), "AVX 8x4 (Tavrel_8x4)");
    EXPECT_EQ(kernel_of("sse2"), "SSE2 4x4 (Tavrel)");
    if (std::getenv("TAVREL_8X4_FORM")) return;  // the library's own switch decides the form
    if (SupportedIsaCap() == VectorIsaCap::Avx512) {
        EXPECT_EQ(kernel_of("avx512"), "AVX-512 24x8 (Tavrel_8x4)");
        EXPECT_EQ(kernel_of("auto"), "AVX-512 24x8 (Tavrel_8x4)");
    } else {
        const CliRun refused = RunCli("--isa avx512 --method 4 -n 200");
        EXPECT_EQ(refused.status, 2);
        EXPECT_TRUE(Contains(refused.err, "offers at most avx2")) << refused.err;
    }
}

TEST(CliJson, DocumentReadsBackWithContextAndResults) {
    const std::string path = TempPath("doc.json");
    const CliRun run = RunCli("--method 4 -n 64 --l-block 32 --repeat 3 --check --format json --output " + path);
    const std::string text = ReadWholeFile(path);
    std::remove(path.c_str());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const json doc = json::parse(text);
    EXPECT_EQ(doc["schema_version"], 2);
    EXPECT_EQ(doc["interrupted"], false);

    const json& context = doc["context"];
    EXPECT_TRUE(context["cpu_model"].is_string());
    EXPECT_GE(context["cores"].get<int>(), 1);
    EXPECT_TRUE(context["commit"].is_string());
    EXPECT_TRUE(context["environment"].is_object());
    const std::string command = context["command"];
    EXPECT_TRUE(Contains(command, "vorp-cli --method 4 -n 64 --l-block 32 --repeat 3 --check --format json --output "))
        << command;
    EXPECT_EQ(context["repeat"], 3);
    EXPECT_EQ(context["min_time_seconds"], 0);

    ASSERT_EQ(doc["results"].size(), 1u);
    const json& result = doc["results"][0];
    std::set<std::string> keys;
    for (const auto& item : result.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{
                        "method", "method_index", "n", "l_block", "threads", "chunk", "asked",
                        "isa_level", "isa", "kernel", "warmup", "repeat", "completed", "failed",
                        "product", "operations", "seconds", "tick_seconds", "runs_per_sample",
                        "best_seconds", "median_seconds", "mean_seconds", "stddev_seconds", "cv",
                        "best_gflops", "median_gflops", "noisy", "short", "interrupted", "check",
                        "max_rel_diff", "problems"}));
    EXPECT_EQ(result["method"], "vector-pack");
    EXPECT_EQ(result["isa_level"], context["isa_level"]);
    EXPECT_EQ(result["isa"], context["isa"]);
    EXPECT_EQ(result["completed"], 3);
    EXPECT_EQ(result["seconds"].size(), 3u);
    EXPECT_EQ(result["check"], "passed");
    EXPECT_LT(result["max_rel_diff"].get<double>(), 1e-10);
    EXPECT_EQ(result["operations"], 2 * 64 * 64 * 64);
    // The figures follow from the seconds per product.
    double best = result["seconds"][0];
    for (const json& s : result["seconds"]) best = std::min(best, s.get<double>());
    EXPECT_EQ(result["best_seconds"], best);
    EXPECT_NEAR(result["best_gflops"].get<double>(), 2 * 64 * 64 * 64 * 1e-9 / best,
                1e-5 * result["best_gflops"].get<double>());
}

TEST(CliCompare, TwoDocumentsOfTheProgram) {
    const std::string old_path = TempPath("old.json"), new_path = TempPath("new.json");
    for (const std::string& path : {old_path, new_path}) {
        const CliRun run = RunCli("--method 0 -n 64 --repeat 4 --format json --output " + path);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const CliRun compared = RunCli("--compare " + old_path + " " + new_path);
    EXPECT_EQ(compared.status, 0) << compared.err;
    EXPECT_TRUE(Contains(compared.out, "old: " + old_path)) << compared.out;
    EXPECT_TRUE(Contains(compared.out, "new: " + new_path));
    EXPECT_TRUE(std::regex_search(compared.out, std::regex("\nclassic +64 +64 +1 +[0-9.e-]+ +[0-9.e-]+ +[0-9.]+ "
                                                           "+[<0-9.]+ +(faster|slower|same)\n")))
        << compared.out;

    WriteFile(new_path, "method,n\nclassic,64\n");
    const CliRun refused = RunCli("--compare " + old_path + " " + new_path);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(Contains(refused.err, new_path)) << refused.err;
    EXPECT_EQ(refused.out, "");
    std::remove(old_path.c_str());
    std::remove(new_path.c_str());
}

// At a terminal a plan of many runs shows its notices without waiting for
// Enter: under a pseudo-terminal with no one typing, the sweep still ends.
TEST(CliNotices, APlanOfManyRunsNeverWaitsAtATerminal) {
    if (std::system("command -v script >/dev/null 2>&1 && command -v bash >/dev/null") != 0) {
        GTEST_SKIP() << "no script(1) or bash";
    }
    const std::string out = TempPath("pty.txt");
    // The terminal's input stays open and empty (a sleep that outlives the
    // run), as with a user who is not there.
    const std::string command = "bash -c \"timeout 60 script -qec '" + std::string(VORP_CLI_PATH) +
                                " --method hp --parallel-kind tbb -n 32 --repeat 3 --min-time 0'"
                                " /dev/null < <(sleep 70 2>/dev/null) >" + out + " 2>&1\"";
    const int raw = std::system(command.c_str());
    const std::string text = ReadWholeFile(out);
    std::remove(out.c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << text;
    EXPECT_NE(WEXITSTATUS(raw), 124) << "vorp-cli waited for Enter:\n" << text;
    EXPECT_NE(text.find("notice: TBB does not support"), std::string::npos) << text;
    EXPECT_EQ(text.find("press Enter"), std::string::npos) << text;
    EXPECT_NE(text.find("Runs without a figure"), std::string::npos) << text;
}
