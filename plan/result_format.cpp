#include "result_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>

#include "limits_report.h"
#include "methods.h"
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
    const std::string again =
        progress.resized_from > 0
            ? Formatted(", again: %zu run%s took under 10 ms", progress.resized_from,
                        progress.resized_from == 1 ? "" : "s")
            : std::string();
    if (progress.runs_in_sample == 1) return Formatted("sample %zu", progress.round) + again;
    return Formatted("sample %zu (%zu runs)", progress.round, progress.runs_in_sample) + again;
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
    const auto add = [&flags](const char* flag) {
        flags += (flags.empty() ? "" : " ") + std::string(flag);
    };
    if (s.samples > 0 && s.statistics.count == 0) add("none");
    if (s.failed_samples > 0 && s.statistics.count > 0) add("fail");
    if (s.noisy) add("noisy");
    if (s.short_samples) add("short");
    if (s.cpu_short) add("cpu");
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

const std::vector<std::string> kCsvColumns = {"method",
                                              "method_index",
                                              "n",
                                              "l_block",
                                              "threads",
                                              "chunk",
                                              "isa",
                                              "kernel",
                                              "warmup",
                                              "repeat",
                                              "completed",
                                              "failed",
                                              "best_seconds",
                                              "median_seconds",
                                              "mean_seconds",
                                              "stddev_seconds",
                                              "cv",
                                              "best_gflops",
                                              "median_gflops",
                                              "noisy",
                                              "short",
                                              "interrupted",
                                              "check",
                                              "max_rel_diff",
                                              "problems",
                                              "cpu_share",
                                              "cpu_short",
                                              "peak",
                                              "peak_share"};

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
        default:
            return {};
    }
}

namespace {
// The reference row's median seconds at the same order and thread count.
std::optional<double> ReferenceSeconds(const std::vector<PointResult>& results,
                                       const PointResult& point) {
    for (const PointResult& other : results) {
        if (!other.point.reference || other.shown.n != point.shown.n ||
            other.shown.threads != point.shown.threads) {
            continue;
        }
        const PointSummary s = Summarise(other);
        if (s.statistics.count > 0) return s.statistics.median;
    }
    return std::nullopt;
}

bool HasReference(const std::vector<PointResult>& results) {
    for (const PointResult& point : results) {
        if (point.point.reference) return true;
    }
    return false;
}

// The cells of one summary row: #, method, n, l_blk, thr, smp, median ms,
// cv%, GFLOPS, best, [vs ref,] check, flags.
std::vector<std::string> SummaryCells(const std::vector<PointResult>& results, std::size_t index,
                                      bool reference_column, const MachineLimits* limits) {
    const PointResult& point = results[index];
    const PointSummary s = Summarise(point);
    const std::string check = s.check == "not run"        ? "-"
                              : s.check == "no reference" ? "no-ref"
                                                          : s.check;
    std::optional<double> median_ms = IfAny(s, s.statistics.median * 1e3);
    std::optional<double> cv_percent = Cv(s);
    if (cv_percent) *cv_percent *= 100;
    std::vector<std::string> cells = {std::to_string(index + 1),
                                      s.method,
                                      std::to_string(point.shown.n),
                                      std::to_string(point.shown.l_block),
                                      std::to_string(point.shown.threads),
                                      std::to_string(s.statistics.count),
                                      Dash(median_ms, "%.4g"),
                                      Dash(cv_percent, "%.1f"),
                                      Dash(s.median_gflops, "%.2f"),
                                      Dash(s.best_gflops, "%.2f")};
    if (reference_column) {
        const std::optional<double> reference = ReferenceSeconds(results, point);
        std::optional<double> ratio;
        if (reference && s.statistics.count > 0 && s.statistics.median > 0)
            ratio = *reference / s.statistics.median;
        cells.push_back(Dash(ratio, "%.2f"));
    }
    if (limits) {
        std::optional<double> share = PeakShare(*limits, point, s);
        if (share) *share *= 100;
        cells.push_back(Dash(share, "%.0f"));
    }
    cells.push_back(check);
    cells.push_back(Flags(s, point));
    return cells;
}

const char* kFlagsLegend =
    "GFLOPS: of the median sample; best: of the fastest. Flags: noisy (CV above 5%),\n"
    "short (a sample under 10 ms), cpu (its threads got under 80% of their cores:\n"
    "other processes took them), none or fail (all or some samples without a\n"
    "product: no figure), stop (interrupted).\n";
const char* kReferenceLegend =
    "vs ref: the reference's median time over the point's, at the same n and threads.\n";
const char* kPeakLegend =
    "peak%: median GFLOPS over the peak of what ran with its threads: method 4 the mul+add peak "
    "of\n"
    "its kernel's width, methods 0 to 3 that of their loop's clone (256-bit with AVX2 and FMA,\n"
    "else 128-bit), the reference the widest fused multiply-add peak (docs/methods.md).\n";

// Whether the figures are warm: every point's first run uncounted, or not.
std::string WarmthLine(const std::vector<PointResult>& results) {
    std::size_t warm = 0, counted_first = 0;
    for (const PointResult& point : results) {
        if (point.runs.empty()) continue;
        (point.runs.front().warmup ? warm : counted_first) += 1;
    }
    if (counted_first == 0 && warm > 0) {
        return "Warm: every point's first run was an uncounted warm-up, the reference's too.\n";
    }
    if (warm == 0 && counted_first > 0) {
        return "Cold: each point's first run, with its first touches and thread starts, is counted "
               "(--warmup 0).\n";
    }
    if (counted_first == 0) return {};
    return Formatted("Mixed: %zu point%s warmed, %zu with the first run counted.\n", warm,
                     warm == 1 ? "" : "s", counted_first);
}
}  // namespace

