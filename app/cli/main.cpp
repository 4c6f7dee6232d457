// vorp-cli: the command-line front end of the benchmark run.
//
// One plain run prints its report lines on standard output, nothing else.
// Multi-run work (--all, --repeat, --warmup, sweeps, --reference) prints a
// header before each report and a summary table after them (text), or only a
// CSV or JSON document; the data goes to standard output or --output FILE,
// the context, notices and the progress line (at a terminal that does not
// show the text reports already) to standard error.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "benchmark_run.h"
#include "cli_options.h"
#include "notice.h"
#include "plan_runner.h"
#include "processor_info.h"
#include "result_format.h"
#include "run_context.h"
#include "run_plan.h"

namespace {
// Report lines of text output go to the data stream; CSV and JSON keep only
// the document there.
class DataSink : public ReportSink {
public:
    DataSink(std::FILE* out, bool keep) : out_(out), keep_(keep) {}
    void AppendLine(const std::string& line) override {
        if (!keep_) return;
        std::fputs(line.c_str(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }

private:
    std::FILE* out_;
    bool keep_;
};

// "run k of N ..." rewritten in place on standard error; only at a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    void Show(const RunProgress& progress) {
        if (!enabled_) return;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
        std::fprintf(stderr, "\r%s\033[K", FormatProgressLine(progress, elapsed.count()).c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

ProgressLine* g_progress = nullptr;

// Notices go to standard error; at a terminal they wait for Enter.
void InstallTerminalNotices() {
    SetNoticeHandler([](const std::string& text) {
        if (g_progress) g_progress->Clear();
        std::fprintf(stderr, "notice: %s\n", text.c_str());
        if (isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "(press Enter to continue)");
            std::string ignored;
            std::getline(std::cin, ignored);
        }
    });
}

int Refuse(const std::string& message) {
    std::fprintf(stderr, "vorp-cli: %s\nTry 'vorp-cli --help'.\n", message.c_str());
    return 2;
}

// Writes the document of CSV and JSON output, or the summary of multi-run text.
void WriteResults(std::FILE* out, const CliOptions& options, const RunContext& context,
                  const std::vector<PointResult>& results, bool multi_run) {
    std::string data;
    switch (options.format) {
        case OutputFormat::Text:
            if (multi_run) data = "\n" + FormatSummaryTable(results, options.warmup, options.repeat);
            break;
        case OutputFormat::Csv: data = FormatCsv(results, options.warmup, options.repeat); break;
        case OutputFormat::Json: data = FormatJson(context, results); break;
    }
    std::fputs(data.c_str(), out);
}
}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const CliParseResult parsed = ParseCommandLine(args, SupportedIsaLevel());
    if (!parsed.error.empty()) return Refuse(parsed.error);
    const CliOptions& options = parsed.options;
    if (options.show_help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    if (options.show_version) {
        std::printf("vorp-cli %s\n", VORP_VERSION);
        return 0;
    }
    std::FILE* out = stdout;
    if (!options.output_path.empty()) {
        out = std::fopen(options.output_path.c_str(), "w");
        if (!out) return Refuse("--output " + options.output_path + ": " + std::strerror(errno));
    }
    SetIsaLevelCap(options.isa_cap);
    InstallTerminalNotices();

    const std::vector<PlannedPoint> plan = ExpandPlan(options);
    const bool multi_run = TotalRuns(plan, options) > 1;
    const bool text = options.format == OutputFormat::Text;
    const RunContext context = CollectRunContext(options);
    if (options.format == OutputFormat::Csv || (text && multi_run)) {
        std::fputs(FormatContextText(context).c_str(), stderr);
    }

    // Text reports on the same terminal already say which run is going on.
    const bool reports_on_terminal = text && out == stdout && isatty(STDOUT_FILENO);
    ProgressLine progress(multi_run && isatty(STDERR_FILENO) && !reports_on_terminal);
    g_progress = &progress;
    DataSink sink(out, text);
    PlanHooks hooks;
    hooks.before_run = [&](const RunProgress& run) {
        if (text && multi_run) sink.AppendLine((run.sequence > 1 ? "\n" : "") + FormatRunHeader(run));
        progress.Show(run);
    };
    const std::vector<PointResult> results =
        RunPlan(plan, options.warmup, options.repeat, sink, hooks);
    progress.Clear();
    g_progress = nullptr;

    WriteResults(out, options, context, results, multi_run);
    const bool problems = AnyProblem(results);
    if (!text && problems) std::fputs(FormatProblems(results).c_str(), stderr);
    const bool written = std::fflush(out) == 0 && !std::ferror(out) && (out == stdout || std::fclose(out) == 0);
    if (!written) {
        std::fprintf(stderr, "vorp-cli: could not write the results: %s\n", std::strerror(errno));
        return 1;
    }
    return problems ? 1 : 0;
}
