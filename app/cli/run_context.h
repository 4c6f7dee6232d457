// The context of a set of results: what program, machine and build produced
// them. JSON holds it as its "context" object; text and CSV output print it
// to standard error.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "cli_options.h"

// Raised when a field is added, renamed or changes meaning.
constexpr int kResultsSchemaVersion = 1;

struct RunContext {
    std::string program = "vorp-cli";
    std::string version;
    std::string date;       // UTC, ISO 8601: 2024-05-01T12:00:00Z
    std::string cpu_model;  // from /proc/cpuinfo, "unknown" when absent
    std::int32_t isa_level = 0;  // the level method 4 takes on this machine, after --isa
    std::string isa_name;        // "SSE2", "AVX", "AVX+FMA3"
    std::string kernel_form;     // what method 4 runs at that level
    std::vector<std::int32_t> threads;  // the thread counts asked for
    std::int32_t warmup = 0;
    std::int32_t repeat = 1;
    std::string compiler;
    std::string build_type;
    std::string reference;  // the reference BLAS and its configuration, or empty
};

// The "model name" of the first processor in a /proc/cpuinfo text, reduced to
// printable ASCII; "unknown" when there is none.
std::string CpuModelFrom(const std::string& cpuinfo);

std::string IsoDateUtc(std::time_t when);

// Gathers the context for `options` now (reads /proc/cpuinfo and the clock).
RunContext CollectRunContext(const CliOptions& options);
