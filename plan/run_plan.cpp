#include "run_plan.h"

#include <algorithm>
#include <optional>

#include "method_table.h"
#include "whole_number.h"

namespace {
// A whole number in [low, high], nothing else.
std::optional<std::int32_t> ParseBounded(const std::string& text, long long low, long long high) {
    const auto value = ParseWholeNumber(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

ListParse ParseCommaList(const std::string& option, const std::string& text, long long low,
                         long long high) {
    ListParse result;
    const std::vector<std::string> items = Split(text, ',');
    if (items.size() > kMaxListEntries) {
        result.error = option + ": more than " + std::to_string(kMaxListEntries) + " entries";
        return result;
    }
    for (const std::string& item : items) {
        const auto value = ParseBounded(item, low, high);
        if (!value) {
            result.error = option + ": expected whole numbers from " + std::to_string(low) +
                           " to " + std::to_string(high) + " separated by commas, got '" + text +
                           "'";
            return result;
        }
        result.values.push_back(*value);
    }
    return result;
}

ListParse ParseSizeRange(const std::string& text) {
    ListParse result;
    const std::vector<std::string> fields = Split(text, ':');
    const auto from =
        fields.size() == 3 ? ParseBounded(fields[0], kMinOrder, kMaxOrder) : std::nullopt;
    const auto to =
        fields.size() == 3 ? ParseBounded(fields[1], kMinOrder, kMaxOrder) : std::nullopt;
    const auto step = fields.size() == 3 ? ParseBounded(fields[2], 1, kMaxOrder) : std::nullopt;
    if (!from || !to || !step) {
        result.error =
            "--sizes: expected FROM:TO:STEP with orders from 1 to 46340 and a step of "
            "at least 1, got '" +
            text + "'";
    } else if (*from > *to) {
        result.error = "--sizes: FROM must not exceed TO, got '" + text + "'";
    } else if ((*to - *from) / *step + 1 > static_cast<std::int32_t>(kMaxListEntries)) {
        result.error =
            "--sizes: '" + text + "' gives more than " + std::to_string(kMaxListEntries) + " sizes";
    } else {
        for (std::int32_t n = *from; n <= *to; n += *step) {
            result.values.push_back(n);
            if (*to - n < *step) break;  // the next step would pass TO (and might overflow)
        }
    }
    return result;
}
}  // namespace

ListParse ParseSizeList(const std::string& text) {
    if (text.find(':') != std::string::npos) return ParseSizeRange(text);
    return ParseCommaList("--sizes", text, kMinOrder, kMaxOrder);
}

ListParse ParseThreadList(const std::string& text) {
    return ParseCommaList("--threads-list", text, kMinThreads, kMaxThreads);
}

namespace {
bool RunsOnOneThread(std::int32_t method) { return !FindMethod(method)->parallel; }

std::vector<std::int32_t> PlannedMethods(const CliOptions& options) {
    if (!options.methods.empty()) return options.methods;
    if (!options.all_methods) return {options.params.method};
    std::vector<std::int32_t> methods;
    for (std::int32_t m = 0; m < kMethodCount; ++m) methods.push_back(m);
    return methods;
}

// What the run's normalisation does to n and l_block, or nothing.
std::vector<std::string> NormalisationNotes(std::int32_t n, std::int32_t l_block) {
    RunParameters asked;
    asked.n = n;
    asked.l_block = l_block;
    const RunParameters run = Normalised(asked);
    const std::int32_t run_n = run.n, run_block = run.l_block;
    std::vector<std::string> notes;
    if (run_block != l_block) {
        const bool lowered = l_block - l_block % 4 > n;
        notes.push_back("--l-block " + std::to_string(l_block) + " runs as " +
                        std::to_string(run_block) +
                        (lowered ? ": lowered to n " + std::to_string(n) : ": a multiple of 4"));
    }
    if (run_n != n) {
        notes.push_back("-n " + std::to_string(n) + " runs as " + std::to_string(run_n) +
                        ": a multiple of l_block " + std::to_string(run_block));
    }
    return notes;
}

bool SameRun(const PlannedPoint& a, const PlannedPoint& b) {
    const RunParameters x = NormalisedParameters(a), y = NormalisedParameters(b);
    return a.reference == b.reference && a.library == b.library && x.method == y.method &&
           x.n == y.n && x.l_block == y.l_block && x.threads == y.threads && x.chunk == y.chunk;
}

void AddNote(Plan& plan, const std::string& note) {
    for (const std::string& known : plan.notes) {
        if (known == note) return;
    }
    plan.notes.push_back(note);
}

// Appends `point` unless an earlier point runs the same, and notes that.
// Returns whether it was appended.
bool AddPoint(Plan& plan, const PlannedPoint& point) {
    for (const PlannedPoint& earlier : plan.points) {
        if (!SameRun(earlier, point)) continue;
        if (earlier.params.n != point.params.n) {
            AddNote(plan, "-n " + std::to_string(point.params.n) + " runs as " +
                              std::to_string(NormalisedParameters(point).n) + ", as -n " +
                              std::to_string(earlier.params.n) + " does: its points run once");
        }
        return false;
    }
    plan.points.push_back(point);
    return true;
}
}  // namespace

Plan ExpandPlan(const CliOptions& options) {
    const std::vector<std::int32_t> sizes =
        options.sizes.empty() ? std::vector<std::int32_t>{options.params.n} : options.sizes;
    const bool thread_sweep = !options.thread_counts.empty();
    const std::vector<std::int32_t> thread_counts =
        thread_sweep ? options.thread_counts : std::vector<std::int32_t>{options.params.threads};
    Plan plan;
    for (const std::int32_t n : sizes) {
        const std::size_t notes_before = plan.notes.size();
        bool added = false;
        for (std::size_t t = 0; t < thread_counts.size(); ++t) {
            PlannedPoint point;
            point.params = options.params;
            point.params.n = n;
            point.params.threads = thread_counts[t];
            for (const std::int32_t method : PlannedMethods(options)) {
                point.params.method = method;
                // A single-thread method runs (and is labelled) on one thread;
                // in a thread sweep once.
                if (RunsOnOneThread(method)) {
                    if (thread_sweep && t > 0) continue;
                    point.params.threads = 1;
                }
                added = AddPoint(plan, point) || added;
                point.params.threads = thread_counts[t];
            }
            if (options.reference) {
                point.reference = true;
                point.library = options.reference_library;
                point.params.method = kMethodClassic;  // the layout the reference reads
                added = AddPoint(plan, point) || added;
            }
        }
        // A size whose points all ran before has its note already.
        if (!added) continue;
        std::vector<std::string> notes;
        for (const std::string& note : NormalisationNotes(n, options.params.l_block)) {
            if (std::find(plan.notes.begin(), plan.notes.end(), note) == plan.notes.end()) {
                notes.push_back(note);
            }
        }
        plan.notes.insert(plan.notes.begin() + static_cast<std::ptrdiff_t>(notes_before),
                          notes.begin(), notes.end());
    }
    return plan;
}

bool IsMultiRun(const CliOptions& options, const Plan& plan) {
    return plan.points.size() > 1 || options.warmup > 0 || options.repeat > 1 ||
           options.min_time_seconds > 0;
}

std::string PointMethodKey(const PlannedPoint& point) {
    if (point.reference) return ReferenceName(point.library);
    return MethodTable()[static_cast<std::size_t>(point.params.method)].key;
}

RunParameters NormalisedParameters(const PlannedPoint& point) { return Normalised(point.params); }
