#include "run_plan.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace {
// A whole number in [low, high], nothing else.
std::optional<std::int32_t> ParseBounded(const std::string& text, long long low, long long high) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
    return static_cast<std::int32_t>(value);
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
            result.error = option + ": expected whole numbers from " + std::to_string(low) + " to " +
                           std::to_string(high) + " separated by commas, got '" + text + "'";
            return result;
        }
        result.values.push_back(*value);
    }
    return result;
}

ListParse ParseSizeRange(const std::string& text) {
    ListParse result;
    const std::vector<std::string> fields = Split(text, ':');
    const auto from = fields.size() == 3 ? ParseBounded(fields[0], kMinOrder, kMaxOrder) : std::nullopt;
    const auto to = fields.size() == 3 ? ParseBounded(fields[1], kMinOrder, kMaxOrder) : std::nullopt;
    const auto step = fields.size() == 3 ? ParseBounded(fields[2], 1, kMaxOrder) : std::nullopt;
    if (!from || !to || !step) {
        result.error = "--sizes: expected FROM:TO:STEP with orders from 1 to 46340 and a step of "
                       "at least 1, got '" + text + "'";
    } else if (*from > *to) {
        result.error = "--sizes: FROM must not exceed TO, got '" + text + "'";
    } else if ((*to - *from) / *step + 1 > static_cast<std::int32_t>(kMaxListEntries)) {
        result.error = "--sizes: '" + text + "' gives more than " +
                       std::to_string(kMaxListEntries) + " sizes";
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

std::vector<PlannedPoint> ExpandPlan(const CliOptions& options) {
    const std::vector<std::int32_t> sizes =
        options.sizes.empty() ? std::vector<std::int32_t>{options.params.n} : options.sizes;
    const std::vector<std::int32_t> thread_counts = options.thread_counts.empty()
                                                        ? std::vector<std::int32_t>{options.params.threads}
                                                        : options.thread_counts;
    std::vector<std::int32_t> methods{options.params.method};
    if (options.all_methods) {
        methods.clear();
        for (std::int32_t m = 0; m < kMethodCount; ++m) methods.push_back(m);
    }
    std::vector<PlannedPoint> plan;
    for (const std::int32_t n : sizes) {
        for (const std::int32_t threads : thread_counts) {
            PlannedPoint point;
            point.params = options.params;
            point.params.n = n;
            point.params.threads = threads;
            for (const std::int32_t method : methods) {
                point.params.method = method;
                plan.push_back(point);
            }
            if (options.reference) {
                point.reference = true;
                point.params.method = kMethodClassic;  // the layout the reference reads
                plan.push_back(point);
            }
        }
    }
    return plan;
}

std::size_t TotalRuns(const std::vector<PlannedPoint>& plan, const CliOptions& options) {
    return plan.size() * static_cast<std::size_t>(options.warmup + options.repeat);
}

std::string PointMethodKey(const PlannedPoint& point) {
    if (point.reference) return "openblas";
    return CliMethodNames()[static_cast<std::size_t>(point.params.method)];
}

RunParameters NormalisedParameters(const PlannedPoint& point) {
    RunParameters p = point.params;
    NormaliseOrderAndBlock(p.n, p.l_block);
    NormaliseThreading(p.n, p.threads, p.chunk);
    return p;
}
