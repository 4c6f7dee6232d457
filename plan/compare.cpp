#include "compare.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_context.h"
#include "run_results.h"
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
    json context = json::object();
    bool interrupted = false;
    std::vector<ResultPoint> points;
};

template <typename... Values>
std::string Formatted(const char* format, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// A terminal of this many columns shows every line unbroken.
constexpr std::size_t kLineWidth = 100;

// What identifies a point, in the order the rows show them.
enum class Field { Method, Order, Block, Threads };
constexpr Field kFields[] = {Field::Method, Field::Order, Field::Block, Field::Threads};

const char* FieldName(Field field) {
    switch (field) {
        case Field::Method:
            return "method";
        case Field::Order:
            return "n";
        case Field::Block:
            return "l_block";
        case Field::Threads:
            return "threads";
    }
    return "";
}

std::string FieldValue(const ResultPoint& point, Field field) {
    switch (field) {
        case Field::Method:
            return point.method;
        case Field::Order:
            return std::to_string(point.n);
        case Field::Block:
            return std::to_string(point.l_block);
        case Field::Threads:
            return std::to_string(point.threads);
    }
    return "";
}

// The field --match lets differ, if any.
std::optional<Field> FreeField(CompareMatch match) {
    switch (match) {
        case CompareMatch::Method:
            return Field::Method;
        case CompareMatch::Threads:
            return Field::Threads;
        case CompareMatch::Order:
            return Field::Order;
        case CompareMatch::Exact:
            break;
    }
    return std::nullopt;
}

const char* MatchName(CompareMatch match) {
    const std::optional<Field> free = FreeField(match);
    return free ? FieldName(*free) : "";
}

bool SameValue(const ResultPoint& a, const ResultPoint& b, Field field) {
    switch (field) {
        case Field::Method:
            return a.method == b.method;
        case Field::Order:
            return a.n == b.n;
        case Field::Block:
            return a.l_block == b.l_block;
        case Field::Threads:
            return a.threads == b.threads;
    }
    return false;
}

bool Pairable(const ResultPoint& a, const ResultPoint& b, CompareMatch match) {
    const std::optional<Field> free = FreeField(match);
    for (const Field field : kFields) {
        if (field != free && !SameValue(a, b, field)) return false;
    }
    return true;
}

// The value of `field` in both points: "2", or "1->2" when they differ.
std::string PairedValue(const ResultPoint& before, const ResultPoint& after, Field field) {
    const std::string old_value = FieldValue(before, field);
    return SameValue(before, after, field) ? old_value
                                           : old_value + "->" + FieldValue(after, field);
}

// "hp n 500 l_block 64 threads 1->2".
std::string PairName(const ResultPoint& before, const ResultPoint& after) {
    std::string name = PairedValue(before, after, Field::Method);
    for (const Field field : {Field::Order, Field::Block, Field::Threads}) {
        name += std::string(" ") + FieldName(field) + " " + PairedValue(before, after, field);
    }
    return name;
}

std::string PointName(const ResultPoint& point) { return PairName(point, point); }

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
    if (!version->is_number_integer() || version->get<long long>() < kOldestComparedSchemaVersion ||
        version->get<long long>() > kResultsSchemaVersion) {
        return "its schema_version is " + version->dump() +
               Formatted(", expected %d to %d", kOldestComparedSchemaVersion,
                         kResultsSchemaVersion);
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
    if (context != doc.end() && context->is_object()) document.context = *context;
    const auto interrupted = doc.find("interrupted");
    document.interrupted =
        interrupted != doc.end() && interrupted->is_boolean() && interrupted->get<bool>();
    return {};
}

// ---- The context: every value that differs.

// Context keys that differ between any two runs and say nothing of the figures.
const char* const kUntoldContextKeys[] = {"date", "command"};

struct ContextDifference {
    std::string key;  // "cpu_model", "environment.OMP_PROC_BIND"
    std::string before, after;
};

// A context value as a reader wants it: strings bare, null as "none".
std::string ContextValue(const json* value) {
    if (!value) return "absent";
    if (value->is_null()) return "none";
    if (value->is_string()) {
        const std::string& text = value->get_ref<const std::string&>();
        return text.empty() ? "\"\"" : text;
    }
    return value->dump();
}

const json* Member(const json* object, const std::string& key) {
    if (!object || !object->is_object()) return nullptr;
    const auto found = object->find(key);
    return found == object->end() ? nullptr : &*found;
}

// Objects are walked down to the values that differ (an absent object as an
// empty one); anything else is compared whole.
void DifferencesOf(const json* before, const json* after, const std::string& key,
                   std::vector<ContextDifference>& differences) {
    const bool walk_before = !before || before->is_object(),
               walk_after = !after || after->is_object();
    if ((before || after) && walk_before && walk_after) {
        std::vector<std::string> keys;
        for (const json* side : {before, after}) {
            if (!side) continue;
            for (const auto& item : side->items()) keys.push_back(item.key());
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (const std::string& name : keys) {
            if (key.empty() &&
                std::find(std::begin(kUntoldContextKeys), std::end(kUntoldContextKeys), name) !=
                    std::end(kUntoldContextKeys)) {
                continue;
            }
            DifferencesOf(Member(before, name), Member(after, name),
                          key.empty() ? name : key + "." + name, differences);
        }
        return;
    }
    if (before && after && *before == *after) return;
    differences.push_back({key, ContextValue(before), ContextValue(after)});
}

// A document without a context gives no list: every key of the other would be in it.
std::string FormatContextDifferences(const json& before, const json& after) {
    if (before.empty() || after.empty()) {
        if (before.empty() && after.empty()) return "Context: neither document has one\n";
        return std::string("Context: the ") + (before.empty() ? "old" : "new") +
               " document has none\n";
    }
    std::vector<ContextDifference> differences;
    DifferencesOf(&before, &after, "", differences);
    if (differences.empty()) return "Context: the same (date and command line aside)\n";
    std::string text = "Context that differs, old -> new (date and command line aside):\n";
    for (const ContextDifference& d : differences) {
        const std::string line = "  " + d.key + ": " + d.before + " -> " + d.after;
        if (line.size() <= kLineWidth) {
            text += line + "\n";
        } else {
            text += "  " + d.key + ":\n    old: " + d.before + "\n    new: " + d.after + "\n";
        }
    }
    return text;
}

// ---- Pairing.

struct Pairing {
    std::vector<std::pair<std::size_t, std::size_t>> pairs;  // old index, new index; by old index
    std::vector<bool> old_paired, new_paired;
    std::vector<std::string> ambiguous;  // one line per group of several candidates
};

// Points pair when `match` finds them alike. Pairability is an equivalence,
// so the points fall into groups; within a group the k-th old point pairs
// with the k-th new one, and a group of more than one on a side is told.
Pairing PairPoints(const std::vector<ResultPoint>& before, const std::vector<ResultPoint>& after,
                   CompareMatch match) {
    Pairing pairing;
    pairing.old_paired.assign(before.size(), false);
    pairing.new_paired.assign(after.size(), false);
    std::vector<bool> grouped(before.size(), false);
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (grouped[i]) continue;
        std::vector<std::size_t> olds, news;
        for (std::size_t j = i; j < before.size(); ++j) {
            if (!grouped[j] && Pairable(before[i], before[j], match)) {
                grouped[j] = true;
                olds.push_back(j);
            }
        }
        for (std::size_t k = 0; k < after.size(); ++k) {
            if (Pairable(before[i], after[k], match)) news.push_back(k);
        }
        for (std::size_t t = 0; t < olds.size() && t < news.size(); ++t) {
            pairing.pairs.emplace_back(olds[t], news[t]);
            pairing.old_paired[olds[t]] = pairing.new_paired[news[t]] = true;
        }
        if (!news.empty() && (olds.size() > 1 || news.size() > 1)) {
            std::string alike;
            const std::optional<Field> free = FreeField(match);
            for (const Field field : kFields) {
                if (field == free) continue;
                alike += std::string(alike.empty() ? "" : ", ") + FieldName(field) + " " +
                         FieldValue(before[i], field);
            }
            pairing.ambiguous.push_back(
                Formatted("  %zu old and %zu new points with ", olds.size(), news.size()) + alike +
                "\n");
        }
    }
    std::sort(pairing.pairs.begin(), pairing.pairs.end());
    return pairing;
}

// ---- Verdicts and rows.

enum class Call { NoProduct, TooFewRuns, Same, Faster, Slower };

const char* CallText(Call call) {
    switch (call) {
        case Call::NoProduct:
            return "no product";
        case Call::TooFewRuns:
            return "too few runs";
        case Call::Same:
            return "same";
        case Call::Faster:
            return "faster";
        case Call::Slower:
            return "slower";
    }
    return "";
}

struct Verdict {
    Call call = Call::NoProduct;
    std::optional<double> p_value;
};

Verdict Judge(const ResultPoint& before, const ResultPoint& after) {
    if (!before.median_seconds || !after.median_seconds) return {Call::NoProduct, {}};
    if (SmallestRankTestP(before.seconds.size(), after.seconds.size()) >= kCompareSignificance) {
        return {Call::TooFewRuns, {}};
    }
    const RankTest test = MannWhitneyU(after.seconds, before.seconds);
    if (test.p_value >= kCompareSignificance) return {Call::Same, test.p_value};
    // U counts pairs where the new duration is the longer one.
    const double centre = static_cast<double>(after.seconds.size() * before.seconds.size()) / 2;
    return {test.u < centre ? Call::Faster : Call::Slower, test.p_value};
}

std::optional<double> Ratio(const ResultPoint& before, const ResultPoint& after) {
    if (!before.median_seconds || !after.median_seconds || !(*before.median_seconds > 0)) {
        return std::nullopt;
    }
    return *after.median_seconds / *before.median_seconds;
}

std::string SecondsOrDash(const std::optional<double>& seconds) {
    return seconds ? Formatted("%.5g", *seconds) : "-";
}

using Cells = std::vector<std::string>;

Cells RowCells(const ResultPoint& before, const ResultPoint& after, const Verdict& verdict) {
    const std::optional<double> ratio = Ratio(before, after);
    std::string p = "-";
    if (verdict.p_value) {
        p = *verdict.p_value < 0.001 ? "<0.001" : Formatted("%.3f", *verdict.p_value);
    }
    Cells cells;
    for (const Field field : kFields) cells.push_back(PairedValue(before, after, field));
    cells.push_back(SecondsOrDash(before.median_seconds));
    cells.push_back(SecondsOrDash(after.median_seconds));
    cells.push_back(ratio ? Formatted("%.3f", *ratio) : "-");
    cells.push_back(p);
    cells.push_back(CallText(verdict.call));
    return cells;
}

// The method left-aligned, the figures right-aligned, the verdict last; each
// column as wide as its widest cell, and at least as wide as here.
std::string FormatTable(const std::vector<Cells>& rows) {
    std::vector<std::size_t> widths = {14, 6, 7, 7, 12, 12, 7, 6};
    for (const Cells& row : rows) {
        for (std::size_t i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const Cells& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const std::string padding(widths[i] - row[i].size(), ' ');
            line += (i == 0 ? row[i] + padding : padding + row[i]) + "  ";
        }
        text += line + row.back() + "\n";
    }
    return text;
}

std::string Plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// Why nothing paired: the identifying values each document holds where they
// differ, and which --match would pair points.
std::string NothingPairedHint(const ResultDocument& before, const ResultDocument& after,
                              CompareMatch match) {
    if (before.points.empty() && after.points.empty()) return "Neither document holds a point.\n";
    if (before.points.empty() || after.points.empty()) {
        return std::string("The ") + (before.points.empty() ? "old" : "new") +
               " document holds no point.\n";
    }
    // The values of `field` in the order they first appear, joined by commas.
    const auto values_of = [](const std::vector<ResultPoint>& points, Field field) {
        std::vector<std::string> seen;
        for (const ResultPoint& point : points) {
            const std::string value = FieldValue(point, field);
            if (std::find(seen.begin(), seen.end(), value) == seen.end()) seen.push_back(value);
        }
        std::string list;
        for (const std::string& value : seen) list += (list.empty() ? "" : ",") + value;
        std::sort(seen.begin(), seen.end());
        return std::make_pair(list, seen);
    };
    std::string values;
    for (const Field field : kFields) {
        const auto [old_list, old_set] = values_of(before.points, field);
        const auto [new_list, new_set] = values_of(after.points, field);
        if (old_set == new_set) continue;
        values +=
            std::string("  ") + FieldName(field) + ": old " + old_list + "; new " + new_list + "\n";
    }
    const std::string text =
        values.empty() ? "Both hold the same values of method, n, l_block and threads, in other "
                         "combinations.\n"
                       : "The values that differ:\n" + values;
    std::string offers;
    for (const CompareMatch other :
         {CompareMatch::Method, CompareMatch::Threads, CompareMatch::Order}) {
        if (other == match) continue;
        const std::size_t pairs = PairPoints(before.points, after.points, other).pairs.size();
        if (pairs == 0) continue;
        offers += std::string(offers.empty() ? "" : " or ") + "--match " + MatchName(other) +
                  " (pairs " + Plural(pairs, "point") + ")";
    }
    if (offers.empty()) {
        return text +
               "No --match pairs them: every old point differs from every new one in l_block\n"
               "or in more than one of method, n and threads.\n";
    }
    return text + "Try " + offers + ".\n";
}

std::string FormatHeader(const ResultDocument& before, const ResultDocument& after,
                         CompareMatch match) {
    std::string text = "old: " + before.label + (before.interrupted ? " (interrupted)" : "") + "\n";
    text += "new: " + after.label + (after.interrupted ? " (interrupted)" : "") + "\n";
    text += FormatContextDifferences(before.context, after.context);
    if (const std::optional<Field> free = FreeField(match)) {
        std::vector<const char*> alike;
        for (const Field field : kFields) {
            if (field != *free) alike.push_back(FieldName(field));
        }
        text += std::string("Points paired on ") + alike[0] + ", " + alike[1] + " and " + alike[2] +
                "; " + FieldName(*free) + " may differ (--match " + MatchName(match) + ")\n";
    }
    return text;
}

struct Comparison {
    std::string text;
    bool paired = false;  // some point paired
    bool slower = false;  // some pair judged slower
};

Comparison CompareDocuments(const ResultDocument& before, const ResultDocument& after,
                            CompareMatch match) {
    const Pairing pairing = PairPoints(before.points, after.points, match);
    Comparison comparison;
    comparison.text = FormatHeader(before, after, match);
    std::string& text = comparison.text;

    std::vector<Cells> rows = {{"method", "n", "l_block", "threads", "old median s", "new median s",
                                "new/old", "p", "verdict"}};
    std::vector<double> ratios;
    std::size_t calls[static_cast<int>(Call::Slower) + 1] = {};         // by Call
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> scarce;  // run counts: points
    std::string noisy;
    for (const auto& [i, k] : pairing.pairs) {
        const ResultPoint &old_point = before.points[i], &new_point = after.points[k];
        const Verdict verdict = Judge(old_point, new_point);
        rows.push_back(RowCells(old_point, new_point, verdict));
        ++calls[static_cast<int>(verdict.call)];
        if (const std::optional<double> ratio = Ratio(old_point, new_point); ratio && *ratio > 0) {
            ratios.push_back(*ratio);
        }
        if (verdict.call == Call::TooFewRuns) {
            ++scarce[{old_point.seconds.size(), new_point.seconds.size()}];
        }
        const double old_cv = Describe(old_point.seconds).cv,
                     new_cv = Describe(new_point.seconds).cv;
        if (old_cv > kNoisyCv || new_cv > kNoisyCv) {
            noisy += "  " + PairName(old_point, new_point) +
                     Formatted(": CV %.1f %% old, %.1f %% new\n", old_cv * 100, new_cv * 100);
        }
    }
    comparison.paired = !pairing.pairs.empty();
    comparison.slower = calls[static_cast<int>(Call::Slower)] > 0;

    if (!comparison.paired) {
        text += std::string("No point is in both documents") +
                (match == CompareMatch::Exact
                     ? ""
                     : std::string(", even with --match ") + MatchName(match)) +
                ".\n" + NothingPairedHint(before, after, match);
    } else {
        text += Formatted(
                    "Medians in seconds, ratio new/old (below 1 is faster); verdict from a "
                    "two-sided Mann-Whitney\nU test at p < %.2f, which needs %zu or more runs "
                    "a side\n",
                    kCompareSignificance, RankTestRunsNeeded(kCompareSignificance)) +
                FormatTable(rows);
        const double mean = GeometricMean(ratios);
        if (!ratios.empty() && std::isfinite(mean)) {
            text += Formatted("Geometric mean of new/old over %s: %.3f (speed-up %.3fx)\n",
                              Plural(ratios.size(), "point").c_str(), mean, 1 / mean);
        }
        std::string counts;
        for (const Call call :
             {Call::Slower, Call::Faster, Call::Same, Call::TooFewRuns, Call::NoProduct}) {
            const std::size_t count = calls[static_cast<int>(call)];
            if (count > 0) {
                counts +=
                    (counts.empty() ? "" : ", ") + std::to_string(count) + " " + CallText(call);
            }
        }
        text += "Verdicts: " + counts + "\n";
    }
    if (!scarce.empty()) {
        text += Formatted(
            "too few runs: a verdict needs %zu or more runs a side; p cannot go "
            "below\n",
            RankTestRunsNeeded(kCompareSignificance));
        for (const auto& [runs, points] : scarce) {
            text += Formatted("  %.2g with %zu old and %zu new runs (%s)\n",
                              SmallestRankTestP(runs.first, runs.second), runs.first, runs.second,
                              Plural(points, "point").c_str());
        }
    }
    if (!noisy.empty()) {
        text += Formatted(
                    "noisy, CV above %.0f %% (the verdict may show the machine's load rather "
                    "than the change):\n",
                    kNoisyCv * 100) +
                noisy;
    }
    if (!pairing.ambiguous.empty()) {
        text += "ambiguous, several candidates, paired in document order:\n";
        for (const std::string& line : pairing.ambiguous) text += line;
    }
    for (std::size_t i = 0; i < before.points.size(); ++i) {
        if (!pairing.old_paired[i]) text += "only in old: " + PointName(before.points[i]) + "\n";
    }
    for (std::size_t k = 0; k < after.points.size(); ++k) {
        if (!pairing.new_paired[k]) text += "only in new: " + PointName(after.points[k]) + "\n";
    }
    return comparison;
}

CompareOutcome Unusable(const std::string& label, const std::string& problem) {
    return {kCompareUnusable, {}, label + ": not a vorp-cli result document: " + problem};
}

CompareOutcome CompareLabelled(const json& old_doc, const std::string& old_label,
                               const json& new_doc, const std::string& new_label,
                               CompareMatch match) {
    ResultDocument before, after;
    before.label = old_label;
    after.label = new_label;
    if (const std::string problem = ReadDocument(old_doc, before); !problem.empty()) {
        return Unusable(old_label, problem);
    }
    if (const std::string problem = ReadDocument(new_doc, after); !problem.empty()) {
        return Unusable(new_label, problem);
    }
    Comparison comparison = CompareDocuments(before, after, match);
    const int status = !comparison.paired  ? kCompareNothingPaired
                       : comparison.slower ? kCompareSlower
                                           : kCompareNoneSlower;
    return {status, std::move(comparison.text), {}};
}

// A document of the widest sweep takes a few megabytes; the cap keeps an
// endless or enormous input (/dev/zero, a pipe from yes) from taking all memory.
constexpr std::size_t kMaxResultFileBytes = std::size_t{64} << 20;

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
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (got > kMaxResultFileBytes - text.size()) {
            error = path + ": more than " + std::to_string(kMaxResultFileBytes >> 20) +
                    " MiB, too large for a vorp-cli result document";
            return std::nullopt;
        }
        text.append(buffer, got);
    }
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

