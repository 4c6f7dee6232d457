#include "run_context.h"

#include <dlfcn.h>
#include <elf.h>
#include <gnu/libc-version.h>
#include <link.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "kernel_form.h"
#include "limits_report.h"
#include "methods.h"
#include "processor_info.h"
#include "reference_dgemm.h"
#include "vorp_build_flags.h"  // VORP_COMPILE_RECORDS, from compile_commands.json
#include "vorp_git_commit.h"   // VORP_GIT_COMMIT, generated at every build

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
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
        else if (c < 0x20 || c >= 0x7f)
            c = '?';
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
        if (entry.path().filename().string().rfind("index", 0) == 0)
            ReadCacheIndex(entry.path(), caches);
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
    return name == "TAVREL_8X4_FORM" || name == "GLIBC_TUNABLES";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The value of the first "key : value" line of a /proc/cpuinfo text (the
// first processor's), "unknown" when there is none.
std::string CpuinfoField(const std::string& cpuinfo, const std::string& key) {
    std::istringstream lines(cpuinfo);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || Trimmed(line.substr(0, colon)) != key) continue;
        return KnownOrUnknown(line.substr(colon + 1));
    }
    return "unknown";
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A whole number file ("2400000\n"); 0 when missing or not a number.
std::int64_t NumberIn(const std::string& path) {
    constexpr std::size_t kMostDigits = 18;  // always fits in std::int64_t
    const std::string text = Trimmed(ReadWholeFile(path));
    if (!AllDigits(text) || text.size() > kMostDigits) return 0;
    return std::stoll(text);
}

std::uint64_t MemTotalBytes(const std::string& meminfo) {
    std::istringstream lines(meminfo);
    for (std::string line; std::getline(lines, line);) {
        if (!StartsWith(line, "MemTotal:")) continue;
        std::istringstream rest(line.substr(std::strlen("MemTotal:")));
        std::uint64_t kib = 0;
        std::string unit;
        if (rest >> kib >> unit && unit == "kB") return kib * 1024;
    }
    return 0;
}

std::int32_t NumaNodes(const std::filesystem::path& node_dir) {
    std::int32_t nodes = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(node_dir, error)) {
        const std::string name = entry.path().filename().string();
        if (StartsWith(name, "node") && AllDigits(name.substr(4))) ++nodes;
    }
    return nodes;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

std::string Joined(const std::vector<std::string>& words, const std::string& between = " ") {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : between) + word;
    return text;
}

// Reads `size` bytes at `offset`, at most `most`; empty on any failure.
std::string BytesAt(std::ifstream& file, std::uint64_t offset, std::uint64_t size,
                    std::uint64_t most) {
    if (size > most) return {};
    std::string bytes(size, '\0');
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    if (!file.read(bytes.data(), static_cast<std::streamsize>(size))) return {};
    return bytes;
}

// The first loaded object whose file name starts with one of `prefixes`,
// as the dynamic linker names it; empty when none is loaded.
std::string LoadedObjectPath(const std::vector<std::string>& prefixes) {
    struct Search {
        const std::vector<std::string>* prefixes;
        std::string found;
    } search{&prefixes, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) -> int {
            auto& s = *static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
            const std::string name = std::filesystem::path(info->dlpi_name).filename().string();
            for (const std::string& prefix : *s.prefixes) {
                if (StartsWith(name, prefix)) {
                    s.found = info->dlpi_name;
                    return 1;
                }
            }
            return 0;
        },
        &search);
    return search.found;
}

std::string ResolvedPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

// Calls a text-returning function of an already loaded library, if it has it.
std::string AskLoaded(const std::string& path, const char* function) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return {};
    const auto ask = reinterpret_cast<const char* (*)()>(dlsym(handle, function));
    const char* answer = ask ? ask() : nullptr;
    std::string text = answer ? answer : "";
    dlclose(handle);
    return text;
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
    for (const std::int32_t count : threads)
        text += (text.empty() ? "" : ",") + std::to_string(count);
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

