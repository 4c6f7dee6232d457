#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <regex>

#include "cli_options.h"

namespace {
CliParseResult Parse(std::vector<std::string> args, std::int32_t supported_isa = 2) {
    return ParseCommandLine(args, supported_isa);
}

struct CliRun {
    int status;
    std::string out, err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs vorp-cli with standard input from /dev/null.
CliRun RunCli(const std::string& args) {
    static int calls = 0;
    const std::string stem =
        ::testing::TempDir() + "vorp_cli_" + std::to_string(getpid()) + "_" + std::to_string(++calls);
    const std::string out = stem + ".out", err = stem + ".err";
    const std::string command =
        std::string(VORP_CLI_PATH) + " " + args + " </dev/null >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
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
