// The command line of vorp-cli, parsed into CliOptions (plan_options.h): one
// option per RunParameters field, the instruction-set cap, and the options
// of multi-run work (all methods, repetitions, sweeps, the reference row,
// output format and file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "methods.h"
#include "plan_options.h"

struct CliParseResult {
    CliOptions options;
    std::string error;  // empty when the arguments are usable
};

// Parses the arguments after the program name. `supported_isa` is the widest
// --isa value this processor offers (Sse2 to Avx512); asking for more is an
// error.
CliParseResult ParseCommandLine(const std::vector<std::string>& args, VectorIsaCap supported_isa);

// The widest --isa value of this processor and the kernel libraries.
VectorIsaCap SupportedIsaCap();

std::string CliUsage();

// Method names accepted by --method, by index.
const std::vector<std::string>& CliMethodNames();

// Limits of the multi-run options.
constexpr std::int32_t kMaxRepeat = 1000;
constexpr std::int32_t kMaxWarmup = 100;
constexpr double kMaxMinTimeSeconds = 3600;