std::string CpuModelFrom(const std::string& cpuinfo) { return CpuinfoField(cpuinfo, "model name"); }

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
    const std::string cpuinfo = ReadWholeFile(root + "/proc/cpuinfo");
    files.cpu_model = CpuModelFrom(cpuinfo);
    files.microcode = CpuinfoField(cpuinfo, "microcode");
    std::string os_release = ReadWholeFile(root + "/etc/os-release");
    if (os_release.empty()) os_release = ReadWholeFile(root + "/usr/lib/os-release");
    files.os = OsNameFrom(os_release);
    const std::string cpu = root + "/sys/devices/system/cpu/";
    files.caches = CacheSizesIn(cpu + "cpu0/cache");
    files.threads_per_core =
        CpuListCount(Trimmed(ReadWholeFile(cpu + "cpu0/topology/thread_siblings_list")));
    const std::string smt = Trimmed(ReadWholeFile(cpu + "smt/active"));
    if (smt == "0" || smt == "1") {
        files.smt_active = smt == "1" ? 1 : 0;
    } else if (files.threads_per_core > 0) {
        files.smt_active = files.threads_per_core > 1 ? 1 : 0;
    }
    files.numa_nodes = NumaNodes(root + "/sys/devices/system/node");
    files.memory_bytes = MemTotalBytes(ReadWholeFile(root + "/proc/meminfo"));
    files.frequency.current_khz = NumberIn(cpu + "cpu0/cpufreq/scaling_cur_freq");
    files.frequency.max_khz = NumberIn(cpu + "cpu0/cpufreq/scaling_max_freq");
    files.frequency.governor =
        Trimmed(PrintableAscii(ReadWholeFile(cpu + "cpu0/cpufreq/scaling_governor")));
    const std::string thp = root + "/sys/kernel/mm/transparent_hugepage/";
    files.huge_pages.enabled = BracketedChoice(ReadWholeFile(thp + "enabled"));
    files.huge_pages.defrag = BracketedChoice(ReadWholeFile(thp + "defrag"));
    return files;
}

CacheSizes WithCpuidCaches(CacheSizes caches, const std::vector<CpuidCache>& described) {
    for (const CpuidCache& cache : described) {
        std::string* slot = nullptr;
        if (cache.level == 1 && cache.kind == CacheKind::Data) slot = &caches.l1d;
        if (cache.level == 1 && cache.kind == CacheKind::Instruction) slot = &caches.l1i;
        if (cache.level == 2 && cache.kind != CacheKind::Instruction) slot = &caches.l2;
        if (cache.level == 3 && cache.kind != CacheKind::Instruction) slot = &caches.l3;
        if (slot && *slot == "unknown" && cache.bytes >= 1024)
            *slot = std::to_string(cache.bytes / 1024) + "K";
    }
    return caches;
}

std::string BracketedChoice(const std::string& text) {
    const auto open = text.find('[');
    const auto close = open == std::string::npos ? open : text.find(']', open);
    if (close == std::string::npos) return "unknown";
    return KnownOrUnknown(text.substr(open + 1, close - open - 1));
}

