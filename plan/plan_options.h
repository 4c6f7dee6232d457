// What one vorp-cli invocation asks for, as the plan, its runner, the
// results and their formats read it: one RunParameters, the multi-run
// options (all methods, repetitions, sweeps, the reference row), the output
// format and file, and --compare. cli_options.h parses the command line
// into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reference_dgemm.h"
#include "run_parameters.h"

enum class OutputFormat { Text, Csv, Json, Markdown };

// What --compare --match may let differ between the points it pairs.
enum class CompareMatch { Exact, Method, Threads, Order };

struct CliOptions {
    RunParameters params;  // params.isa_cap: the widest method 4 may use
    bool show_help = false;
    bool show_version = false;

    bool all_methods = false;           // methods 0 to 4 instead of params.method
    std::vector<std::int32_t> methods;  // --method LIST: these in turn (params.method is the first)
    std::int32_t repeat = 1;            // counted runs per point
    std::int32_t warmup = 0;            // uncounted runs before them
    bool warmup_given = false;          // else plans warm each point once
    bool verbose = false;               // plans also print each sample's report lines
    bool limits = false;                // measure the machine's peaks and bandwidth first
    bool limits_only = false;           // --limits with no option that asks for a product
    double min_time_seconds = 0;        // counted time per point at least
    bool min_time_given = false;
    OutputFormat format = OutputFormat::Text;
    std::string output_path;                  // empty: standard output
    std::vector<std::int32_t> sizes;          // empty: params.n only
    std::vector<std::int32_t> thread_counts;  // empty: params.threads only
    bool reference = false;                   // add a system BLAS dgemm row
    ReferenceLibrary reference_library = ReferenceLibrary::OpenBlas;
    bool reference_own_choice =
        false;  // OpenBLAS picks its kernel, whatever the environment forces
    std::vector<std::string>
        reference_dropped;  // NAME=VALUE the environment held and OpenBLAS did not get
    std::vector<std::string> compare_paths;  // --compare OLD NEW: nothing is run
    CompareMatch compare_match = CompareMatch::Exact;
};
