// The context of a set of results: what program, build, machine and command
// produced them, enough to reproduce a figure or explain why it differs.
// JSON holds it as its "context" object (ContextJson); text and CSV output
// give it as "# key: value" comment lines (FormatContextComments), which
// gnuplot and pandas skip. Every value written is one line of printable ASCII.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_options.h"

// Raised when a field is added, renamed or changes meaning.
constexpr int kResultsSchemaVersion = 2;

// Sizes as the kernel writes them ("48K"), "unknown" when not found.
struct CacheSizes {
    std::string l1d = "unknown";
    std::string l1i = "unknown";
    std::string l2 = "unknown";
    std::string l3 = "unknown";
};

// What uname() says.
struct KernelInfo {
    std::string sysname = "unknown";
    std::string release = "unknown";
    std::string machine = "unknown";
};

using EnvironmentList = std::vector<std::pair<std::string, std::string>>;  // sorted by name

struct RunContext {
    std::string program = "vorp-cli";
    std::string version;
    std::string commit = "unknown";  // short hash of the source tree at build time, "-dirty" if changed
    std::string date;       // UTC, ISO 8601: 2024-05-01T12:00:00Z
    std::string cpu_model = "unknown";  // from /proc/cpuinfo
    std::int32_t cores = 0;             // logical processors online, 0 when unknown
    CacheSizes caches;                  // of cpu0
    std::string os = "unknown";         // PRETTY_NAME of os-release
    KernelInfo kernel;
    std::int32_t isa_level = 0;  // the level method 4 takes on this machine, after --isa
    std::string isa_name;        // "SSE2", "AVX", "AVX+FMA3"
    std::string kernel_form;     // what method 4 runs at that level
    std::vector<std::int32_t> threads;  // the thread counts asked for
    std::int32_t warmup = 0;
    std::int32_t repeat = 1;
    double min_time_seconds = 0;  // counted time per point at least
    std::string compiler;
    std::string compile_flags;  // CMAKE_CXX_FLAGS and those of the build type
    std::string build_type;
    std::string reference;  // the reference BLAS and its configuration, or empty
    std::vector<std::string> command_line;  // argv as given, program name first
    EnvironmentList environment;            // see ThreadingEnvironment()
    std::vector<double> load_average;       // 1, 5 and 15 minutes at start; empty when unknown
};

// The "model name" of the first processor in a /proc/cpuinfo text, reduced to
// printable ASCII; "unknown" when there is none.
std::string CpuModelFrom(const std::string& cpuinfo);

// PRETTY_NAME of an os-release text, its quotes and escapes removed;
// "unknown" when there is none.
std::string OsNameFrom(const std::string& os_release);

// What the files of the machine under `root` say ("" is the running system):
// root/proc/cpuinfo, root/etc/os-release (else root/usr/lib/os-release) and
// root/sys/devices/system/cpu/cpu0/cache/index*/{level,type,size}. Missing
// or unreadable files leave "unknown".
struct MachineFiles {
    std::string cpu_model = "unknown";
    std::string os = "unknown";
    CacheSizes caches;
};
MachineFiles ReadMachineFiles(const std::string& root);

// The variables of this process's environment that change threading or the
// reference library: names starting with OMP_, GOMP_ or OPENBLAS_, and
// TAVREL_8X4_FORM. Sorted by name.
EnvironmentList ThreadingEnvironment();

// The words joined by spaces, each one quoted for a POSIX shell when it holds
// anything but letters, digits and _@%+=:,./- (or is empty).
std::string ShellQuoted(const std::vector<std::string>& words);

std::string IsoDateUtc(std::time_t when);

// Gathers the context for `options` now; `command_line` is argv[0..argc).
RunContext CollectRunContext(const CliOptions& options, const std::vector<std::string>& command_line);

// The "context" object of the JSON document.
nlohmann::json ContextJson(const RunContext& context);

// One "# key: value" line per item, each ending in a newline; the first is
// "# cpu: <model>".
std::string FormatContextComments(const RunContext& context);
// The same lines without "# ", for standard error.
std::string FormatContextText(const RunContext& context);
