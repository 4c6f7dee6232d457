#include "compare.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_context.h"
#include "statistics.h"

namespace {
using nlohmann::json;


struct ResultPoint {
    std::string method;
    long long n = 0, l_block = 0, threads = 0;
    std::vector<double> seconds;
    std::optional<double> median_seconds;
};

struct ResultDocument {
    std::string label;  // the file's path, or which document
    std::string cpu_model;
    bool interrupted = false;
    std::vector<ResultPoint> points;
};

template <typename... Values>
std::string Formatted(const char* format, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

bool SamePoint(const ResultPoint& a, const ResultPoint& b) {
    return a.method == b.method && a.n == b.n && a.l_block == b.l_block && a.threads == b.threads;
}

std::string PointName(const ResultPoint& point) {
    return point.method + Formatted(" n %lld l_block %lld threads %lld", point.n, point.l_block,
                                    point.threads);
}

// Reads one entry of "results"; the problem when it is not a point.
std::string ReadPoint(const json& entry, ResultPoint& point) {
    if (!entry.is_object()) return "is not an object";
    const auto method = entry.find("method");
    if (method == entry.end() || !method->is_string()) {
        return "\"method\" is missing or not a string";
    }
    point.method = method->get<std::string>();
    const std::pair<const char*, long long*> integers[] = {
        {"n", &point.n}, {"l_block", &point.l_block}, {"threads", &point.threads}};
    for (const auto& [key, value] : integers) {
        const auto field = entry.find(key);
        if (field == entry.end() || !field->is_number_integer()) {
            return std::string("\"") + key + "\" is missing or not an integer";
        }
        *value = field->get<long long>();
    }
    const auto seconds = entry.find("seconds");
    if (seconds == entry.end() || !seconds->is_array()) {
        return "\"seconds\" is missing or not an array";
    }
    for (const json& duration : *seconds) {
        if (!duration.is_number()) return "\"seconds\" holds something other than numbers";
        point.seconds.push_back(duration.get<double>());
    }
    const auto median = entry.find("median_seconds");
    if (median == entry.end() || !(median->is_number() || median->is_null())) {
        return "\"median_seconds\" is missing or neither a number nor null";
    }
    if (median->is_number()) point.median_seconds = median->get<double>();
    return {};
}

// The document's points and context; the problem when it is not a result document.
std::string ReadDocument(const json& doc, ResultDocument& document) {
    if (!doc.is_object()) return "the document is not a JSON object";
    const auto version = doc.find("schema_version");
    if (version == doc.end()) return "it has no schema_version";
    if (!version->is_number_integer() || version->get<long long>() != kResultsSchemaVersion) {
        return "its schema_version is " + version->dump() +
               Formatted(", expected %d", kResultsSchemaVersion);
    }
    const auto results = doc.find("results");
    if (results == doc.end() || !results->is_array()) return "it has no \"results\" array";
    for (std::size_t i = 0; i < results->size(); ++i) {
        ResultPoint point;
        const std::string problem = ReadPoint((*results)[i], point);
        if (!problem.empty()) return Formatted("results[%zu]: ", i) + problem;
        document.points.push_back(std::move(point));
    }
    const auto context = doc.find("context");
    if (context != doc.end() && context->is_object()) {
        const auto cpu_model = context->find("cpu_model");
        if (cpu_model != context->end() && cpu_model->is_string()) {
            document.cpu_model = cpu_model->get<std::string>();
        }
    }
    const auto interrupted = doc.find("interrupted");
    document.interrupted =
        interrupted != doc.end() && interrupted->is_boolean() && interrupted->get<bool>();
    return {};
}

std::string SecondsOrDash(const std::optional<double>& seconds) {
    return seconds ? Formatted("%.5g", *seconds) : "-";
}

struct Verdict {
    std::string text;
    std::optional<double> p_value;
};

Verdict Judge(const ResultPoint& before, const ResultPoint& after) {
    if (!before.median_seconds || !after.median_seconds) return {"no product", {}};
    if (before.seconds.size() < kCompareMinimumRuns || after.seconds.size() < kCompareMinimumRuns) {
        return {"too few runs", {}};
    }
    const RankTest test = MannWhitneyU(after.seconds, before.seconds);
    if (test.p_value >= kCompareSignificance) return {"same", test.p_value};
    // U counts pairs where the new duration is the longer one.
    const double centre = static_cast<double>(after.seconds.size() * before.seconds.size()) / 2;
    return {test.u < centre ? "faster" : "slower", test.p_value};
}

constexpr const char* kRow = "%-14s  %6s  %7s  %7s  %12s  %12s  %7s  %6s  %s\n";

std::string FormatRow(const ResultPoint& before, const ResultPoint& after) {
    const Verdict verdict = Judge(before, after);
    std::string ratio = "-";
    if (before.median_seconds && after.median_seconds && *before.median_seconds > 0) {
        ratio = Formatted("%.3f", *after.median_seconds / *before.median_seconds);
    }
    std::string p = "-";
    if (verdict.p_value) {
        p = *verdict.p_value < 0.001 ? "<0.001" : Formatted("%.3f", *verdict.p_value);
    }
    return Formatted(kRow, before.method.c_str(), std::to_string(before.n).c_str(),
                     std::to_string(before.l_block).c_str(), std::to_string(before.threads).c_str(),
                     SecondsOrDash(before.median_seconds).c_str(),
                     SecondsOrDash(after.median_seconds).c_str(), ratio.c_str(), p.c_str(),
                     verdict.text.c_str());
}

std::string FormatHeader(const ResultDocument& before, const ResultDocument& after) {
    std::string text = "old: " + before.label + (before.interrupted ? " (interrupted)" : "") + "\n";
    text += "new: " + after.label + (after.interrupted ? " (interrupted)" : "") + "\n";
    if (before.cpu_model != after.cpu_model) {
        text += "cpu: old " + before.cpu_model + ", new " + after.cpu_model + "\n";
    }
    text += Formatted("Medians in seconds, ratio new/old (below 1 is faster); verdict from a "
                      "two-sided Mann-Whitney\nU test at p < %.2f, with at least %zu runs a side\n",
                      kCompareSignificance, kCompareMinimumRuns);
    return text;
}

// Each old point pairs with the first unpaired new point of the same identity.
std::string FormatComparison(const ResultDocument& before, const ResultDocument& after) {
    std::string rows, only_old;
    std::vector<bool> paired(after.points.size(), false);
    for (const ResultPoint& point : before.points) {
        std::size_t match = 0;
        while (match < after.points.size() &&
               (paired[match] || !SamePoint(point, after.points[match]))) {
            ++match;
        }
        if (match == after.points.size()) {
            only_old += "only in old: " + PointName(point) + "\n";
            continue;
        }
        paired[match] = true;
        rows += FormatRow(point, after.points[match]);
    }
    std::string only_new;
    for (std::size_t i = 0; i < after.points.size(); ++i) {
        if (!paired[i]) only_new += "only in new: " + PointName(after.points[i]) + "\n";
    }
    std::string text = FormatHeader(before, after);
    if (rows.empty()) {
        text += "No point is in both documents.\n";
    } else {
        text += Formatted(kRow, "method", "n", "l_block", "threads", "old median s", "new median s",
                          "new/old", "p", "verdict") + rows;
    }
    return text + only_old + only_new;
}

CompareOutcome Unusable(const std::string& label, const std::string& problem) {
    return {2, {}, label + ": not a vorp-cli result document: " + problem};
}

CompareOutcome CompareLabelled(const json& old_doc, const std::string& old_label,
                               const json& new_doc, const std::string& new_label) {
    ResultDocument before{old_label, {}, false, {}}, after{new_label, {}, false, {}};
    if (const std::string problem = ReadDocument(old_doc, before); !problem.empty()) {
        return Unusable(old_label, problem);
    }
    if (const std::string problem = ReadDocument(new_doc, after); !problem.empty()) {
        return Unusable(new_label, problem);
    }
    return {0, FormatComparison(before, after), {}};
}

// The file parsed, or the reason it cannot be (naming the file) in `error`.
std::optional<json> ParseFile(const std::string& path, std::string& error) {
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
    if (std::ferror(file.get())) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        error = path + ": not JSON: " + e.what();
        return std::nullopt;
    }
}
}  // namespace

CompareOutcome CompareResultFiles(const std::string& old_path, const std::string& new_path) {
    std::string error;
    const std::optional<json> old_doc = ParseFile(old_path, error);
    if (!old_doc) return {2, {}, error};
    const std::optional<json> new_doc = ParseFile(new_path, error);
    if (!new_doc) return {2, {}, error};
    return CompareLabelled(*old_doc, old_path, *new_doc, new_path);
}

CompareOutcome CompareResultDocuments(const json& old_doc, const json& new_doc) {
    return CompareLabelled(old_doc, "old document", new_doc, "new document");
}
