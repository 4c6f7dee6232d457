// vorp-cli: the command-line front end of the benchmark run.
//
// One plain run prints its report lines on standard output and, after a
// check, its verdict on standard error. Multi-run work (--all, --repeat,
// --warmup, --min-time, sweeps, --reference) prints a header before each
// shown report and a summary table after them (text), or only a CSV or JSON
// document; the data goes to standard output or --output FILE (replaced only
// when the work ends), the context to the top of FILE as "#" lines (text and
// CSV) or to standard error, and notes, notices and the progress line (at a
// terminal that does not show the text reports already) to standard error.
// SIGINT, SIGTERM or SIGHUP stops the run at hand (it shows "Stopped" and
// counts nothing), writes what completed (exit 130; a FILE is left as it was
// when nothing completed); a second one ends the process at once. Any signal
// ignored from the start (nohup) stays ignored; one that ends the process
// waits for a results file that is being committed.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "benchmark_run.h"
#include "cli_options.h"
#include "compare.h"
#include "limits_report.h"
#include "load_check.h"
#include "notice.h"
#include "output_file.h"
#include "plan_runner.h"
#include "reference_dgemm.h"
#include "result_format.h"
#include "run_context.h"
#include "run_plan.h"
#include "stop.h"

namespace {
constexpr int kExitInterrupted = 130;
// The counted time per point of sweeps without --min-time: enough samples of
// at least 10 ms each for small sizes to mean something.
constexpr double kSweepMinTimeSeconds = 0.2;
// How long a plan looks at the machine's load before it starts: long enough
// for a few clock ticks of /proc/stat, short beside any plan.
constexpr double kLoadLookSeconds = 0.1;

std::atomic<bool> g_stop{false};

[[noreturn]] void EndAsStopped(int) { _exit(kExitInterrupted); }

// Lets `signal` take its default action (ending the process, with a core
// where that signal leaves one): at once outside a handler, on return from
// the handler inside one.
void EndBySignal(int signal) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal, &default_action, nullptr);
    raise(signal);
}

extern "C" void OnStopSignal(int signal) {
    const int saved_errno = errno;  // the interrupted code may be about to read it
    RequestStop();                  // the method at hand returns early
    if (g_stop.exchange(true) && !DeferredByCommit(EndAsStopped, signal)) _exit(kExitInterrupted);
    errno = saved_errno;
}

// Any other signal that ends the process does so as before, but never while
// the results file is half committed.
extern "C" void OnTerminatingSignal(int signal) {
    const int saved_errno = errno;
    if (!DeferredByCommit(EndBySignal, signal)) EndBySignal(signal);
    errno = saved_errno;
}

// Installs `action` for `signal`, unless it was ignored from the start
// (nohup, trap '' ...), which it stays.
void InstallUnlessIgnored(int signal, const struct sigaction& action) {
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
}

void InstallStopSignals() {
    // Without SA_RESTART: a stop signal ends a wait in open() or write(),
    // such as a FIFO's for a reader that never comes, with EINTR.
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    InstallUnlessIgnored(SIGHUP, stop);

    struct sigaction terminating {};
    terminating.sa_handler = OnTerminatingSignal;
    terminating.sa_flags = SA_RESTART;
    sigemptyset(&terminating.sa_mask);
    for (const int signal : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ, SIGXCPU,
                             SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT}) {
        InstallUnlessIgnored(signal, terminating);
    }
}