std::vector<std::string> SingleRunNotes(const RunRecord& run) {
    if (run.result.outcome != RunOutcome::Completed || !run.result.product) return {};
    const RunMeasurements& m = run.result.measurements;
    const std::optional<double> gflops = GflopsAt(m.operations, m.fine_seconds);
    std::vector<std::string> notes = {
        Formatted("a single cold run (this process's first product); fine clock: %.4g ms",
                  m.fine_seconds * 1e3) +
        (gflops ? Formatted(", %.2f GFLOPS", *gflops) : std::string())};
    constexpr double kCoarseTicks = 100;  // under this, one tick is over 1 % of DURATION
    const double ticks = std::round(m.duration_seconds * 1e3);
    if (ticks < 1) {
        notes.push_back("the product took less than the 1 ms tick: DURATION 0, Performance -1");
    } else if (ticks < kCoarseTicks) {
        notes.push_back(Formatted("%.0f ms on a 1 ms tick: \u00b1%.0f %%", ticks, 100 / ticks));
    }
    return notes;
}

std::string FormatSummaryTable(const std::vector<PointResult>& results,
                               const MachineLimits* limits) {
    std::string text =
        "Summary: per point, samples with a figure; seconds per product on the fine clock\n";
    const bool reference = HasReference(results);
    std::vector<std::string> header = {"#",   "method",    "n",   "l_blk",  "thr",
                                       "smp", "median ms", "cv%", "GFLOPS", "best"};
    if (reference) header.push_back("vs ref");
    if (limits) header.push_back("peak%");
    header.push_back("check");
    header.push_back("flags");
    // Widths of every column but the last, negative for left-aligned.
    std::vector<int> widths = {3, -14, 5, 5, 3, 4, 9, 5, 7, 7};
    if (reference) widths.push_back(6);
    if (limits) widths.push_back(5);
    widths.push_back(-6);
    const auto row = [&widths](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i + 1 == cells.size()) {
                line += cells[i];
            } else {
                line += Formatted("%*s ", widths[i], cells[i].c_str());
            }
        }
        return line + "\n";
    };
    text += row(header);
    for (std::size_t i = 0; i < results.size(); ++i)
        text += row(SummaryCells(results, i, reference, limits));
    text += kFlagsLegend;
    if (reference) text += kReferenceLegend;
    if (limits) text += kPeakLegend;
    text += WarmthLine(results);
    return text + KernelLines(results) + FormatProblems(results);
}

