#include "run_context.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kernel_form.h"
#include "processor_info.h"
#include "reference_dgemm.h"
#include "vorp_git_commit.h"  // VORP_GIT_COMMIT, generated at every build

extern char** environ;

#ifndef VORP_VERSION
#define VORP_VERSION "unknown"
#endif
#ifndef VORP_BUILD_TYPE
#define VORP_BUILD_TYPE "unknown"
#endif
#ifndef VORP_CXX_FLAGS
#define VORP_CXX_FLAGS ""
#endif

namespace {
std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string PrintableAscii(const std::string& text) {
    std::string kept;
    for (const char c : text) {
        if (c >= 0x20 && c < 0x7f) kept += c;
    }
    return kept;
}

std::string KnownOrUnknown(const std::string& text) {
    const std::string kept = Trimmed(PrintableAscii(text));
    return kept.empty() ? "unknown" : kept;
}

// What the output writes for a value: line breaks and tabs become spaces,
// other bytes outside printable ASCII become '?'.
std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        else if (c < 0x20 || c >= 0x7f) c = '?';
    }
    return line;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Fills the slot of `caches` that one cache/index* directory describes.
void ReadCacheIndex(const std::filesystem::path& index, CacheSizes& caches) {
    const std::string level = Trimmed(ReadWholeFile(index / "level"));
    const std::string type = Trimmed(ReadWholeFile(index / "type"));
    std::string* slot = nullptr;
    if (level == "1" && type == "Data") slot = &caches.l1d;
    if (level == "1" && type == "Instruction") slot = &caches.l1i;
    if (level == "2" && type != "Instruction") slot = &caches.l2;
    if (level == "3" && type != "Instruction") slot = &caches.l3;
    if (slot) *slot = KnownOrUnknown(ReadWholeFile(index / "size"));
}

CacheSizes CacheSizesIn(const std::filesystem::path& cache_dir) {
    CacheSizes caches;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(cache_dir, error)) {
        if (entry.path().filename().string().rfind("index", 0) == 0) ReadCacheIndex(entry.path(), caches);
    }
    return caches;
}

bool ShellSafe(const std::string& word) {
    if (word.empty()) return false;
    return std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string("_@%+=:,./-").find(c) != std::string::npos;
    });
}

std::string ShellWord(const std::string& word) {
    if (ShellSafe(word)) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool AffectsThreadingOrReference(const std::string& name) {
    for (const char* prefix : {"OMP_", "GOMP_", "OPENBLAS_", "BLIS_"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return name == "TAVREL_8X4_FORM";
}

KernelInfo UnameInfo() {
    KernelInfo kernel;
    utsname names{};
    if (uname(&names) != 0) return kernel;
    kernel.sysname = KnownOrUnknown(names.sysname);
    kernel.release = KnownOrUnknown(names.release);
    kernel.machine = KnownOrUnknown(names.machine);
    return kernel;
}

std::int32_t OnlineCores() {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? static_cast<std::int32_t>(cores) : 0;
}

// To two decimals, as /proc/loadavg shows it (glibc reads a binary fraction).
std::vector<double> LoadAverage() {
    double loads[3];
    if (getloadavg(loads, 3) != 3) return {};
    std::vector<double> rounded;
    for (const double load : loads) rounded.push_back(std::round(load * 100) / 100);
    return rounded;
}

std::string CompilerName() {
#if defined(__clang__)
    return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("GCC ") + __VERSION__;
#else
    return "unknown";
#endif
}

std::string JoinedThreads(const std::vector<std::int32_t>& threads) {
    std::string text;
    for (const std::int32_t count : threads) text += (text.empty() ? "" : ",") + std::to_string(count);
    return text;
}

std::string CachesLine(const CacheSizes& caches) {
    return "L1d " + caches.l1d + ", L1i " + caches.l1i + ", L2 " + caches.l2 + ", L3 " + caches.l3;
}

std::string EnvironmentLine(const EnvironmentList& environment) {
    if (environment.empty()) return "none";
    std::string text;
    for (const auto& [name, value] : environment) {
        text += (text.empty() ? "" : " ") + name + "=" + ShellWord(value);
    }
    return text;
}

std::string LoadLine(const std::vector<double>& loads) {
    if (loads.empty()) return "unknown";
    std::string text;
    for (const double load : loads) {
        char number[32];
        std::snprintf(number, sizeof number, "%.2f", load);
        text += (text.empty() ? "" : " ") + std::string(number);
    }
    return text;
}

std::string JoinedWords(const std::string& first, const std::string& second) {
    return second.empty() ? first : first + " " + second;
}
}  // namespace

std::string CpuModelFrom(const std::string& cpuinfo) {
    std::istringstream lines(cpuinfo);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || Trimmed(line.substr(0, colon)) != "model name") continue;
        return KnownOrUnknown(line.substr(colon + 1));
    }
    return "unknown";
}

std::string OsNameFrom(const std::string& os_release) {
    std::string name;
    std::istringstream lines(os_release);
    for (std::string line; std::getline(lines, line);) {
        line = Trimmed(line);
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string value = line.substr(std::string("PRETTY_NAME=").size());
        const char quote = value.empty() ? '\0' : value.front();
        if ((quote == '"' || quote == '\'') && value.size() >= 2 && value.back() == quote) {
            value = value.substr(1, value.size() - 2);
        }
        name.clear();
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (quote == '"' && value[i] == '\\' && i + 1 < value.size()) ++i;
            name += value[i];
        }
    }
    return KnownOrUnknown(name);
}