std::int32_t CpuListCount(const std::string& list) {
    // CPU numbers of more digits than this are not a CPU list.
    constexpr std::size_t kMostDigits = 6;
    if (list.empty() || list.back() == ',') return 0;
    std::int32_t count = 0;
    std::istringstream parts(list);
    for (std::string part; std::getline(parts, part, ',');) {
        const auto dash = part.find('-');
        const std::string low = part.substr(0, dash);
        const std::string high = dash == std::string::npos ? low : part.substr(dash + 1);
        if (!AllDigits(low) || !AllDigits(high) || low.size() > kMostDigits ||
            high.size() > kMostDigits)
            return 0;
        const int first = std::stoi(low);
        const int last = std::stoi(high);
        if (last < first) return 0;
        count += last - first + 1;
    }
    return count;
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

namespace {
// Taken during static initialisation, before main() and so before vorp-cli
// sets anything; first among the initialisers, in case one loads a library
// that sets its variables.
__attribute__((init_priority(101))) const EnvironmentList g_startup_environment =
    ThreadingEnvironment();
}  // namespace

const EnvironmentList& StartupEnvironment() { return g_startup_environment; }

std::vector<EnvironmentChange> EnvironmentChanges(const EnvironmentList& before,
                                                  const EnvironmentList& after) {
    const std::map<std::string, std::string> old(before.begin(), before.end());
    const std::map<std::string, std::string> now(after.begin(), after.end());
    std::vector<EnvironmentChange> changes;
    for (const auto& [name, value] : now) {
        const auto found = old.find(name);
        if (found == old.end() || found->second != value) changes.push_back({name, value});
    }
    for (const auto& [name, value] : old) {
        if (now.count(name) == 0) changes.push_back({name, std::nullopt});
    }
    std::sort(
        changes.begin(), changes.end(),
        [](const EnvironmentChange& a, const EnvironmentChange& b) { return a.name < b.name; });
    return changes;
}

std::string VariableAudience(const std::string& name) {
    if (StartsWith(name, "BLIS_")) return "BLIS";
    if (StartsWith(name, "OPENBLAS_")) return "OpenBLAS";
    if (StartsWith(name, "OMP_") || StartsWith(name, "GOMP_")) return "OpenMP";
    if (name == "GLIBC_TUNABLES") return "glibc";
    if (name == "TAVREL_8X4_FORM") return "Tavrel_8x4";
    return "unknown";
}

bool ShapesCode(const std::string& word) {
    if (word == "-DNDEBUG" || word == "-pg" || word == "--coverage") return true;
    if (StartsWith(word, "-O") || StartsWith(word, "-m")) return true;
    if (!StartsWith(word, "-f")) return false;
    for (const char* report_only :
         {"-fdiagnostics", "-fcolor-diagnostics", "-fno-color-diagnostics", "-fmessage-length",
          "-fvisibility", "-fansi-escape-codes"}) {
        if (StartsWith(word, report_only)) return false;
    }
    return true;
}

std::vector<ProductFlags> SummariseBuildFlags(const std::vector<CompileRecord>& records) {
    std::vector<std::string> products;
    for (const CompileRecord& record : records) {
        if (std::find(products.begin(), products.end(), record.product) == products.end()) {
            products.push_back(record.product);
        }
    }
    std::vector<ProductFlags> summary;
    for (const std::string& product : products) {
        std::vector<std::pair<std::string, std::vector<std::string>>> sources;
        for (const CompileRecord& record : records) {
            if (record.product != product) continue;
            std::vector<std::string> kept;
            for (const std::string& word : Words(record.command)) {
                if (ShapesCode(word) && std::find(kept.begin(), kept.end(), word) == kept.end()) {
                    kept.push_back(word);
                }
            }
            sources.emplace_back(record.source, kept);
        }
        const auto in_every_source = [&](const std::string& word) {
            return std::all_of(sources.begin(), sources.end(), [&](const auto& source) {
                return std::find(source.second.begin(), source.second.end(), word) !=
                       source.second.end();
            });
        };
        ProductFlags flags;
        flags.product = product;
        std::vector<std::string> common;
        for (const std::string& word : sources.front().second) {
            if (in_every_source(word)) common.push_back(word);
        }
        flags.common = Joined(common);
        for (const auto& [source, words] : sources) {
            std::vector<std::string> added;
            for (const std::string& word : words) {
                if (std::find(common.begin(), common.end(), word) == common.end())
                    added.push_back(word);
            }
            if (!added.empty()) flags.extra.emplace_back(source, Joined(added));
        }
        summary.push_back(flags);
    }
    return summary;
}

std::vector<CompileRecord> BuiltCompileRecords() { return {VORP_COMPILE_RECORDS}; }

std::string ElfComment(const std::string& path) {
    // Bounds for a malformed file: a shared library has some tens of
    // sections, and its section names and comments take a few kilobytes.
    constexpr std::uint16_t kMostSections = 4096;
    constexpr std::uint64_t kMostTableBytes = 1 << 20;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr unsigned char kOwnByteOrder = ELFDATA2LSB;
#else
    constexpr unsigned char kOwnByteOrder = ELFDATA2MSB;
#endif
    std::ifstream file(path, std::ios::binary);
    Elf64_Ehdr header{};
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header)) return {};
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != kOwnByteOrder ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum > kMostSections ||
        header.e_shstrndx >= header.e_shnum) {
        return {};
    }
    const auto section = [&](std::uint16_t index, Elf64_Shdr& out) {
        const std::string bytes = BytesAt(file, header.e_shoff + std::uint64_t{index} * sizeof out,
                                          sizeof out, sizeof out);
        if (bytes.size() != sizeof out) return false;
        std::memcpy(&out, bytes.data(), sizeof out);
        return true;
    };
    Elf64_Shdr names_header{};
    if (!section(header.e_shstrndx, names_header)) return {};
    const std::string names =
        BytesAt(file, names_header.sh_offset, names_header.sh_size, kMostTableBytes);
    for (std::uint16_t index = 0; index < header.e_shnum; ++index) {
        Elf64_Shdr candidate{};
        if (!section(index, candidate) || candidate.sh_name >= names.size()) continue;
        if (std::strcmp(names.c_str() + candidate.sh_name, ".comment") != 0) continue;
        const std::string comment =
            BytesAt(file, candidate.sh_offset, candidate.sh_size, kMostTableBytes);
        std::vector<std::string> lines;
        std::istringstream parts(comment);
        for (std::string part; std::getline(parts, part, '\0');) {
            part = Trimmed(PrintableAscii(part));
            if (!part.empty() && std::find(lines.begin(), lines.end(), part) == lines.end())
                lines.push_back(part);
        }
        return Joined(lines, "; ");
    }
    return {};
}

