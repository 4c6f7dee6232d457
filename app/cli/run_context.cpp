#include "run_context.h"

#include <fstream>
#include <sstream>

#include "kernel_form.h"
#include "processor_info.h"
#include "reference_dgemm.h"

#ifndef VORP_VERSION
#define VORP_VERSION "unknown"
#endif
#ifndef VORP_BUILD_TYPE
#define VORP_BUILD_TYPE "unknown"
#endif

namespace {
std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string PrintableAscii(const std::string& text) {
    std::string kept;
    for (const char c : text) {
        if (c >= 0x20 && c < 0x7f) kept += c;
    }
    return kept;
}

std::string ReadWholeFile(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
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
}  // namespace

std::string CpuModelFrom(const std::string& cpuinfo) {
    std::istringstream lines(cpuinfo);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || Trimmed(line.substr(0, colon)) != "model name") continue;
        const std::string model = PrintableAscii(Trimmed(line.substr(colon + 1)));
        return model.empty() ? "unknown" : model;
    }
    return "unknown";
}

std::string IsoDateUtc(std::time_t when) {
    std::tm utc{};
    char text[32] = "unknown";
    if (gmtime_r(&when, &utc)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

RunContext CollectRunContext(const CliOptions& options) {
    RunContext context;
    context.version = VORP_VERSION;
    context.date = IsoDateUtc(std::time(nullptr));
    context.cpu_model = CpuModelFrom(ReadWholeFile("/proc/cpuinfo"));
    SelectIsaLevel(context.isa_level);
    context.isa_name = IsaLevelName(context.isa_level);
    context.kernel_form = KernelFormName(kMethodVectorPack, context.isa_level);
    context.threads = options.thread_counts.empty() ? std::vector<std::int32_t>{options.params.threads}
                                                    : options.thread_counts;
    context.warmup = options.warmup;
    context.repeat = options.repeat;
    context.compiler = CompilerName();
    context.build_type = VORP_BUILD_TYPE;
    if (options.reference) {
        context.reference = ReferenceKernelForm() + ", " + ReferenceLibraryConfig();
    }
    return context;
}
