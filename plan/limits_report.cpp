#include "limits_report.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "methods.h"
#include "processor_info.h"
#include "run_parameters.h"

namespace {
std::string Formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// What ran, in a few words (the JSON document has it in full).
std::string ShortWhatRan(const LimitMeasurement& m) {
    if (m.kind == LimitKind::kTriad) {
        return "3 arrays of " + std::to_string((m.array_elements * 8) >> 20) + " MiB";
    }
    return std::to_string(m.accumulators) + " accumulators, " +
           (m.instructions == PeakInstructions::kFusedMulAdd ? "fused" : "mul and add apart");
}

std::string Flags(const LimitMeasurement& m) {
    std::string flags = m.noisy ? "noisy" : "";
    if (m.cpu_short) flags += flags.empty() ? "cpu" : " cpu";
    return flags;
}

// The peak that bounds what ran: method 4's kernel width, mul+add; methods 0
// to 3 run the loader's choice of their hot loops, the x86-64-v3 clone
// (256-bit, and fused where hp and block-cache let the compiler contract)
// where AVX2 and FMA run, else the baseline (128-bit SSE2).
struct Yardstick {
    std::int32_t bits;
    PeakInstructions instructions;
};
Yardstick YardstickOf(const PointResult& point, const PointSummary& summary) {
    if (summary.isa_level) {
        const std::string set = VectorPackInstructionSet(*summary.isa_level);
        return {set == "AVX-512" ? 512 : set == "AVX" ? 256 : 128, PeakInstructions::kMulAdd};
    }
    if (SupportedIsaLevel() < kIsaAvxFma3) return {128, PeakInstructions::kMulAdd};
    const bool contracted =
        point.shown.method == kMethodHp || point.shown.method == kMethodBlockCache;
    return {256, contracted ? PeakInstructions::kFusedMulAdd : PeakInstructions::kMulAdd};
}
}  // namespace

std::vector<std::int32_t> LimitThreadCounts(const CliOptions& options, std::int32_t usable_cores) {
    std::set<std::int32_t> counts = {1};
    if (!options.thread_counts.empty()) {
        counts.insert(options.thread_counts.begin(), options.thread_counts.end());
    } else if (options.params.threads > 1) {
        counts.insert(options.params.threads);
    } else {
        counts.insert(std::max(usable_cores, 1));
    }
    return {counts.begin(), counts.end()};
}

std::string FormatLimitsTable(const MachineLimits& limits) {
    std::string text =
        "Limits of this machine: the whole team's rate per sample, on the fine clock\n";
    char line[512];
    std::snprintf(line, sizeof line, "%-24s %3s %9s %9s %5s %-9s %s\n", "limit", "thr", "median",
                  "best", "cv%", "flags", "what ran");
    text += line;
    for (const LimitMeasurement& m : limits.measurements) {
        std::snprintf(line, sizeof line, "%-24s %3d %9.4g %9.4g %5.1f %-9s %s\n", m.name.c_str(),
                      m.threads, m.median, m.best, 100 * m.cv, Flags(m).c_str(),
                      ShortWhatRan(m).c_str());
        text += line;
        if (!m.problem.empty()) text += "    " + m.problem + "\n";
    }
    text += "Peaks in GFLOPS, the triad in GB/s (what each loop ran: --format json). ";
    if (!limits.bit_exact_ceiling.empty()) {
        text += "The " + limits.bit_exact_ceiling +
                " is the ceiling of the bit-exact kernels (they never fuse the multiply and the "
                "add).\n";
    } else {
        text += "\n";
    }
    text +=
        "Flags: noisy (CV above 5%), cpu (the team got under 80% of its cores: other processes "
        "took them).\n";
    text += Formatted("Measured in %.1f s.\n", limits.seconds);
    return text;
}

std::vector<std::pair<std::string, std::string>> LimitContextItems(const MachineLimits& limits) {
    std::vector<std::pair<std::string, std::string>> items;
    for (const LimitMeasurement& m : limits.measurements) {
        items.emplace_back("limit",
                           LimitLabel(m) + ": " + Formatted("%.4g", m.median) + " " + m.unit);
    }
    if (!limits.bit_exact_ceiling.empty())
        items.emplace_back("bit-exact ceiling", limits.bit_exact_ceiling);
    return items;
}