LoadedLibrary OpenMpRuntimeAt(const std::string& path, const std::string& comment,
                              const std::string& compiler) {
    LoadedLibrary runtime;
    runtime.path = path;
    if (path.empty()) return runtime;
    runtime.version = comment.empty() ? compiler : comment;
    runtime.version_source = comment.empty() ? "compiler" : "library";
    return runtime;
}

LoadedLibrary LoadedOpenBlas() {
    LoadedLibrary openblas;
    const std::string path = LoadedObjectPath({"libopenblas"});
    if (path.empty()) return openblas;
    openblas.path = ResolvedPath(path);
    openblas.version = KnownOrUnknown(AskLoaded(path, "openblas_get_config"));
    openblas.core = KnownOrUnknown(AskLoaded(path, "openblas_get_corename"));
    return openblas;
}

LoadedLibrary LoadedBlis() {
    LoadedLibrary blis;
    const std::string path = LoadedObjectPath({"libblis"});
    if (path.empty()) return blis;
    blis.path = ResolvedPath(path);
    blis.version = KnownOrUnknown(AskLoaded(path, "bli_info_get_version_str"));
    return blis;
}

LoadedLibrary LoadedOpenMpRuntime() {
    const std::string path = LoadedObjectPath({"libgomp", "libomp", "libiomp"});
    if (path.empty()) return LoadedLibrary{};
    const std::string resolved = ResolvedPath(path);
    return OpenMpRuntimeAt(resolved, ElfComment(resolved), CompilerName());
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

namespace {
std::string CpuIdLine(const ProcessorIdentity& id, const std::string& microcode) {
    std::string text = id.vendor;
    if (id.family >= 0) {
        text += " family " + std::to_string(id.family) + " model " + std::to_string(id.model) +
                " stepping " + std::to_string(id.stepping);
    }
    return text + ", microcode " + microcode;
}

std::string SmtLine(std::int32_t active, std::int32_t threads_per_core) {
    std::string text = active < 0 ? "unknown" : active ? "on" : "off";
    if (threads_per_core > 0) {
        text += ", " + std::to_string(threads_per_core) +
                (threads_per_core == 1 ? " thread" : " threads") + " per core";
    }
    return text;
}

std::string MemoryLine(std::uint64_t bytes) {
    if (bytes == 0) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.1f GiB (MemTotal %llu kB)",
                  static_cast<double>(bytes) / (1u << 30),
                  static_cast<unsigned long long>(bytes / 1024));
    return text;
}

std::string FrequencyLine(const CpuFrequency& f) {
    if (f.current_khz <= 0 && f.max_khz <= 0 && f.governor.empty()) return "not shown";
    const auto mhz = [](std::int64_t khz) {
        return khz > 0 ? std::to_string(khz / 1000) + " MHz" : "not shown";
    };
    return "current " + mhz(f.current_khz) + ", max " + mhz(f.max_khz) + ", governor " +
           (f.governor.empty() ? "not shown" : f.governor);
}

// "-O3 -ffp-contract=off; -mavx: packing.cpp kernel_k1.cpp; -mavx512f: ..."
std::string ProductFlagsLine(const ProductFlags& flags) {
    std::vector<std::pair<std::string, std::vector<std::string>>>
        groups;  // added flags, their sources
    for (const auto& [source, added] : flags.extra) {
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& g) { return g.first == added; });
        if (group == groups.end()) group = groups.insert(groups.end(), {added, {}});
        group->second.push_back(source);
    }
    std::string text = flags.common.empty() ? "none" : flags.common;
    for (const auto& [added, sources] : groups) text += "; " + added + ": " + Joined(sources);
    return text;
}

