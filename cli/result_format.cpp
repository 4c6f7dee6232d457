#include "result_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>

#include "processor_info.h"

namespace {
template <typename... Values>
std::string Formatted(const char* format, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// Six significant digits: what the fine clock resolves at the shortest
// counted sample, and no more.
std::optional<double> SixDigits(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return std::strtod(Formatted("%.6g", *value).c_str(), nullptr);
}

std::string Plain(std::optional<double> value) {
    return value ? Formatted("%.6g", *value) : std::string();
}

std::string Flag(bool value) { return value ? "true" : "false"; }

std::optional<double> IfAny(const PointSummary& s, double value) {
    if (s.statistics.count == 0) return std::nullopt;
    return value;
}

std::optional<double> Cv(const PointSummary& s) {
    if (s.statistics.count < 2) return std::nullopt;
    return s.statistics.cv;
}

// "hp, n 400, l_block 176, threads 2": the point as it runs.
std::string PointLabel(const PointResult& point) {
    return Formatted("%s, n %d, l_block %d, threads %d", PointMethodKey(point.point).c_str(),
                     point.shown.n, point.shown.l_block, point.shown.threads);
}

std::string ProgressLabel(const RunProgress& progress) {
    return Formatted("point %zu of %zu: %s, n %d, l_block %d, threads %d", progress.point_index,
                     progress.points, PointMethodKey(*progress.point).c_str(), progress.shown.n,
                     progress.shown.l_block, progress.shown.threads);
}

std::string RunKind(const RunProgress& progress) {
    if (progress.warmup) return Formatted("warm-up %zu", progress.round);
    if (progress.runs_in_sample == 1) return Formatted("sample %zu", progress.round);
    return Formatted("sample %zu (%zu runs)", progress.round, progress.runs_in_sample);
}

// "run 7" or "runs 7-9 (3)".
std::string RunsOf(const ProblemSpan& span) {
    if (span.count == 1) return Formatted("run %zu", span.first);
    return Formatted("runs %zu-%zu (%zu)", span.first, span.last, span.count);
}

std::string ProblemsOf(const PointResult& point) {
    std::string text;
    for (const ProblemSpan& span : ProblemSpans(point)) {
        text += (text.empty() ? "" : "; ") + RunsOf(span) + ": " + span.text;
    }
    return text;
}

std::string Flags(const PointSummary& s, const PointResult& point) {
    std::string flags;
    const auto add = [&flags](const char* flag) { flags += (flags.empty() ? "" : " ") + std::string(flag); };
    if (s.samples > 0 && s.statistics.count == 0) add("none");
    if (s.failed_samples > 0 && s.statistics.count > 0) add("fail");
    if (s.noisy) add("noisy");
    if (s.short_samples) add("short");
    if (point.interrupted) add("stop");
    return flags;
}

std::string Dash(std::optional<double> value, const char* format) {
    return value ? Formatted(format, *value) : "-";
}

std::string KernelLines(const std::vector<PointResult>& results) {
    std::set<std::string> seen;
    std::string text;
    for (const PointResult& point : results) {
        const PointSummary s = Summarise(point);
        if (s.kernel_form.empty() || !seen.insert(s.method + s.kernel_form).second) continue;
        text += "  " + s.method + ": " + s.kernel_form + "\n";
    }
    return text.empty() ? text : "Kernels:\n" + text;
}
}  // namespace

const std::vector<std::string> kCsvColumns = {
    "method", "method_index", "n", "l_block", "threads", "chunk", "isa", "kernel", "warmup",
    "repeat", "completed", "failed", "best_seconds", "median_seconds", "mean_seconds",
    "stddev_seconds", "cv", "best_gflops", "median_gflops", "noisy", "short", "interrupted",
    "check", "max_rel_diff", "problems"};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string FormatRunHeader(const RunProgress& progress) {
    return "== " + ProgressLabel(progress) + ", " + RunKind(progress);
}

std::string FormatProgressLine(const RunProgress& progress, double elapsed_seconds) {
    return ProgressLabel(progress) + ", " + RunKind(progress) +
           Formatted(" (%.1f s elapsed)", elapsed_seconds);
}

std::string FormatCheckLine(const RunRecord& run) {
    const double d = run.result.check_difference;
    switch (run.result.check) {
        case CheckVerdict::Passed:
        case CheckVerdict::Failed:
            return Formatted("check: %s (largest relative difference %.2g)",
                             CheckVerdictName(run.result.check), d);
        case CheckVerdict::NoReference:
            return "check: not done (no memory for the reference product)";
        case CheckVerdict::NoProduct:
            return "check: not done (no product)";
        default: return {};
    }
}

std::string FormatSummaryTable(const std::vector<PointResult>& results) {
    std::string text =
        "Summary: per point, samples with a figure; seconds per product on the fine clock\n";
    const char* row = "%3s %-14s %5s %5s %3s %4s %9s %5s %7s %7s %-6s %s\n";
    text += Formatted(row, "#", "method", "n", "l_blk", "thr", "smp", "median ms", "cv%",
                      "GFLOPS", "best", "check", "flags");
    std::size_t number = 0;
    for (const PointResult& point : results) {
        const PointSummary s = Summarise(point);
        const std::string check = s.check == "not run" ? "-" : s.check == "no reference" ? "no-ref" : s.check;
        std::optional<double> median_ms = IfAny(s, s.statistics.median * 1e3);
        std::optional<double> cv_percent = Cv(s);
        if (cv_percent) *cv_percent *= 100;
        text += Formatted(row, std::to_string(++number).c_str(), s.method.c_str(),
                          std::to_string(point.shown.n).c_str(),
                          std::to_string(point.shown.l_block).c_str(),
                          std::to_string(point.shown.threads).c_str(),
                          std::to_string(s.statistics.count).c_str(),
                          Dash(median_ms, "%.4g").c_str(), Dash(cv_percent, "%.1f").c_str(),
                          Dash(s.median_gflops, "%.2f").c_str(), Dash(s.best_gflops, "%.2f").c_str(),
                          check.c_str(), Flags(s, point).c_str());
    }
    text += "GFLOPS: of the median sample; best: of the fastest. Flags: noisy (CV above 5%),\n"
            "short (a sample under 10 ms), none or fail (all or some samples without a\n"
            "product: no figure), stop (interrupted).\n";
    return text + KernelLines(results) + FormatProblems(results);
}

std::string FormatProblems(const std::vector<PointResult>& results) {
    std::size_t runs = 0;
    for (const PointResult& point : results) runs += point.runs.size();
    if (!AnyProblem(results)) {
        return Formatted("All %zu runs computed their product without notice or check failure.\n",
                         runs);
    }
    std::string text = "Runs without a figure, with a notice or a check failure:\n";
    for (std::size_t i = 0; i < results.size(); ++i) {
        for (const ProblemSpan& span : ProblemSpans(results[i])) {
            text += "  " + RunsOf(span) + Formatted(" (row %zu: ", i + 1) + PointLabel(results[i]) +
                    (span.run->warmup ? ", warm-up" : "") + "): " + span.text + "\n";
        }
    }
    return text;
}

std::string FormatCsvHeader() {
    std::string header;
    for (std::size_t i = 0; i < kCsvColumns.size(); ++i) header += (i ? "," : "") + kCsvColumns[i];
    return header + "\n";
}

std::string FormatCsvRow(const PointResult& point, std::int32_t warmup, std::int32_t repeat) {
    const PointSummary s = Summarise(point);
    const SampleStatistics& st = s.statistics;
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
        std::to_string(st.count),
        std::to_string(s.failed_samples),
        Plain(IfAny(s, st.min)),
        Plain(IfAny(s, st.median)),
        Plain(IfAny(s, st.mean)),
        Plain(Cv(s) ? std::optional<double>(st.stddev) : std::nullopt),
        Plain(Cv(s)),
        Plain(s.best_gflops),
        Plain(s.median_gflops),
        Flag(s.noisy),
        Flag(s.short_samples),
        Flag(point.interrupted),
        s.check,
        Plain(s.check_difference),
        ProblemsOf(point),
    };
    std::string csv;
    for (std::size_t i = 0; i < fields.size(); ++i) csv += (i ? "," : "") + CsvField(fields[i]);
    return csv + "\n";
}

