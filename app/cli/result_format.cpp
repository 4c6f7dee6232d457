#include "result_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "json_writer.h"
#include "processor_info.h"

namespace {
template <typename... Values>
std::string Formatted(const char* format, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string ShortestNumber(double value) {
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, written.ptr);
}

std::string OptionalNumber(std::optional<double> value) {
    return value ? ShortestNumber(*value) : std::string();
}

// Durations come from a millisecond clock, medians of two may end in half a
// millisecond: 0.0135, not 0.013500000000000002.
double ClockRounded(double seconds) { return std::round(seconds * 1e4) / 1e4; }

// GFLOPS to six significant digits, more than a millisecond clock resolves.
std::optional<double> SixDigits(std::optional<double> value) {
    if (!value) return std::nullopt;
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.6g", *value);
    return std::strtod(digits, nullptr);
}

std::optional<double> TimingOf(const PointSummary& s, double TimingSummary::*field) {
    if (s.timing.count == 0) return std::nullopt;
    return ClockRounded(s.timing.*field);
}

std::string FixedOrDash(std::optional<double> value, int decimals) {
    return value ? Formatted("%.*f", decimals, *value) : "-";
}

// "hp, n 400, threads 2": the point as asked (n before normalisation).
std::string PointLabel(const PlannedPoint& point) {
    return PointMethodKey(point) + Formatted(", n %d, threads %d", point.params.n, point.params.threads);
}

std::string RunKind(const RunProgress& progress) {
    return Formatted("%s %d of %d", progress.warmup ? "warm-up" : "counted run", progress.round,
                     progress.rounds);
}

std::string ProblemsOf(const PointResult& point) {
    std::string text;
    for (const RunRecord& run : point.runs) {
        if (!HasProblem(run)) continue;
        text += (text.empty() ? "" : "; ") + Formatted("run %zu: ", run.sequence) + ProblemText(run);
    }
    return text;
}

std::vector<double> CountedSeconds(const PointResult& point) {
    std::vector<double> seconds;
    for (const RunRecord& run : point.runs) {
        if (!run.warmup && run.result.outcome == RunOutcome::Completed) {
            seconds.push_back(run.result.measurements.duration_seconds);
        }
    }
    return seconds;
}

std::size_t CountRuns(const std::vector<PointResult>& results) {
    std::size_t total = 0;
    for (const PointResult& point : results) total += point.runs.size();
    return total;
}

void WriteResultJson(JsonWriter& json, const PointResult& point, const RunContext& context) {
    const PointSummary s = Summarise(point);
    json.BeginObject();
    json.Key("method").String(s.method);
    json.Key("method_index");
    if (point.point.reference) json.Null(); else json.Integer(point.shown.method);
    json.Key("n").Integer(point.shown.n);
    json.Key("l_block").Integer(point.shown.l_block);
    json.Key("threads").Integer(point.shown.threads);
    json.Key("chunk").Integer(point.shown.chunk);
    json.Key("isa_level");
    if (s.isa_level) json.Integer(*s.isa_level); else json.Null();
    json.Key("isa");
    if (s.isa_level) json.String(IsaLevelName(*s.isa_level)); else json.Null();
    json.Key("kernel").String(s.kernel_form);
    json.Key("warmup").Integer(context.warmup);
    json.Key("repeat").Integer(context.repeat);
    json.Key("completed").Integer(static_cast<long long>(s.timing.count));
    json.Key("operations").Integer(static_cast<long long>(s.operations));  // 2 n^3 < 2^53
    json.Key("seconds").BeginArray();
    for (const double seconds : CountedSeconds(point)) json.Number(ClockRounded(seconds));
    json.EndArray();
    json.Key("best_seconds").Number(TimingOf(s, &TimingSummary::best_seconds));
    json.Key("median_seconds").Number(TimingOf(s, &TimingSummary::median_seconds));
    json.Key("best_gflops").Number(SixDigits(s.best_gflops));
    json.Key("median_gflops").Number(SixDigits(s.median_gflops));
    json.Key("check").String(s.check);
    json.Key("problems").BeginArray();
    for (const RunRecord& run : point.runs) {
        if (!HasProblem(run)) continue;
        json.BeginObject();
        json.Key("run").Integer(static_cast<long long>(run.sequence));
        json.Key("warmup").Bool(run.warmup);
        json.Key("notices").BeginArray();
        for (const std::string& notice : run.notices) json.String(notice);
        json.EndArray();
        json.Key("check").String(CheckVerdictName(run.result.check));
        json.Key("completed").Bool(run.result.outcome == RunOutcome::Completed);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}
}  // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string FormatRunHeader(const RunProgress& progress) {
    return Formatted("== run %zu of %zu: ", progress.sequence, progress.total) +
           PointLabel(*progress.point) + ", " + RunKind(progress);
}

std::string FormatProgressLine(const RunProgress& progress, double elapsed_seconds) {
    return Formatted("run %zu of %zu: ", progress.sequence, progress.total) +
           PointLabel(*progress.point) + Formatted(" (%.1f s elapsed)", elapsed_seconds);
}