MachineFiles ReadMachineFiles(const std::string& root) {
    MachineFiles files;
    files.cpu_model = CpuModelFrom(ReadWholeFile(root + "/proc/cpuinfo"));
    std::string os_release = ReadWholeFile(root + "/etc/os-release");
    if (os_release.empty()) os_release = ReadWholeFile(root + "/usr/lib/os-release");
    files.os = OsNameFrom(os_release);
    files.caches = CacheSizesIn(root + "/sys/devices/system/cpu/cpu0/cache");
    return files;
}

EnvironmentList ThreadingEnvironment() {
    EnvironmentList found;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals == std::string::npos) continue;
        const std::string name = text.substr(0, equals);
        if (AffectsThreadingOrReference(name)) found.emplace_back(name, text.substr(equals + 1));
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string ShellQuoted(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + ShellWord(word);
    return text;
}

std::string IsoDateUtc(std::time_t when) {
    std::tm utc{};
    char text[32] = "unknown";
    if (gmtime_r(&when, &utc)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

RunContext CollectRunContext(const CliOptions& options, const std::vector<std::string>& command_line) {
    RunContext context;
    context.version = VORP_VERSION;
    context.commit = VORP_GIT_COMMIT;
    context.date = IsoDateUtc(std::time(nullptr));
    const MachineFiles machine = ReadMachineFiles("");
    context.cpu_model = machine.cpu_model;
    context.cores = OnlineCores();
    context.caches = machine.caches;
    context.os = machine.os;
    context.kernel = UnameInfo();
    SelectIsaLevel(context.isa_level);
    context.isa_name = IsaLevelName(context.isa_level);
    context.kernel_form = KernelFormName(kMethodVectorPack, context.isa_level);
    context.threads = options.thread_counts.empty() ? std::vector<std::int32_t>{options.params.threads}
                                                    : options.thread_counts;
    context.warmup = options.warmup;
    context.repeat = options.repeat;
    context.compiler = CompilerName();
    context.compile_flags = VORP_CXX_FLAGS;
    context.build_type = VORP_BUILD_TYPE;
    if (options.reference) {
        context.reference = ReferenceKernelForm(options.reference_library) + ", " +
                            ReferenceLibraryConfig(options.reference_library);
    }
    context.command_line = command_line;
    context.environment = ThreadingEnvironment();
    context.load_average = LoadAverage();
    return context;
}

nlohmann::json ContextJson(const RunContext& context) {
    nlohmann::json environment = nlohmann::json::object();
    for (const auto& [name, value] : context.environment) environment[OneLine(name)] = OneLine(value);
    const auto& c = context;
    return {
        {"program", OneLine(c.program)},
        {"version", OneLine(c.version)},
        {"commit", OneLine(c.commit)},
        {"date", OneLine(c.date)},
        {"cpu_model", OneLine(c.cpu_model)},
        {"cores", c.cores > 0 ? nlohmann::json(c.cores) : nlohmann::json()},
        {"caches", {{"L1d", OneLine(c.caches.l1d)}, {"L1i", OneLine(c.caches.l1i)},
                    {"L2", OneLine(c.caches.l2)}, {"L3", OneLine(c.caches.l3)}}},
        {"os", OneLine(c.os)},
        {"kernel", {{"sysname", OneLine(c.kernel.sysname)}, {"release", OneLine(c.kernel.release)},
                    {"machine", OneLine(c.kernel.machine)}}},
        {"isa_level", c.isa_level},
        {"isa", OneLine(c.isa_name)},
        {"vector_kernel", OneLine(c.kernel_form)},
        {"threads", c.threads},
        {"warmup", c.warmup},
        {"repeat", c.repeat},
        {"min_time_seconds", c.min_time_seconds},
        {"compiler", OneLine(c.compiler)},
        {"compile_flags", OneLine(c.compile_flags)},
        {"build_type", OneLine(c.build_type)},
        {"reference", c.reference.empty() ? nlohmann::json() : nlohmann::json(OneLine(c.reference))},
        {"command", OneLine(ShellQuoted(c.command_line))},
        {"environment", environment},
        {"load_average", c.load_average.empty() ? nlohmann::json() : nlohmann::json(c.load_average)},
    };
}

std::string FormatContextComments(const RunContext& context) {
    const auto& c = context;
    std::vector<std::pair<std::string, std::string>> items = {
        {"cpu", c.cpu_model},
        {"cores", c.cores > 0 ? std::to_string(c.cores) : "unknown"},
        {"caches", CachesLine(c.caches)},
        {"os", c.os + ", " + c.kernel.sysname + " " + c.kernel.release + " " + c.kernel.machine},
        {"compiler", JoinedWords(c.compiler, c.compile_flags)},
        {"build", c.build_type},
        {"version", c.program + " " + c.version + " (commit " + c.commit + ")"},
        {"command", ShellQuoted(c.command_line)},
        {"environment", EnvironmentLine(c.environment)},
        {"load average", LoadLine(c.load_average)},
        {"date", c.date},
        {"method 4", c.isa_name + ", " + c.kernel_form},
    };
    if (!c.reference.empty()) items.emplace_back("reference", c.reference);
    items.emplace_back("threads", JoinedThreads(c.threads));
    items.emplace_back("warmup", std::to_string(c.warmup));
    items.emplace_back("repeat", std::to_string(c.repeat));
    char min_time[32];
    std::snprintf(min_time, sizeof min_time, "%g s", c.min_time_seconds);
    items.emplace_back("min time", min_time);
    std::string text;
    for (const auto& [key, value] : items) text += "# " + key + ": " + OneLine(value) + "\n";
    return text;
}

std::string FormatContextText(const RunContext& context) {
    std::string text;
    const std::string comments = FormatContextComments(context);
    for (std::size_t start = 0; start < comments.size();) {
        const std::size_t end = comments.find('\n', start);
        text += comments.substr(start + 2, end - start - 1);
        start = end + 1;
    }
    return text;
}
