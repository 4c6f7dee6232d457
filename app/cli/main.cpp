// vorp-cli: the command-line front end of the benchmark run.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "benchmark_run.h"
#include "cli_options.h"
#include "notice.h"
#include "processor_info.h"

namespace {
class StdoutSink : public ReportSink {
public:
    void AppendLine(const std::string& line) override {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
};

int g_notices_shown = 0;

// Notices go to standard error; at a terminal they wait for Enter.
void InstallTerminalNotices() {
    SetNoticeHandler([](const std::string& text) {
        ++g_notices_shown;
        std::fprintf(stderr, "notice: %s\n", text.c_str());
        if (isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "(press Enter to continue)");
            std::string ignored;
            std::getline(std::cin, ignored);
        }
    });
}
}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const CliParseResult parsed = ParseCommandLine(args, SupportedIsaLevel());
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vorp-cli: %s\nTry 'vorp-cli --help'.\n", parsed.error.c_str());
        return 2;
    }
    const CliOptions& options = parsed.options;
    if (options.show_help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    if (options.show_version) {
        std::printf("vorp-cli %s\n", VORP_VERSION);
        return 0;
    }
    SetIsaLevelCap(options.isa_cap);
    InstallTerminalNotices();

    RunParameters params = options.params;
    StdoutSink sink;
    const RunResult result = RunBenchmark(params, sink);
    return result.outcome == RunOutcome::Completed && g_notices_shown == 0 ? 0 : 1;
}
