// The command line of vorp-cli: one option per RunParameters field, plus the
// instruction-set cap, --help and --version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run_parameters.h"

struct CliOptions {
    RunParameters params;
    std::int32_t isa_cap = 2;  // highest IsaLevel method 4 may use
    bool show_help = false;
    bool show_version = false;
};

struct CliParseResult {
    CliOptions options;
    std::string error;  // empty when the arguments are usable
};

// Parses the arguments after the program name. `supported_isa` is the highest
// IsaLevel this processor offers; asking --isa for more is an error.
CliParseResult ParseCommandLine(const std::vector<std::string>& args, std::int32_t supported_isa);

std::string CliUsage();

// Method names accepted by --method, by index.
const std::vector<std::string>& CliMethodNames();
