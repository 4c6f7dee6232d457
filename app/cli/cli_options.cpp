#include "cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <optional>

namespace {
const std::vector<std::string> kIsaNames = {"sse2", "avx", "avx2"};

std::optional<long long> ParseWholeNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || end == text.c_str()) return std::nullopt;
    return value;
}

std::optional<long long> IndexOf(const std::vector<std::string>& names, const std::string& text) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == text) return static_cast<long long>(i);
    }
    return std::nullopt;
}

std::string RangeError(const std::string& option, long long low, long long high,
                       const std::string& value) {
    std::string range = high == std::numeric_limits<std::int32_t>::max()
                            ? "at least " + std::to_string(low)
                            : "from " + std::to_string(low) + " to " + std::to_string(high);
    return option + ": expected a whole number " + range + ", got '" + value + "'";
}

// Reads a whole number within [low, high] into `out`; returns an error text.
template <typename T>
std::string ReadNumber(const std::string& option, const std::string& value, long long low,
                       long long high, T& out) {
    const auto number = ParseWholeNumber(value);
    if (!number || *number < low || *number > high) return RangeError(option, low, high, value);
    out = static_cast<T>(*number);
    return {};
}

using Handler = std::function<std::string(const std::string& value, CliOptions& options)>;

struct OptionSpec {
    bool takes_value;
    Handler handle;
};

std::map<std::string, OptionSpec> OptionTable(std::int32_t supported_isa) {
    const auto int_max = std::numeric_limits<std::int32_t>::max();
    return {
        {"--method", {true, [](const std::string& v, CliOptions& o) -> std::string {
             if (auto index = IndexOf(CliMethodNames(), v)) {
                 o.params.method = static_cast<std::int32_t>(*index);
                 return {};
             }
             const auto number = ParseWholeNumber(v);
             if (!number || *number < 0 || *number >= kMethodCount) {
                 return "--method: expected 0 to 4 or one of classic, hp, block-cache, "
                        "block-pack-2x2, vector-pack, got '" + v + "'";
             }
             o.params.method = static_cast<std::int32_t>(*number);
             return {};
         }}},
        {"-n", {true, [](const std::string& v, CliOptions& o) {
             return ReadNumber("-n", v, kMinOrder, kMaxOrder, o.params.n);
         }}},
        {"--l-block", {true, [int_max](const std::string& v, CliOptions& o) {
             return ReadNumber("--l-block", v, kMinBlock, int_max, o.params.l_block);
         }}},
        {"--threads", {true, [](const std::string& v, CliOptions& o) {
             return ReadNumber("--threads", v, kMinThreads, kMaxThreads, o.params.threads);
         }}},
        {"--chunk", {true, [](const std::string& v, CliOptions& o) {
             return ReadNumber("--chunk", v, 0, std::numeric_limits<std::uint32_t>::max(),
                               o.params.chunk);
         }}},
        {"--parallel-kind", {true, [](const std::string& v, CliOptions& o) -> std::string {
             if (v == "openmp") o.params.parallel_kind = kParallelOpenMp;
             else if (v == "tbb") o.params.parallel_kind = kParallelTbb;
             else return "--parallel-kind: expected openmp or tbb, got '" + v + "'";
             return {};
         }}},
        {"--isa", {true, [supported_isa](const std::string& v, CliOptions& o) -> std::string {
             if (v == "auto") {
                 o.isa_cap = 2;
                 return {};
             }
             const auto level = IndexOf(kIsaNames, v);
             if (!level) return "--isa: expected auto, sse2, avx or avx2, got '" + v + "'";
             if (*level > supported_isa) {
                 return "--isa " + v + ": this processor (with this operating system) offers at most " +
                        kIsaNames[static_cast<std::size_t>(supported_isa)];
             }
             o.isa_cap = static_cast<std::int32_t>(*level);
             return {};
         }}},
        {"--check", {false, [](const std::string&, CliOptions& o) {
             o.params.check = true;
             return std::string();
         }}},
        {"--help", {false, [](const std::string&, CliOptions& o) {
             o.show_help = true;
             return std::string();
         }}},
        {"--version", {false, [](const std::string&, CliOptions& o) {
             o.show_version = true;
             return std::string();
         }}},
    };
}
}  // namespace

const std::vector<std::string>& CliMethodNames() {
    static const std::vector<std::string> names = {"classic", "hp", "block-cache",
                                                   "block-pack-2x2", "vector-pack"};
    return names;
}

CliParseResult ParseCommandLine(const std::vector<std::string>& args, std::int32_t supported_isa) {
    CliParseResult result;
    const auto table = OptionTable(supported_isa);
    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "-h") name = "--help";
        const auto option = table.find(name);
        if (option == table.end()) {
            result.error = "unknown option '" + args[i] + "'";
            break;
        }
        if (option->second.takes_value && !value) {
            if (i + 1 >= args.size()) {
                result.error = name + ": missing value";
                break;
            }
            value = args[++i];
        } else if (!option->second.takes_value && value) {
            result.error = name + ": takes no value";
            break;
        }
        result.error = option->second.handle(value.value_or(""), result.options);
    }
    return result;
}

std::string CliUsage() {
    return "Usage: vorp-cli [options]\n"
           "Times one dense double-precision product C = A*B and prints the report.\n"
           "\n"
           "  --method M            0 classic, 1 hp, 2 block-cache, 3 block-pack-2x2,\n"
           "                        4 vector-pack (index or name; default 0)\n"
           "  -n N                  order of the matrices, 1 to 46340 (default 2000;\n"
           "                        rounded down to a multiple of the block size)\n"
           "  --l-block L           cache block size, at least 4 (default 176; rounded\n"
           "                        down to a multiple of 4, then lowered to n)\n"
           "  --threads T           threads of the parallel methods, 1 to 128 (default 1)\n"
           "  --chunk C             rows per chunk of method 1, 0 to 4294967295\n"
           "                        (default 100; lowered to n / threads)\n"
           "  --parallel-kind K     openmp or tbb (default openmp)\n"
           "  --check               recompute with the Classic method and compare\n"
           "  --isa I               auto, sse2, avx or avx2: the widest instruction set\n"
           "                        method 4 may use (default auto)\n"
           "  -h, --help            show this help\n"
           "  --version             show the version\n"
           "\n"
           "Exit status: 0 run completed without notice, 1 a notice was shown or the\n"
           "run stopped with \"Alloc Error\", 2 unusable arguments.\n";
}