std::string FormatSummaryTable(const std::vector<PointResult>& results, std::int32_t warmup,
                               std::int32_t repeat) {
    std::string text = Formatted("Summary: best and median of %d counted run%s per row", repeat,
                                 repeat == 1 ? "" : "s");
    if (warmup > 0) text += Formatted(", after %d warm-up%s", warmup, warmup == 1 ? "" : "s");
    text += "; n, l_block and threads as the runs normalised them\n";
    const char* row = "%3s  %-14s  %5s  %7s  %7s  %8s  %8s  %11s  %13s  %-12s  %s\n";
    text += Formatted(row, "#", "method", "n", "l_block", "threads", "best s", "median s",
                      "best GFLOPS", "median GFLOPS", "check", "kernel");
    std::size_t number = 0;
    for (const PointResult& point : results) {
        const PointSummary s = Summarise(point);
        text += Formatted(row, std::to_string(++number).c_str(), s.method.c_str(),
                          std::to_string(point.shown.n).c_str(),
                          std::to_string(point.shown.l_block).c_str(),
                          std::to_string(point.shown.threads).c_str(),
                          FixedOrDash(TimingOf(s, &TimingSummary::best_seconds), 3).c_str(),
                          FixedOrDash(TimingOf(s, &TimingSummary::median_seconds), 3).c_str(),
                          FixedOrDash(s.best_gflops, 2).c_str(), FixedOrDash(s.median_gflops, 2).c_str(),
                          s.check.c_str(), s.kernel_form.c_str());
    }
    return text + FormatProblems(results);
}

std::string FormatProblems(const std::vector<PointResult>& results) {
    if (!AnyProblem(results)) {
        return Formatted("All %zu runs completed without notice or check failure.\n",
                         CountRuns(results));
    }
    std::string text = "Runs with a check failure or notice:\n";
    std::size_t number = 0;
    for (const PointResult& point : results) {
        ++number;
        for (const RunRecord& run : point.runs) {
            if (!HasProblem(run)) continue;
            text += Formatted("  run %zu of %zu (row %zu: ", run.sequence, CountRuns(results), number) +
                    PointLabel(point.point) + (run.warmup ? ", warm-up" : "") + "): " +
                    ProblemText(run) + "\n";
        }
    }
    return text;
}

std::string FormatCsv(const std::vector<PointResult>& results, std::int32_t warmup,
                      std::int32_t repeat) {
    std::string csv =
        "method,method_index,n,l_block,threads,chunk,isa,kernel,warmup,repeat,completed,"
        "best_seconds,median_seconds,best_gflops,median_gflops,check,problems\n";
    for (const PointResult& point : results) {
        const PointSummary s = Summarise(point);
        const std::vector<std::string> fields = {
            s.method,
            point.point.reference ? "" : std::to_string(point.shown.method),
            std::to_string(point.shown.n),
            std::to_string(point.shown.l_block),
            std::to_string(point.shown.threads),
            std::to_string(point.shown.chunk),
            s.isa_level ? IsaLevelName(*s.isa_level) : "",
            s.kernel_form,
            std::to_string(warmup),
            std::to_string(repeat),
            std::to_string(s.timing.count),
            OptionalNumber(TimingOf(s, &TimingSummary::best_seconds)),
            OptionalNumber(TimingOf(s, &TimingSummary::median_seconds)),
            OptionalNumber(SixDigits(s.best_gflops)),
            OptionalNumber(SixDigits(s.median_gflops)),
            s.check,
            ProblemsOf(point),
        };
        for (std::size_t i = 0; i < fields.size(); ++i) {
            csv += (i ? "," : "") + CsvField(fields[i]);
        }
        csv += '\n';
    }
    return csv;
}

std::string FormatJson(const RunContext& context, const std::vector<PointResult>& results) {
    JsonWriter json;
    json.BeginObject();
    json.Key("schema_version").Integer(kResultsSchemaVersion);
    json.Key("context").BeginObject();
    json.Key("program").String(context.program);
    json.Key("version").String(context.version);
    json.Key("date").String(context.date);
    json.Key("cpu_model").String(context.cpu_model);
    json.Key("isa_level").Integer(context.isa_level);
    json.Key("isa").String(context.isa_name);
    json.Key("vector_kernel").String(context.kernel_form);
    json.Key("threads").BeginArray();
    for (const std::int32_t threads : context.threads) json.Integer(threads);
    json.EndArray();
    json.Key("warmup").Integer(context.warmup);
    json.Key("repeat").Integer(context.repeat);
    json.Key("compiler").String(context.compiler);
    json.Key("build_type").String(context.build_type);
    json.Key("reference");
    if (context.reference.empty()) json.Null(); else json.String(context.reference);
    json.EndObject();
    json.Key("results").BeginArray();
    for (const PointResult& point : results) WriteResultJson(json, point, context);
    json.EndArray();
    json.EndObject();
    return json.Text();
}

std::string FormatContextText(const RunContext& context) {
    std::string text = context.program + " " + context.version + ", " + context.date + "\n";
    text += "cpu: " + context.cpu_model + "\n";
    text += "method 4: " + context.isa_name + ", " + context.kernel_form + "\n";
    text += "build: " + context.compiler + ", " + context.build_type + "\n";
    if (!context.reference.empty()) text += "reference: " + context.reference + "\n";
    return text;
}
