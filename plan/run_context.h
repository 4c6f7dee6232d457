// The context of a set of results: what program, build, machine and command
// produced them, enough to reproduce a figure or explain why it differs.
// JSON holds it as its "context" object (ContextJson); text and CSV output
// give it as "# key: value" comment lines (FormatContextComments), which
// gnuplot and pandas skip. Every value written is one line of printable ASCII.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "machine_limits.h"
#include "plan_options.h"
#include "processor_info.h"

// Raised when a field is added, renamed or changes meaning.
constexpr int kResultsSchemaVersion = 3;
// The oldest version --compare still reads: what it reads of a point and of
// the context has kept its meaning since.
constexpr int kOldestComparedSchemaVersion = 2;

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

// A variable of ThreadingEnvironment() that vorp-cli itself set or removed
// (BLIS_ARCH_TYPE before loading BLIS): its value now, none when removed.
struct EnvironmentChange {
    std::string name;
    std::optional<std::string> value;
};

// The transparent huge page modes, the bracketed words of the kernel's files.
struct HugePageModes {
    std::string enabled = "unknown";  // "always", "madvise" or "never"
    std::string defrag = "unknown";
};

// cpu0's frequency scaling as cpufreq shows it; 0 and "" where it shows
// nothing (virtual machines often have no cpufreq).
struct CpuFrequency {
    std::int64_t current_khz = 0;
    std::int64_t max_khz = 0;
    std::string governor;
};

// A shared library this process has loaded. An empty path: not loaded.
struct LoadedLibrary {
    std::string path;                 // resolved, so it names the build (libopenblasp-r0.3.21.so)
    std::string version = "unknown";  // what the library says of itself
    std::string core;                 // OpenBLAS: the kernel set it runs
    // The OpenMP runtime: "library" when the version is its own record,
    // "compiler" when it keeps none and the version is that of the
    // compiler that built vorp-cli.
    std::string version_source;
};

// How one source file of a product was compiled: the command of
// compile_commands.json, so the build's own.
struct CompileRecord {
    std::string product;  // the CMake target: "Tavrel_8x4", "vorp_methods"
    std::string source;   // file name
    std::string command;
};

// The flags that shape one product's code: those all its sources share, and
// what single sources add (in build order, only those that add any).
struct ProductFlags {
    std::string product;
    std::string common;
    std::vector<std::pair<std::string, std::string>> extra;  // source, its added flags
};

struct RunContext {
    std::string program = "vorp-cli";
    std::string version;
    std::string commit =
        "unknown";     // short hash of the source tree at build time, "-dirty" if changed
    std::string date;  // UTC, ISO 8601: 2024-05-01T12:00:00Z
    std::string cpu_model = "unknown";  // from /proc/cpuinfo
    ProcessorIdentity cpu_id;           // from cpuid
    std::string microcode = "unknown";  // from /proc/cpuinfo
    std::int32_t cores = 0;             // logical processors online, 0 when unknown
    std::int32_t smt_active = -1;       // 1 on, 0 off, -1 unknown
    std::int32_t threads_per_core = 0;  // 0 when unknown
    std::int32_t numa_nodes = 0;        // 0 when unknown
    std::uint64_t memory_bytes = 0;     // MemTotal, 0 when unknown
    CpuFrequency frequency;
    CacheSizes caches;           // of cpu0; from cpuid where sysfs has none
    std::string os = "unknown";  // PRETTY_NAME of os-release
    KernelInfo kernel;
    std::string glibc = "unknown";  // gnu_get_libc_version()
    HugePageModes huge_pages;
    std::int32_t isa_level = 0;         // the level method 4 takes on this machine, after --isa
    std::string isa_name;               // "SSE2", "AVX", "AVX+FMA3"
    std::string kernel_form;            // what method 4 runs at that level
    std::vector<std::int32_t> threads;  // the thread counts asked for
    std::int32_t warmup = 0;
    std::int32_t repeat = 1;
    double min_time_seconds = 0;  // counted time per point at least
    std::string compiler;
    std::string compile_flags;              // CMAKE_CXX_FLAGS and those of the build type
    std::vector<ProductFlags> build_flags;  // per product; empty when the build recorded none
    std::string build_type;
    std::string reference;  // the reference BLAS and its configuration, or empty
    LoadedLibrary openmp_runtime;
    LoadedLibrary openblas;  // loaded only for a reference row
    LoadedLibrary blis;
    std::vector<std::string> command_line;           // argv as given, program name first
    EnvironmentList environment;                     // the user's: StartupEnvironment()
    std::vector<EnvironmentChange> set_by_vorp_cli;  // since then, by vorp-cli for a library
    std::vector<double> load_average;     // 1, 5 and 15 minutes at start; empty when unknown
    std::optional<MachineLimits> limits;  // measured with --limits
};

// The "model name" of the first processor in a /proc/cpuinfo text, reduced to
// printable ASCII; "unknown" when there is none.
std::string CpuModelFrom(const std::string& cpuinfo);