// Report lines of text output go to the data stream while `shown`; CSV and
// JSON keep only the document there.
class DataSink : public ReportSink {
public:
    DataSink(std::FILE* out, bool text) : out_(out), text_(text) {}
    void AppendLine(const std::string& line) override {
        if (!text_ || !shown) return;
        std::fputs(line.c_str(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    bool shown = true;

private:
    std::FILE* out_;
    bool text_;
};

// The point at hand rewritten in place on standard error; only at a terminal.
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

// Notices go to standard error. In a single run at a terminal they wait for
// Enter (the run clocks stand still meanwhile); a plan of many runs never
// waits, so an unattended sweep goes on and its summary names the notices.
void InstallTerminalNotices(bool wait) {
    SetNoticeHandler([wait](const std::string& text) {
        if (g_progress) g_progress->Clear();
        std::fprintf(stderr, "notice: %s\n", text.c_str());
        if (wait && isatty(STDIN_FILENO)) {
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

// The exit status is the comparison's own (compare.h): 0 none slower, 2 a
// file unusable, 3 some point slower, 4 no point paired.
int Compare(const CliOptions& options) {
    const CompareOutcome outcome = CompareResultFiles(
        options.compare_paths[0], options.compare_paths[1], options.compare_match);
    if (outcome.status == kCompareUnusable) {
        std::fprintf(stderr, "vorp-cli: %s\n", outcome.error.c_str());
        return outcome.status;
    }
    std::fputs(outcome.text.c_str(), stdout);
    if (outcome.status == kCompareNothingPaired) {
        std::fprintf(stderr, "vorp-cli: no point of %s pairs with one of %s\n",
                     options.compare_paths[0].c_str(), options.compare_paths[1].c_str());
    }
    return outcome.status;
}

bool IsSweep(const CliOptions& options, const Plan& plan) {
    return !options.sizes.empty() || !options.thread_counts.empty() ||
           ((options.all_methods || !options.methods.empty()) && plan.points.size() > 1);
}

PlanSettings SettingsFor(const CliOptions& options, const Plan& plan) {
    PlanSettings settings;
    settings.warmup = options.warmup;
    settings.repeat = options.repeat;
    settings.min_time_seconds = options.min_time_given   ? options.min_time_seconds
                                : IsSweep(options, plan) ? kSweepMinTimeSeconds
                                                         : 0;
    settings.batch_samples = IsMultiRun(options, plan) || settings.min_time_seconds > 0;
    // A plan warms each point once unless told otherwise: a process's first
    // call of a product pays for its first touches and thread starts, which
    // a peer library may pay elsewhere.
    if (!options.warmup_given && settings.batch_samples) settings.warmup = 1;
    return settings;
}

// Everything of one invocation that runs the plan.
class Session {
public:
    Session(const CliOptions& options, const std::vector<std::string>& command_line)
        : options_(options),
          plan_(ExpandPlan(options)),
          settings_(SettingsFor(options, plan_)),
          multi_run_(settings_.batch_samples),
          text_(options.format == OutputFormat::Text),
          output_(options.output_path),
          context_(CollectRunContext(options, command_line)) {
        context_.min_time_seconds = settings_.min_time_seconds;
        context_.warmup = settings_.warmup;
    }

    bool IsMultiRun() const { return multi_run_; }

    int Run() {
        std::string error;
        if (!output_.Open(error)) return Refuse(error);
        if (!options_.limits_only) {
            for (const std::string& note : plan_.notes)
                std::fprintf(stderr, "note: %s\n", note.c_str());
        }
        NoteTheReference();
        if (multi_run_ || options_.limits) {
            const std::string load = LookAtTheLoad(kLoadLookSeconds);
            if (!load.empty()) std::fprintf(stderr, "note: %s\n", load.c_str());
        }
        if (options_.limits) {
            LimitSettings settings;
            settings.thread_counts = LimitThreadCounts(options_, UsableCores());
            settings.min_cpu_share = kCpuShortShare;
            context_.limits = MeasureLimits(settings, kNoisyCv);
            if (options_.limits_only) return WriteLimitsOnly();
        }
        WriteContext();
        if (options_.format == OutputFormat::Text && context_.limits)
            Put(FormatLimitsTable(*context_.limits) + "\n");
        if (options_.format == OutputFormat::Csv) Put(FormatCsvHeader());

        const std::vector<PointResult> results = RunWithProgress();
        const bool interrupted = g_stop.load();
        WriteResults(results, interrupted);
        const bool problems = AnyProblem(results);
        if (!text_ && problems) std::fputs(FormatProblems(results).c_str(), stderr);
        if (!output_.ToStandardOutput() && !AnyFigure(results)) {
            output_.Discard();
            if (interrupted) {
                std::fprintf(
                    stderr,
                    "vorp-cli: stopped before any run gave a figure; %s is left as it was\n",
                    options_.output_path.c_str());
                return kExitInterrupted;
            }
            std::fprintf(stderr, "vorp-cli: no run gave a figure; %s is left as it was\n",
                         options_.output_path.c_str());
            return 1;
        }
        if (!output_.Commit(error)) {
            if (output_.Stopped()) {
                std::fprintf(stderr,
                             "vorp-cli: stopped while waiting to write %s; nothing was written\n",
                             options_.output_path.c_str());
                return kExitInterrupted;
            }
            std::fprintf(stderr, "vorp-cli: could not write the results: %s\n", error.c_str());
            return 1;
        }
        if (interrupted) {
            std::fprintf(stderr, "vorp-cli: stopped; the results hold the runs that completed\n");
            return kExitInterrupted;
        }
        return problems ? 1 : 0;
    }

private:
    // --limits alone: the limits in the chosen form, and nothing run.
    int WriteLimitsOnly() {
        const MachineLimits& limits = *context_.limits;
        switch (options_.format) {
            case OutputFormat::Text:
                WriteContext();
                Put(FormatLimitsTable(limits));
                break;
            case OutputFormat::Csv:
                WriteContext();
                break;
            case OutputFormat::Json:
                Put(FormatJson(context_, {}, false));
                break;
            case OutputFormat::Markdown:
                Put("```\n" + FormatLimitsTable(limits) + "```\n");
                break;
        }
        std::string error;
        if (!output_.Commit(error)) {
            std::fprintf(stderr, "vorp-cli: could not write the results: %s\n", error.c_str());
            return 1;
        }
        if (!output_.ToStandardOutput() && isatty(STDOUT_FILENO))
            std::fputs(FormatLimitsTable(limits).c_str(), stdout);
        return 0;
    }

    const MachineLimits* Limits() const { return context_.limits ? &*context_.limits : nullptr; }

    void Put(const std::string& text) {
        std::fputs(text.c_str(), output_.Stream());
        std::fflush(output_.Stream());
    }

    // "#" lines at the top of a text or CSV file (standard output too when it
    // is not a terminal, so that a redirected CSV keeps its context);
    // standard error otherwise. JSON and Markdown hold theirs.
    void WriteContext() {
        if (options_.format == OutputFormat::Json || options_.format == OutputFormat::Markdown)
            return;
        const bool to_file = !output_.ToStandardOutput() ||
                             (options_.format == OutputFormat::Csv && !isatty(STDOUT_FILENO));
        if (to_file) {
            Put(FormatContextComments(context_));
        } else if (options_.format == OutputFormat::Csv || multi_run_) {
            std::fputs(FormatContextText(context_).c_str(), stderr);
        }
    }

    // A reference whose kernel the environment forces says so, and names
    // the one OpenBLAS would pick itself.
    void NoteTheReference() {
        const bool openblas =
            options_.reference && options_.reference_library == ReferenceLibrary::OpenBlas;
        if (!openblas) return;
        if (options_.reference_own_choice) {
            if (!options_.reference_dropped.empty()) {
                reference_note_ = "the reference runs OpenBLAS's own kernel choice (" +
                                  ReferenceKernelForm() + "); " +
                                  Joined(options_.reference_dropped) +
                                  " from the environment was not applied to it";
            }
        } else if (const std::vector<std::string> forcing = OpenBlasForcingVariables();
                   !forcing.empty()) {
            const std::string own = OpenBlasOwnChoice();
            reference_note_ = Joined(forcing) + " forces OpenBLAS's kernel: the reference runs " +
                              ReferenceKernelForm() + "; on its own OpenBLAS would pick " +
                              (own.empty() ? std::string("(could not be told)") : own) +
                              " here (--reference=openblas-own runs that)";
        }
        if (!reference_note_.empty()) std::fprintf(stderr, "note: %s\n", reference_note_.c_str());
    }

    static std::string Joined(const std::vector<std::string>& words) {
        std::string text;
        for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
        return text;
    }

    // After a single run: what it was and what the fine clock says.
    void NoteTheSingleRun(const RunRecord& run) const {
        if (multi_run_) return;
        for (const std::string& note : SingleRunNotes(run))
            std::fprintf(stderr, "note: %s\n", note.c_str());
    }

    std::vector<PointResult> RunWithProgress() {
        // Text reports on the same terminal already say which run is going on.
        const bool reports_on_terminal =
            text_ && output_.ToStandardOutput() && isatty(STDOUT_FILENO);
        ProgressLine progress(multi_run_ && isatty(STDERR_FILENO) && !reports_on_terminal);
        g_progress = &progress;
        DataSink sink(output_.Stream(), text_);
        PlanHooks hooks;
        hooks.stop = &g_stop;
        bool first_header = true;
        hooks.before_run = [&](const RunProgress& run) {
            // A plan shows each sample's report lines only when asked to;
            // the progress line and the summary tell the rest.
            sink.shown = !multi_run_ || (options_.verbose && run.first_of_sample);
            if (text_ && multi_run_ && sink.shown) {
                sink.AppendLine((first_header ? "" : "\n") + FormatRunHeader(run));
                first_header = false;
            }
            if (run.first_of_sample) progress.Show(run);  // not for every run of a batch
        };
        hooks.after_run = [&](const RunProgress&, const RunRecord& run) {
            NoteTheSingleRun(run);
            const std::string check = FormatCheckLine(run);
            if (!check.empty() && (text_ || !multi_run_) && sink.shown) {
                progress.Clear();
                std::fprintf(stderr, "%s\n", check.c_str());
            }
        };
        hooks.after_point = [&](const PointResult& point) {
            if (options_.format == OutputFormat::Csv) {
                Put(FormatCsvRow(point, settings_.warmup, options_.repeat, Limits()));
            }
        };
        std::vector<PointResult> results = RunPlan(plan_.points, settings_, sink, hooks);
        progress.Clear();
        g_progress = nullptr;
        return results;
    }

    void WriteResults(const std::vector<PointResult>& results, bool interrupted) {
        const std::string reference =
            reference_note_.empty() ? "" : "Reference: " + reference_note_ + ".\n";
        switch (options_.format) {
            case OutputFormat::Text:
                if (multi_run_) Put("\n" + FormatSummaryTable(results, Limits()) + reference);
                break;
            case OutputFormat::Csv:
                // Completed points are written already; an interrupted one last.
                if (interrupted && !results.empty() && results.back().interrupted) {
                    Put(FormatCsvRow(results.back(), settings_.warmup, options_.repeat, Limits()));
                }
                break;
            case OutputFormat::Json:
                Put(FormatJson(context_, results, interrupted));
                break;
            case OutputFormat::Markdown:
                Put(FormatMarkdownSummary(context_, results) + reference);
                break;
        }
        // The results went to a file: the terminal still gets the summary.
        if (!output_.ToStandardOutput() && multi_run_ && isatty(STDOUT_FILENO)) {
            std::fputs(("\n" + FormatSummaryTable(results, Limits()) + reference).c_str(), stdout);
        }
    }

    const CliOptions& options_;
    Plan plan_;
    PlanSettings settings_;
    bool multi_run_;
    bool text_;
    OutputFile output_;
    RunContext context_;
    std::string reference_note_;  // how the environment shaped the reference, when it did
};

// Opens /dev/null on any of descriptors 0 to 2 that the caller closed, so
// that no file the program opens later takes its place (with 2 closed, a
// results file would receive every note).
void OpenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {  // the lowest free descriptor is fd itself
            dup2(opened, fd);
            close(opened);
        }
    }
}
}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    if (AnswerOpenBlasOwnChoice()) return 0;
    const std::vector<std::string> command_line(argv, argv + argc);
    const std::vector<std::string> args(command_line.begin() + 1, command_line.end());
    const CliParseResult parsed = ParseCommandLine(args, SupportedIsaCap());
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
    if (!options.compare_paths.empty()) return Compare(options);
    if (!DecideVectorPath(options.params.isa_cap)) {
        return Refuse(
            "--isa: Tavrel_8x4 does not run its 512-bit form here (no AVX-512, or "
            "TAVREL_8X4_FORM=avx)");
    }
    InstallStopSignals();
    Session session(options, command_line);
    InstallTerminalNotices(!session.IsMultiRun());
    return session.Run();
}