std::string LibraryLine(const LoadedLibrary& library, const char* absent) {
    if (library.path.empty()) return absent;
    std::string text = library.version;
    if (!library.core.empty()) text += ", core " + library.core;
    if (library.version_source == "compiler") {
        text = "version not recorded in the library; vorp-cli was built by " + library.version;
    }
    return text + " (" + library.path + ")";
}

// One line per library vorp-cli changed variables for, env(1) style.
std::vector<std::pair<std::string, std::string>> ChangeLines(
    const std::vector<EnvironmentChange>& changes) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const EnvironmentChange& change : changes) {
        const std::string key = "set by vorp-cli for " + VariableAudience(change.name);
        const std::string word =
            change.value ? change.name + "=" + ShellWord(*change.value) : "-u " + change.name;
        auto line =
            std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == key; });
        if (line == lines.end()) {
            lines.emplace_back(key, word);
        } else {
            line->second += " " + word;
        }
    }
    return lines;
}

nlohmann::json NumberOrNull(std::int64_t value) {
    return value > 0 ? nlohmann::json(value) : nlohmann::json();
}

nlohmann::json LibraryJson(const LoadedLibrary& library) {
    if (library.path.empty()) return nullptr;
    nlohmann::json json = {{"library", OneLine(library.path)},
                           {"version", OneLine(library.version)}};
    if (!library.core.empty()) json["core"] = OneLine(library.core);
    if (!library.version_source.empty()) json["version_source"] = OneLine(library.version_source);
    return json;
}
}  // namespace

RunContext CollectRunContext(const CliOptions& options,
                             const std::vector<std::string>& command_line) {
    RunContext context;
    context.version = VORP_VERSION;
    context.commit = VORP_GIT_COMMIT;
    context.date = IsoDateUtc(std::time(nullptr));
    const MachineFiles machine = ReadMachineFiles("");
    context.cpu_model = machine.cpu_model;
    context.cpu_id = IdentifyProcessor(QueryCpuid);
    context.microcode = machine.microcode;
    context.cores = OnlineCores();
    context.smt_active = machine.smt_active;
    context.threads_per_core = machine.threads_per_core;
    context.numa_nodes = machine.numa_nodes;
    context.memory_bytes = machine.memory_bytes;
    context.frequency = machine.frequency;
    context.caches = WithCpuidCaches(machine.caches, CachesFromCpuid(QueryCpuid));
    context.os = machine.os;
    context.kernel = UnameInfo();
    context.glibc = KnownOrUnknown(gnu_get_libc_version());
    context.huge_pages = machine.huge_pages;
    const std::optional<VectorPath> path = DecideVectorPath(options.params.isa_cap);
    context.isa_level = path ? path->isa_level : kIsaSse2;
    context.isa_name =
        VectorPackInstructionSet(context.isa_level);  // what the kernel uses: no FMA claimed
    context.kernel_form = KernelFormName(kMethodVectorPack, context.isa_level);
    context.threads = options.thread_counts.empty()
                          ? std::vector<std::int32_t>{options.params.threads}
                          : options.thread_counts;
    context.warmup = options.warmup;
    context.repeat = options.repeat;
    context.compiler = CompilerName();
    context.compile_flags = VORP_CXX_FLAGS;
    context.build_flags = SummariseBuildFlags(BuiltCompileRecords());
    context.build_type = VORP_BUILD_TYPE;
    if (options.reference) {
        context.reference = ReferenceKernelForm(options.reference_library) + ", " +
                            ReferenceLibraryConfig(options.reference_library);
    }
    // After the reference is loaded: what it loaded and what was set for it.
    context.openmp_runtime = LoadedOpenMpRuntime();
    context.openblas = LoadedOpenBlas();
    context.blis = LoadedBlis();
    context.command_line = command_line;
    context.environment = StartupEnvironment();
    context.set_by_vorp_cli = EnvironmentChanges(StartupEnvironment(), ThreadingEnvironment());
    context.load_average = LoadAverage();
    return context;
}

