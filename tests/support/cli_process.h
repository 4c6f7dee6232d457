// Runs the vorp-cli binary of this build (VORP_CLI_PATH) with standard input
// from /dev/null and returns its exit status and both output streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

struct CliRun {
    int status;
    std::string out, err;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A file name under the test's temporary directory, unique to this process.
inline std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "vorp_cli_" + std::to_string(getpid()) + "_" + name;
}

inline CliRun RunCli(const std::string& args) {
    static int calls = 0;
    const std::string stem = TempPath(std::to_string(++calls));
    const std::string out = stem + ".out", err = stem + ".err";
    const std::string command =
        std::string(VORP_CLI_PATH) + " " + args + " </dev/null >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWholeFile(out), ReadWholeFile(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}