// `reading`: the file being read when memory ran out, or null while comparing.
CompareOutcome OutOfMemory(const std::string* reading, const std::string& old_path,
                           const std::string& new_path) {
    if (reading) return {kCompareUnusable, {}, "cannot read " + *reading + ": not enough memory"};
    return {kCompareUnusable, {}, "not enough memory to compare " + old_path + " with " + new_path};
}
}  // namespace

CompareOutcome CompareResultFiles(const std::string& old_path, const std::string& new_path,
                                  CompareMatch match) {
    std::string error;
    const std::string* reading = &old_path;
    try {
        const std::optional<json> old_doc = ParseFile(old_path, error);
        if (!old_doc) return {kCompareUnusable, {}, error};
        reading = &new_path;
        const std::optional<json> new_doc = ParseFile(new_path, error);
        if (!new_doc) return {kCompareUnusable, {}, error};
        reading = nullptr;
        return CompareLabelled(*old_doc, old_path, *new_doc, new_path, match);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(reading, old_path, new_path);
    } catch (const std::length_error&) {
        return OutOfMemory(reading, old_path, new_path);
    }
}

CompareOutcome CompareResultDocuments(const json& old_doc, const json& new_doc,
                                      CompareMatch match) {
    return CompareLabelled(old_doc, "old document", new_doc, "new document", match);
}
