// The machine's limits as vorp-cli shows them (--limits): the table of
// peaks and bandwidth, their lines in the context ("# limit: 512-bit mul+add
// peak, 2 threads: 251.3 GFLOPS", which scripts/plot draws), their JSON, and
// each point's share of the peak it is read against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "machine_limits.h"
#include "plan_options.h"
#include "run_results.h"

// The team sizes the limits are measured for: 1 and the plan's thread
// counts (--threads or --threads-list); 1 and the usable cores when only
// one thread was asked.
std::vector<std::int32_t> LimitThreadCounts(const CliOptions& options, std::int32_t usable_cores);

// One row per limit: name, threads, median, best, CV, noisy, what ran; then
// which limit is the ceiling of the bit-exact kernels.
std::string FormatLimitsTable(const MachineLimits& limits);

// "limit" lines of the context, as key and value: "512-bit mul+add peak, 2
// threads" and "251.3 GFLOPS".
std::vector<std::pair<std::string, std::string>> LimitContextItems(const MachineLimits& limits);
nlohmann::json LimitsJson(const MachineLimits& limits);

// The peak a point is read against: method 4 against the mul+add peak of the
// width its kernel uses; methods 0 to 3 against the peak of the hot-loop
// clone the loader picks (256-bit where AVX2 and FMA run: fused for hp and
// block-cache, whose loops the compiler may contract; else 128-bit); the
// reference against the widest fused multiply-add peak; all of the point's
// own thread count. Null when that was not measured.
const LimitMeasurement* PeakForPoint(const MachineLimits& limits, const PointResult& point,
                                     const PointSummary& summary);
// The point's median GFLOPS over that peak's median.
std::optional<double> PeakShare(const MachineLimits& limits, const PointResult& point,
                                const PointSummary& summary);

// Operations per byte methods 0 and 1 move from memory once B (8 n^2 bytes)
// exceeds the last-level cache: a multiply and an add for each 8-byte
// element of B they stream (docs/methods.md).
constexpr double kStreamingOperationsPerByte = 0.25;
// The memory bound of methods 0 and 1 in GFLOPS: the triad bandwidth of the
// point's threads times kStreamingOperationsPerByte; nothing for the other
// methods, or when B fits `last_level_cache_bytes` (0: unknown) and stays
// in cache.
std::optional<double> BandwidthBoundGflops(const MachineLimits& limits, const PointResult& point,
                                           std::uint64_t last_level_cache_bytes);
// "32768K", "1M" as the kernel writes cache sizes, in bytes; 0 when unknown.
std::uint64_t CacheBytes(const std::string& size);