nlohmann::json LimitsJson(const MachineLimits& limits) {
    nlohmann::json measurements = nlohmann::json::array();
    for (const LimitMeasurement& m : limits.measurements) {
        nlohmann::json rates = nlohmann::json::array();
        for (const LimitSample& sample : m.samples) rates.push_back(sample.rate);
        nlohmann::json entry = {
            {"name", m.name},
            {"label", LimitLabel(m)},
            {"unit", m.unit},
            {"threads", m.threads},
            {"threads_requested", m.threads_requested},
            {"median", m.median},
            {"best", m.best},
            {"cv", m.cv},
            {"noisy", m.noisy},
            {"cpu_share", m.cpu_share > 0 ? nlohmann::json(m.cpu_share) : nlohmann::json()},
            {"cpu_short", m.cpu_short},
            {"samples", rates},
            {"what_ran", m.what_ran},
            {"seconds", m.seconds}};
        if (m.kind == LimitKind::kPeak) {
            entry["vector_bits"] = m.vector_bits;
            entry["fused"] = m.instructions == PeakInstructions::kFusedMulAdd;
            entry["accumulators"] = m.accumulators;
            entry["flops_per_iteration"] = m.flops_per_iteration;
            entry["bit_exact_ceiling"] = m.bit_exact_ceiling;
        } else {
            entry["array_elements"] = m.array_elements;
            entry["bytes_per_element"] = m.bytes_per_element;
            entry["write_allocate_counted"] = m.write_allocate_counted;
        }
        if (!m.problem.empty()) entry["problem"] = m.problem;
        measurements.push_back(entry);
    }
    return {{"measurements", measurements},
            {"bit_exact_ceiling", limits.bit_exact_ceiling.empty()
                                      ? nlohmann::json()
                                      : nlohmann::json(limits.bit_exact_ceiling)},
            {"seconds", limits.seconds}};
}

const LimitMeasurement* PeakForPoint(const MachineLimits& limits, const PointResult& point,
                                     const PointSummary& summary) {
    const LimitMeasurement* chosen = nullptr;
    const Yardstick yardstick = YardstickOf(point, summary);
    for (const LimitMeasurement& m : limits.measurements) {
        if (m.kind != LimitKind::kPeak || m.threads_requested != point.shown.threads ||
            m.median <= 0)
            continue;
        if (point.point.reference) {
            // The reference may fuse: its yardstick is the widest fused peak.
            if (m.instructions != PeakInstructions::kFusedMulAdd) continue;
            if (!chosen || m.vector_bits > chosen->vector_bits) chosen = &m;
        } else if (m.instructions == yardstick.instructions && m.vector_bits == yardstick.bits) {
            chosen = &m;
        }
    }
    return chosen;
}

std::optional<double> PeakShare(const MachineLimits& limits, const PointResult& point,
                                const PointSummary& summary) {
    const LimitMeasurement* peak = PeakForPoint(limits, point, summary);
    if (!peak || !summary.median_gflops) return std::nullopt;
    return *summary.median_gflops / peak->median;
}

std::optional<double> BandwidthBoundGflops(const MachineLimits& limits, const PointResult& point,
                                           std::uint64_t last_level_cache_bytes) {
    const bool streaming = !point.point.reference && (point.shown.method == kMethodClassic ||
                                                      point.shown.method == kMethodHp);
    const std::uint64_t b_bytes = 8 * static_cast<std::uint64_t>(point.shown.n) * point.shown.n;
    if (!streaming || last_level_cache_bytes == 0 || b_bytes <= last_level_cache_bytes)
        return std::nullopt;
    for (const LimitMeasurement& m : limits.measurements) {
        if (m.kind == LimitKind::kTriad && m.threads_requested == point.shown.threads &&
            m.median > 0) {
            return m.median * kStreamingOperationsPerByte;
        }
    }
    return std::nullopt;
}

std::uint64_t CacheBytes(const std::string& size) {
    std::size_t digits = 0;
    while (digits < size.size() && size[digits] >= '0' && size[digits] <= '9') ++digits;
    if (digits == 0 || digits + 1 != size.size()) return 0;
    const std::uint64_t value = std::stoull(size.substr(0, digits));
    const char unit = size.back();
    return unit == 'K' ? value << 10 : unit == 'M' ? value << 20 : unit == 'G' ? value << 30 : 0;
}