// PRETTY_NAME of an os-release text, its quotes and escapes removed;
// "unknown" when there is none.
std::string OsNameFrom(const std::string& os_release);

// What the files of the machine under `root` say ("" is the running system):
// root/proc/cpuinfo ("model name", "microcode"), root/etc/os-release (else
// root/usr/lib/os-release), root/proc/meminfo (MemTotal) and, under
// root/sys: devices/system/cpu/cpu0/cache/index*/{level,type,size},
// devices/system/cpu/smt/active, devices/system/cpu/cpu0/topology/
// thread_siblings_list, devices/system/node/node<N>, devices/system/cpu/
// cpu0/cpufreq/{scaling_cur_freq,scaling_max_freq,scaling_governor} and
// kernel/mm/transparent_hugepage/{enabled,defrag}. Missing or unreadable
// files leave the defaults ("unknown", 0, -1, "").
struct MachineFiles {
    std::string cpu_model = "unknown";
    std::string microcode = "unknown";
    std::string os = "unknown";
    CacheSizes caches;
    std::int32_t smt_active = -1;  // from smt/active, else whether cpu0 has siblings
    std::int32_t threads_per_core = 0;
    std::int32_t numa_nodes = 0;
    std::uint64_t memory_bytes = 0;
    CpuFrequency frequency;
    HugePageModes huge_pages;
};
MachineFiles ReadMachineFiles(const std::string& root);

// The slots of `caches` still "unknown" filled from what cpuid describes,
// in the kernel's form ("48K").
CacheSizes WithCpuidCaches(CacheSizes caches, const std::vector<CpuidCache>& described);

// The bracketed word of a kernel choice file ("always [madvise] never"),
// "unknown" when there is none.
std::string BracketedChoice(const std::string& text);

// How many CPUs a kernel CPU list ("0-3,8,10-11") names; 0 when malformed.
std::int32_t CpuListCount(const std::string& list);

// The variables of this process's environment that change threading, the
// reference library or the C library: names starting with OMP_, GOMP_,
// OPENBLAS_ or BLIS_, TAVREL_8X4_FORM and GLIBC_TUNABLES. Sorted by name.
EnvironmentList ThreadingEnvironment();

// ThreadingEnvironment() as the process started, before vorp-cli set
// anything: what the user set.
const EnvironmentList& StartupEnvironment();

// What changed from `before` to `after` (both sorted by name).
std::vector<EnvironmentChange> EnvironmentChanges(const EnvironmentList& before,
                                                  const EnvironmentList& after);

// The library a variable of ThreadingEnvironment() speaks to: "BLIS",
// "OpenBLAS", "OpenMP", "glibc" or "Tavrel_8x4".
std::string VariableAudience(const std::string& name);

// Whether a compiler word changes the code it makes: -O..., -m..., -f...
// (but not the diagnostics' or symbol visibility's), -DNDEBUG, -pg and
// --coverage.
bool ShapesCode(const std::string& word);

// The words of each product's commands that ShapesCode(), products in the
// order they first appear.
std::vector<ProductFlags> SummariseBuildFlags(const std::vector<CompileRecord>& records);

// The commands this build ran for the kernel libraries, the methods and the
// run, from compile_commands.json; empty when the generator wrote none.
std::vector<CompileRecord> BuiltCompileRecords();

// The .comment section of an ELF file (the compilers that built it, as
// "GCC: (Debian 12.2.0-14) 12.2.0"), its strings joined by "; "; empty
// when the file is not a 64-bit ELF file of this byte order or has none.
std::string ElfComment(const std::string& path);

// The OpenMP runtime at `path` whose .comment is `comment`: its version is
// that comment, else the compiler's that built vorp-cli (`compiler`).
LoadedLibrary OpenMpRuntimeAt(const std::string& path, const std::string& comment,
                              const std::string& compiler);

// The libraries loaded into this process now: OpenBLAS and BLIS (versions
// asked of the loaded copy) and the OpenMP runtime. Loads nothing.
LoadedLibrary LoadedOpenBlas();
LoadedLibrary LoadedBlis();
LoadedLibrary LoadedOpenMpRuntime();

// The words joined by spaces, each one quoted for a POSIX shell when it holds
// anything but letters, digits and _@%+=:,./- (or is empty).
std::string ShellQuoted(const std::vector<std::string>& words);

std::string IsoDateUtc(std::time_t when);

// Gathers the context for `options` now; `command_line` is argv[0..argc).
RunContext CollectRunContext(const CliOptions& options,
                             const std::vector<std::string>& command_line);

// The "context" object of the JSON document.
nlohmann::json ContextJson(const RunContext& context);

// One "# key: value" line per item, each ending in a newline; the first is
// "# cpu: <model>".
std::string FormatContextComments(const RunContext& context);
// The same lines without "# ", for standard error.
std::string FormatContextText(const RunContext& context);