std::string FormatMarkdownSummary(const RunContext& context,
                                  const std::vector<PointResult>& results) {
    const bool reference = HasReference(results);
    const MachineLimits* limits = context.limits ? &*context.limits : nullptr;
    std::vector<std::string> header = {"#",       "method",    "n",    "l_block", "threads",
                                       "samples", "median ms", "CV %", "GFLOPS",  "best"};
    if (reference) header.push_back("vs ref");
    if (limits) header.push_back("peak %");
    header.push_back("check");
    header.push_back("flags");
    const auto row = [](const std::vector<std::string>& cells) {
        std::string line = "|";
        for (const std::string& cell : cells) {
            std::string escaped;
            for (const char c : cell) escaped += c == '|' ? std::string("\\|") : std::string(1, c);
            line += " " + escaped + " |";
        }
        return line + "\n";
    };
    std::string text = row(header) + "|";
    for (std::size_t i = 0; i < header.size(); ++i) text += i < 2 ? "---|" : "---:|";
    text += "\n";
    for (std::size_t i = 0; i < results.size(); ++i)
        text += row(SummaryCells(results, i, reference, limits));
    text += "\n" + std::string(kFlagsLegend);
    if (reference) text += kReferenceLegend;
    if (limits) text += kPeakLegend;
    text += WarmthLine(results);
    const std::string kernels = KernelLines(results);
    if (!kernels.empty()) text += "\n" + kernels;
    text += "\n" + FormatProblems(results);
    text += "\n<details><summary>Context</summary>\n\n```\n" + FormatContextText(context) +
            "```\n\n</details>\n";
    return text;
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

std::string FormatCsvRow(const PointResult& point, std::int32_t warmup, std::int32_t repeat,
                         const MachineLimits* limits) {
    const PointSummary s = Summarise(point);
    const LimitMeasurement* peak = limits ? PeakForPoint(*limits, point, s) : nullptr;
    const SampleStatistics& st = s.statistics;
    const std::vector<std::string> fields = {
        s.method,
        point.point.reference ? "" : std::to_string(point.shown.method),
        std::to_string(point.shown.n),
        std::to_string(point.shown.l_block),
        std::to_string(point.shown.threads),
        std::to_string(point.shown.chunk),
        s.isa_level ? VectorPackInstructionSet(*s.isa_level) : "",
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
        Plain(s.cpu_share),
        Flag(s.cpu_short),
        peak ? LimitLabel(*peak) : "",
        Plain(limits ? PeakShare(*limits, point, s) : std::nullopt),
    };
    std::string csv;
    for (std::size_t i = 0; i < fields.size(); ++i) csv += (i ? "," : "") + CsvField(fields[i]);
    return csv + "\n";
}

nlohmann::json ResultJson(const PointResult& point, std::int32_t warmup, std::int32_t repeat,
                          const MachineLimits* limits, std::uint64_t last_level_cache_bytes) {
    using nlohmann::json;
    const PointSummary s = Summarise(point);
    const LimitMeasurement* peak = limits ? PeakForPoint(*limits, point, s) : nullptr;
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
                            {"notices", run.result.notices},
                            {"completed", run.result.outcome == RunOutcome::Completed},
                            {"product", run.result.product},
                            {"check", CheckVerdictName(run.result.check)}});
    }
    json seconds = json::array(), ticks = json::array();
    for (const double v : s.seconds) seconds.push_back(*SixDigits(v));
    for (const double v : s.tick_seconds) ticks.push_back(*SixDigits(v));
    json cpu = json::array();
    for (const double v : s.cpu_seconds) cpu.push_back(*SixDigits(v));
    std::optional<double> bandwidth_bound, bandwidth_share;
    if (limits) bandwidth_bound = BandwidthBoundGflops(*limits, point, last_level_cache_bytes);
    if (bandwidth_bound && s.median_gflops) bandwidth_share = *s.median_gflops / *bandwidth_bound;
    json result = {
        {"method", s.method},
        {"method_index", point.point.reference ? json(nullptr) : json(point.shown.method)},
        {"n", point.shown.n},
        {"l_block", point.shown.l_block},
        {"threads", point.shown.threads},
        {"chunk", point.shown.chunk},
        {"asked",
         {{"n", point.point.params.n},
          {"l_block", point.point.params.l_block},
          {"threads", point.point.params.threads}}},
        {"isa_level", s.isa_level ? json(*s.isa_level) : json(nullptr)},
        {"isa", s.isa_level ? json(VectorPackInstructionSet(*s.isa_level)) : json(nullptr)},
        {"first_call_counted", warmup == 0},
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
        {"cpu_seconds", cpu},
        {"cpu_share", number(s.cpu_share)},
        {"cpu_short", s.cpu_short},
        {"peak", peak ? json(LimitLabel(*peak)) : json(nullptr)},
        {"peak_share", number(limits ? PeakShare(*limits, point, s) : std::nullopt)},
        {"interrupted", point.interrupted},
        {"check", s.check},
        {"max_rel_diff", number(s.check_difference)},
        {"problems", problems},
    };
    if (limits) {
        result["bandwidth_bound_gflops"] = number(bandwidth_bound);
        result["bandwidth_share"] = number(bandwidth_share);
    }
    return result;
}

std::string FormatJson(const RunContext& context, const std::vector<PointResult>& results,
                       bool interrupted) {
    nlohmann::json results_json = nlohmann::json::array();
    for (const PointResult& point : results) {
        results_json.push_back(ResultJson(point, context.warmup, context.repeat,
                                          context.limits ? &*context.limits : nullptr,
                                          CacheBytes(context.caches.l3)));
    }
    const nlohmann::json doc = {{"schema_version", kResultsSchemaVersion},
                                {"context", ContextJson(context)},
                                {"interrupted", interrupted},
                                {"results", results_json}};
    return doc.dump(2) + "\n";
}