nlohmann::json ResultJson(const PointResult& point, std::int32_t warmup, std::int32_t repeat) {
    using nlohmann::json;
    const PointSummary s = Summarise(point);
    const SampleStatistics& st = s.statistics;
    const auto number = [](std::optional<double> value) -> json {
        value = SixDigits(value);
        return value ? json(*value) : json(nullptr);
    };
    json problems = json::array();
    for (const ProblemSpan& span : ProblemSpans(point)) {
        const RunRecord& run = *span.run;
        problems.push_back({{"run", span.first},
                            {"last_run", span.last},
                            {"runs", span.count},
                            {"warmup", run.warmup},
                            {"notices", run.notices},
                            {"completed", run.result.outcome == RunOutcome::Completed},
                            {"product", run.result.product},
                            {"check", CheckVerdictName(run.result.check)}});
    }
    json seconds = json::array(), ticks = json::array();
    for (const double v : s.seconds) seconds.push_back(*SixDigits(v));
    for (const double v : s.tick_seconds) ticks.push_back(*SixDigits(v));
    return {
        {"method", s.method},
        {"method_index", point.point.reference ? json(nullptr) : json(point.shown.method)},
        {"n", point.shown.n},
        {"l_block", point.shown.l_block},
        {"threads", point.shown.threads},
        {"chunk", point.shown.chunk},
        {"asked", {{"n", point.point.params.n}, {"l_block", point.point.params.l_block},
                   {"threads", point.point.params.threads}}},
        {"isa_level", s.isa_level ? json(*s.isa_level) : json(nullptr)},
        {"isa", s.isa_level ? json(IsaLevelName(*s.isa_level)) : json(nullptr)},
        {"kernel", s.kernel_form},
        {"warmup", warmup},
        {"repeat", repeat},
        {"completed", st.count},
        {"failed", s.failed_samples},
        {"product", st.count > 0},
        {"operations", static_cast<long long>(s.operations)},  // 2 n^3 < 2^53
        {"seconds", seconds},
        {"tick_seconds", ticks},
        {"runs_per_sample", s.runs_per_sample},
        {"best_seconds", number(IfAny(s, st.min))},
        {"median_seconds", number(IfAny(s, st.median))},
        {"mean_seconds", number(IfAny(s, st.mean))},
        {"stddev_seconds", number(Cv(s) ? std::optional<double>(st.stddev) : std::nullopt)},
        {"cv", number(Cv(s))},
        {"best_gflops", number(s.best_gflops)},
        {"median_gflops", number(s.median_gflops)},
        {"noisy", s.noisy},
        {"short", s.short_samples},
        {"interrupted", point.interrupted},
        {"check", s.check},
        {"max_rel_diff", number(s.check_difference)},
        {"problems", problems},
    };
}

std::string FormatJson(const RunContext& context, const std::vector<PointResult>& results,
                       bool interrupted) {
    nlohmann::json results_json = nlohmann::json::array();
    for (const PointResult& point : results) {
        results_json.push_back(ResultJson(point, context.warmup, context.repeat));
    }
    const nlohmann::json doc = {{"schema_version", kResultsSchemaVersion},
                                {"context", ContextJson(context)},
                                {"interrupted", interrupted},
                                {"results", results_json}};
    return doc.dump(2) + "\n";
}