nlohmann::json ContextJson(const RunContext& context) {
    nlohmann::json environment = nlohmann::json::object();
    for (const auto& [name, value] : context.environment)
        environment[OneLine(name)] = OneLine(value);
    nlohmann::json set_by_vorp_cli = nlohmann::json::object();
    for (const EnvironmentChange& change : context.set_by_vorp_cli) {
        set_by_vorp_cli[VariableAudience(change.name)][OneLine(change.name)] =
            change.value ? nlohmann::json(OneLine(*change.value)) : nlohmann::json();
    }
    nlohmann::json build_flags = nlohmann::json::object();
    for (const ProductFlags& flags : context.build_flags) {
        nlohmann::json files = nlohmann::json::object();
        for (const auto& [source, added] : flags.extra) files[OneLine(source)] = OneLine(added);
        build_flags[OneLine(flags.product)] = {{"flags", OneLine(flags.common)}, {"files", files}};
    }
    const auto& c = context;
    const auto known_number = [](std::int32_t value) {
        return value >= 0 ? nlohmann::json(value) : nlohmann::json();
    };
    return {
        {"program", OneLine(c.program)},
        {"version", OneLine(c.version)},
        {"commit", OneLine(c.commit)},
        {"date", OneLine(c.date)},
        {"cpu_model", OneLine(c.cpu_model)},
        {"cpu_id",
         {{"vendor", OneLine(c.cpu_id.vendor)},
          {"family", known_number(c.cpu_id.family)},
          {"model", known_number(c.cpu_id.model)},
          {"stepping", known_number(c.cpu_id.stepping)},
          {"microcode", OneLine(c.microcode)}}},
        {"cores", c.cores > 0 ? nlohmann::json(c.cores) : nlohmann::json()},
        {"smt",
         {{"active", c.smt_active < 0 ? nlohmann::json() : nlohmann::json(c.smt_active == 1)},
          {"threads_per_core", NumberOrNull(c.threads_per_core)}}},
        {"numa_nodes", NumberOrNull(c.numa_nodes)},
        {"memory_bytes", c.memory_bytes > 0 ? nlohmann::json(c.memory_bytes) : nlohmann::json()},
        {"cpu_frequency",
         {{"current_khz", NumberOrNull(c.frequency.current_khz)},
          {"max_khz", NumberOrNull(c.frequency.max_khz)},
          {"governor", c.frequency.governor.empty()
                           ? nlohmann::json()
                           : nlohmann::json(OneLine(c.frequency.governor))}}},
        {"caches",
         {{"L1d", OneLine(c.caches.l1d)},
          {"L1i", OneLine(c.caches.l1i)},
          {"L2", OneLine(c.caches.l2)},
          {"L3", OneLine(c.caches.l3)}}},
        {"os", OneLine(c.os)},
        {"kernel",
         {{"sysname", OneLine(c.kernel.sysname)},
          {"release", OneLine(c.kernel.release)},
          {"machine", OneLine(c.kernel.machine)}}},
        {"glibc", OneLine(c.glibc)},
        {"transparent_hugepages",
         {{"enabled", OneLine(c.huge_pages.enabled)}, {"defrag", OneLine(c.huge_pages.defrag)}}},
        {"isa_level", c.isa_level},
        {"isa", OneLine(c.isa_name)},
        {"vector_kernel", OneLine(c.kernel_form)},
        {"threads", c.threads},
        {"warmup", c.warmup},
        {"repeat", c.repeat},
        {"min_time_seconds", c.min_time_seconds},
        {"compiler", OneLine(c.compiler)},
        {"compile_flags", OneLine(c.compile_flags)},
        {"build_flags", build_flags},
        {"build_type", OneLine(c.build_type)},
        {"reference",
         c.reference.empty() ? nlohmann::json() : nlohmann::json(OneLine(c.reference))},
        {"openmp_runtime", LibraryJson(c.openmp_runtime)},
        {"openblas", LibraryJson(c.openblas)},
        {"blis", LibraryJson(c.blis)},
        {"command", OneLine(ShellQuoted(c.command_line))},
        {"environment", environment},
        {"set_by_vorp_cli", set_by_vorp_cli},
        {"load_average",
         c.load_average.empty() ? nlohmann::json() : nlohmann::json(c.load_average)},
        {"limits", c.limits ? LimitsJson(*c.limits) : nlohmann::json()},
    };
}

std::string FormatContextComments(const RunContext& context) {
    const auto& c = context;
    std::vector<std::pair<std::string, std::string>> items = {
        {"cpu", c.cpu_model},
        {"cpu id", CpuIdLine(c.cpu_id, c.microcode)},
        {"cores", c.cores > 0 ? std::to_string(c.cores) : "unknown"},
        {"smt", SmtLine(c.smt_active, c.threads_per_core)},
        {"numa nodes", c.numa_nodes > 0 ? std::to_string(c.numa_nodes) : "unknown"},
        {"memory", MemoryLine(c.memory_bytes)},
        {"cpu frequency", FrequencyLine(c.frequency)},
        {"caches", CachesLine(c.caches)},
        {"os", c.os + ", " + c.kernel.sysname + " " + c.kernel.release + " " + c.kernel.machine},
        {"glibc", c.glibc},
        {"transparent huge pages",
         "enabled " + c.huge_pages.enabled + ", defrag " + c.huge_pages.defrag},
        {"compiler", JoinedWords(c.compiler, c.compile_flags)},
    };
    if (c.build_flags.empty()) items.emplace_back("flags", "not recorded by this build");
    for (const ProductFlags& flags : c.build_flags)
        items.emplace_back("flags " + flags.product, ProductFlagsLine(flags));
    items.insert(items.end(),
                 {
                     {"build", c.build_type},
                     {"version", c.program + " " + c.version + " (commit " + c.commit + ")"},
                     {"command", ShellQuoted(c.command_line)},
                     {"environment", EnvironmentLine(c.environment)},
                 });
    for (const auto& line : ChangeLines(c.set_by_vorp_cli)) items.push_back(line);
    items.insert(items.end(), {
                                  {"openmp runtime", LibraryLine(c.openmp_runtime, "not loaded")},
                                  {"openblas", LibraryLine(c.openblas, "not loaded")},
                                  {"blis", LibraryLine(c.blis, "not loaded")},
                                  {"load average", LoadLine(c.load_average)},
                                  {"date", c.date},
                                  {"method 4", c.isa_name + ", " + c.kernel_form},
                              });
    if (!c.reference.empty()) items.emplace_back("reference", c.reference);
    items.emplace_back("threads", JoinedThreads(c.threads));
    items.emplace_back("warmup", std::to_string(c.warmup));
    items.emplace_back("repeat", std::to_string(c.repeat));
    char min_time[32];
    std::snprintf(min_time, sizeof min_time, "%g s", c.min_time_seconds);
    items.emplace_back("min time", min_time);
    if (c.limits) {
        for (const auto& item : LimitContextItems(*c.limits)) items.push_back(item);
    }
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
