#include "cli_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "method_table.h"
#include "processor_info.h"
#include "reference_dgemm.h"
#include "run_plan.h"
#include "whole_number.h"

namespace {
// --isa values after "auto", in the order of VectorIsaCap::Sse2 onwards.
const std::vector<std::string> kIsaNames = {"sse2", "avx", "avx2", "avx512"};

VectorIsaCap CapAt(std::size_t index) {
    return static_cast<VectorIsaCap>(index + static_cast<std::size_t>(VectorIsaCap::Sse2));
}

std::size_t IndexOfCap(VectorIsaCap cap) {
    return static_cast<std::size_t>(cap) - static_cast<std::size_t>(VectorIsaCap::Sse2);
}

// A decimal number of seconds from 0 to kMaxMinTimeSeconds.
std::optional<double> ParseSeconds(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(value >= 0 && value <= kMaxMinTimeSeconds)) return std::nullopt;
    return value;
}

std::optional<long long> IndexOf(const std::vector<std::string>& names, const std::string& text) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == text) return static_cast<long long>(i);
    }
    return std::nullopt;
}

// "0 to 4": the indices of the method table.
std::string MethodIndexRange() { return "0 to " + std::to_string(kMethodTableSize - 1); }

// "classic, hp, ...": the keys of the method table.
std::string MethodKeys() {
    std::string keys;
    for (std::size_t i = 0; i < kMethodTableSize; ++i)
        keys += (i ? ", " : "") + std::string(MethodTable()[i].key);
    return keys;
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

std::map<std::string, OptionSpec> OptionTable(VectorIsaCap supported_isa) {
    const auto int_max = std::numeric_limits<std::int32_t>::max();
    return {
        {"--method",
         {true,
          [](const std::string& v, CliOptions& o) -> std::string {
              // One method, or several separated by commas ("3,4", "block-pack-2x2,vector-pack").
              o.methods.clear();
              std::size_t start = 0;
              for (;;) {
                  const std::size_t comma = v.find(',', start);
                  const std::string item = v.substr(
                      start, comma == std::string::npos ? std::string::npos : comma - start);
                  std::optional<long long> index = IndexOf(CliMethodNames(), item);
                  if (!index) {
                      const auto number = ParseWholeNumber(item);
                      if (number && FindMethod(static_cast<std::int32_t>(*number))) index = *number;
                  }
                  if (!index) {
                      return "--method: expected " + MethodIndexRange() + " or one of " +
                             MethodKeys() + " (several separated by commas), got '" + v + "'";
                  }
                  const auto method = static_cast<std::int32_t>(*index);
                  for (const std::int32_t earlier : o.methods) {
                      if (earlier == method)
                          return "--method: " + item + " is named twice in '" + v + "'";
                  }
                  o.methods.push_back(method);
                  if (comma == std::string::npos) break;
                  start = comma + 1;
              }
              o.params.method = o.methods.front();
              if (o.methods.size() == 1) o.methods.clear();
              return {};
          }}},
        {"-n",
         {true,
          [](const std::string& v, CliOptions& o) {
              return ReadNumber("-n", v, kMinOrder, kMaxOrder, o.params.n);
          }}},
        {"--l-block",
         {true,
          [int_max](const std::string& v, CliOptions& o) {
              return ReadNumber("--l-block", v, kMinBlock, int_max, o.params.l_block);
          }}},
        {"--threads",
         {true,
          [](const std::string& v, CliOptions& o) {
              return ReadNumber("--threads", v, kMinThreads, kMaxThreads, o.params.threads);
          }}},
        {"--chunk",
         {true,
          [](const std::string& v, CliOptions& o) {
              return ReadNumber("--chunk", v, 0, std::numeric_limits<std::uint32_t>::max(),
                                o.params.chunk);
          }}},
        {"--parallel-kind",
         {true,
          [](const std::string& v, CliOptions& o) -> std::string {
              if (v == "openmp")
                  o.params.parallel_kind = kParallelOpenMp;
              else if (v == "tbb")
                  o.params.parallel_kind = kParallelTbb;
              else
                  return "--parallel-kind: expected openmp or tbb, got '" + v + "'";
              return {};
          }}},
        {"--isa",
         {true,
          [supported_isa](const std::string& v, CliOptions& o) -> std::string {
              if (v == "auto") {
                  o.params.isa_cap = VectorIsaCap::Auto;
                  return {};
              }
              const auto index = IndexOf(kIsaNames, v);
              if (!index) return "--isa: expected auto, sse2, avx, avx2 or avx512, got '" + v + "'";
              const VectorIsaCap cap = CapAt(static_cast<std::size_t>(*index));
              if (cap > supported_isa) {
                  return "--isa " + v +
                         ": this processor (with this operating system) offers at most " +
                         kIsaNames[IndexOfCap(supported_isa)];
              }
              o.params.isa_cap = cap;
              return {};
          }}},
        {"--min-time",
         {true,
          [](const std::string& v, CliOptions& o) -> std::string {
              const auto seconds = ParseSeconds(v);
              if (!seconds)
                  return "--min-time: expected seconds from 0 to 3600, such as 0.5, got '" + v +
                         "'";
              o.min_time_seconds = *seconds;
              o.min_time_given = true;
              return {};
          }}},
        {"--check",
         {false,
          [](const std::string&, CliOptions& o) {
              o.params.check = true;
              return std::string();
          }}},
        {"--all",
         {false,
          [](const std::string&, CliOptions& o) {
              o.all_methods = true;
              return std::string();
          }}},
        {"--repeat",
         {true, [](const std::string& v,
                   CliOptions& o) { return ReadNumber("--repeat", v, 1, kMaxRepeat, o.repeat); }}},
        {"--warmup",
         {true,
          [](const std::string& v, CliOptions& o) {
              o.warmup_given = true;
              return ReadNumber("--warmup", v, 0, kMaxWarmup, o.warmup);
          }}},
        {"--format",
         {true,
          [](const std::string& v, CliOptions& o) -> std::string {
              if (v == "text")
                  o.format = OutputFormat::Text;
              else if (v == "csv")
                  o.format = OutputFormat::Csv;
              else if (v == "json")
                  o.format = OutputFormat::Json;
              else if (v == "markdown")
                  o.format = OutputFormat::Markdown;
              else
                  return "--format: expected text, csv, json or markdown, got '" + v + "'";
              return {};
          }}},
        {"--output",
         {true,
          [](const std::string& v, CliOptions& o) -> std::string {
              if (v.empty()) return "--output: expected a file name, or - for standard output";
              o.output_path = v;
              return {};
          }}},
        {"--sizes",
         {true,
          [](const std::string& v, CliOptions& o) {
              ListParse list = ParseSizeList(v);
              o.sizes = std::move(list.values);
              return list.error;
          }}},
        {"--threads-list",
         {true,
          [](const std::string& v, CliOptions& o) {
              ListParse list = ParseThreadList(v);
              o.thread_counts = std::move(list.values);
              return list.error;
          }}},
        {"--reference",
         {false,
          [](const std::string& v, CliOptions& o) -> std::string {
              if (v == "blis") {
                  o.reference_library = ReferenceLibrary::Blis;
              } else if (v.empty() || v == "openblas" || v == "openblas-own") {
                  o.reference_library = ReferenceLibrary::OpenBlas;
                  // Only a library not loaded yet reads the environment.
                  if (v == "openblas-own" && !o.reference_own_choice)
                      o.reference_dropped = LetOpenBlasChoose();
                  o.reference_own_choice = v == "openblas-own";
              } else {
                  return "--reference: expected openblas, openblas-own or blis, got '" + v + "'";
              }
              if (!ReferenceDgemmAvailable(o.reference_library)) {
                  return std::string("--reference: the system BLAS (") +
                         (v == "blis" ? "libblis.so.4" : "libopenblas.so.0") +
                         ") could not be loaded";
              }
              o.reference = true;
              return {};
          }}},
        {"--limits",
         {false,
          [](const std::string&, CliOptions& o) {
              o.limits = true;
              return std::string();
          }}},
        {"--verbose",
         {false,
          [](const std::string&, CliOptions& o) {
              o.verbose = true;
              return std::string();
          }}},
        {"--match",
         {true,
          [](const std::string& v, CliOptions& o) -> std::string {
              if (v == "method")
                  o.compare_match = CompareMatch::Method;
              else if (v == "threads")
                  o.compare_match = CompareMatch::Threads;
              else if (v == "n")
                  o.compare_match = CompareMatch::Order;
              else
                  return "--match: expected method, threads or n, got '" + v + "'";
              return {};
          }}},
        {"--help",
         {false,
          [](const std::string&, CliOptions& o) {
              o.show_help = true;
              return std::string();
          }}},
        {"--version",
         {false,
          [](const std::string&, CliOptions& o) {
              o.show_version = true;
              return std::string();
          }}},
    };
}
// Options that say the same thing two ways cannot be combined.
std::string ConflictBetween(const std::set<std::string>& given) {
    const std::pair<const char*, const char*> conflicts[] = {
        {"--all", "--method"}, {"--sizes", "-n"}, {"--threads-list", "--threads"}};
    for (const auto& [first, second] : conflicts) {
        if (given.count(first) && given.count(second)) {
            return std::string(first) + " and " + second + " cannot be combined";
        }
    }
    return {};
}
}  // namespace

const std::vector<std::string>& CliMethodNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> keys;
        for (std::size_t i = 0; i < kMethodTableSize; ++i) keys.emplace_back(MethodTable()[i].key);
        return keys;
    }();
    return names;
}

VectorIsaCap SupportedIsaCap() {
    switch (SupportedIsaLevel()) {
        case kIsaSse2:
            return VectorIsaCap::Sse2;
        case kIsaAvx:
            return VectorIsaCap::Avx;
        default:
            return TheProcessorInfo().RunsAvx512() ? VectorIsaCap::Avx512 : VectorIsaCap::Avx2;
    }
}

CliParseResult ParseCommandLine(const std::vector<std::string>& args, VectorIsaCap supported_isa) {
    CliParseResult result;
    const auto table = OptionTable(supported_isa);
    std::set<std::string> given;
    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "-h") name = "--help";
        if (name == "--compare") {
            if (value || i + 2 >= args.size()) {
                result.error = "--compare: expected two result files, OLD.json NEW.json";
                break;
            }
            result.options.compare_paths = {args[i + 1], args[i + 2]};
            i += 2;
            given.insert(name);
            continue;
        }
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
        } else if (!option->second.takes_value && value && name != "--reference") {
            result.error = name + ": takes no value";
            break;
        }
        given.insert(name);
        result.error = option->second.handle(value.value_or(""), result.options);
    }
    if (result.error.empty()) result.error = ConflictBetween(given);
    if (result.error.empty() && given.count("--compare") &&
        given.size() > 1 + given.count("--match")) {
        result.error = "--compare takes no other option but --match";
    }
    if (result.error.empty() && result.options.limits) {
        // Alone, or with the options that shape the limits and their output,
        // --limits measures the limits only.
        const std::set<std::string> shaping = {"--limits", "--threads", "--threads-list",
                                               "--format", "--output",  "--verbose"};
        result.options.limits_only =
            std::all_of(given.begin(), given.end(),
                        [&](const std::string& name) { return shaping.count(name) > 0; });
    }
    if (result.error.empty() && given.count("--match") && !given.count("--compare")) {
        result.error = "--match: only with --compare";
    }
    return result;
}

namespace {
// The help's layout: descriptions start at this column and no line passes
// the width, so that the help reads in an 80-column terminal.
constexpr std::size_t kHelpColumn = 24;
constexpr std::size_t kHelpWidth = 79;

// An option's lines of help: `head` ("  --method M"), then the pieces, a space
// apart, starting a new line at the description column before a piece that
// would pass the width.
std::string HelpEntry(const std::string& head, const std::vector<std::string>& pieces) {
    std::string text = head + std::string(kHelpColumn - head.size(), ' ');
    std::size_t line = text.size();
    bool first = true;
    for (const std::string& piece : pieces) {
        if (!first && line + 1 + piece.size() > kHelpWidth) {
            text += "\n" + std::string(kHelpColumn, ' ');
            line = kHelpColumn;
        } else if (!first) {
            text += ' ';
            ++line;
        }
        text += piece;
        line += piece.size();
        first = false;
    }
    return text + "\n";
}

// The words of `text`, to follow other pieces of a help entry.
void AppendWords(std::vector<std::string>& pieces, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// "0 classic, 1 hp, ..., 4 vector-pack": each index stays with its key.
std::string MethodHelp() {
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < kMethodTableSize; ++i) {
        const MethodEntry& m = MethodTable()[i];
        pieces.push_back(std::to_string(m.index) + " " + m.key +
                         (i + 1 < kMethodTableSize ? "," : ""));
    }
    AppendWords(pieces,
                "(index or name; default 0); several separated by commas (3,4) run in turn");
    return HelpEntry("  --method M", pieces);
}

// "methods 0 and 3 run once": the methods that are not parallel.
std::string ThreadListHelp() {
    std::vector<std::string> serial;
    for (std::size_t i = 0; i < kMethodTableSize; ++i) {
        if (!MethodTable()[i].parallel) serial.push_back(std::to_string(MethodTable()[i].index));
    }
    std::string methods;
    for (std::size_t i = 0; i < serial.size(); ++i) {
        methods += (i == 0 ? "" : i + 1 == serial.size() ? " and " : ", ") + serial[i];
    }
    std::vector<std::string> pieces;
    AppendWords(pieces, "thread counts to sweep, such as 1,2 (not with --threads);");
    if (!serial.empty()) {
        AppendWords(pieces, (serial.size() == 1 ? "method " + methods + " runs"
                                                : "methods " + methods + " run") +
                                " once, on one thread");
    }
    return HelpEntry("  --threads-list LIST", pieces);
}
}  // namespace

std::string CliUsage() {
    return "Usage: vorp-cli [options]\n"
           "       vorp-cli --compare OLD.json NEW.json [--match method|threads|n]\n"
           "Times one dense double-precision product C = A*B and prints the report.\n"
           "\n" +
           MethodHelp() +
           "  -n N                  order of the matrices, 1 to 46340 (default 2000;\n"
           "                        rounded down to a multiple of the block size)\n"
           "  --l-block L           cache block size, at least 4 (default 176; rounded\n"
           "                        down to a multiple of 4, then lowered to n)\n"
           "  --threads T           threads of the parallel methods, 1 to 128 (default 1)\n"
           "  --chunk C             rows per chunk of method 1, 0 to 4294967295\n"
           "                        (default 100; lowered to n / threads)\n"
           "  --parallel-kind K     openmp or tbb (default openmp)\n"
           "  --check               recompute with the Classic method and compare\n"
           "  --isa I               auto, sse2, avx, avx2 or avx512: the widest instruction\n"
           "                        set method 4 may use; avx and avx2 keep Tavrel_8x4 on\n"
           "                        its 256-bit form (default auto: the widest there is)\n"
           "\n"
           "Several runs at once (a progress line at a terminal, then a summary):\n"
           "  --all                 methods " +
           MethodIndexRange() +
           " in turn (not with --method)\n"
           "  --repeat R            at least R counted samples per point, 1 to 1000\n"
           "                        (default 1)\n"
           "  --min-time S          repeat each point until its counted samples add up to\n"
           "                        S seconds, 0 to 3600 (default 0.2 for sweeps, else 0);\n"
           "                        short runs are batched into samples of 10 ms or more\n"
           "  --warmup W            W uncounted runs before them, 0 to 100 (default 1:\n"
           "                        a process's first call of a product is never counted)\n"
           "  --verbose             also print each sample's report lines\n"
           "  --sizes LIST          orders to sweep: 200,400,800 or FROM:TO:STEP such as\n"
           "                        200:1000:200 (not with -n); each is normalised\n" +
           ThreadListHelp() +
           "  --reference[=LIB]     add a system BLAS dgemm as a reference row: openblas\n"
           "                        (default; OPENBLAS_CORETYPE may force its kernel, which\n"
           "                        is then said), openblas-own (OpenBLAS's own kernel\n"
           "                        choice whatever the environment says) or blis (its\n"
           "                        widest configuration here)\n"
           "  --format F            text, csv, json or markdown (default text): the\n"
           "                        summary, one CSV row per point, a JSON document with a\n"
           "                        context object and the results, or the summary as a\n"
           "                        Markdown table\n"
           "  --output FILE         write the results to FILE (- for standard output),\n"
           "                        replacing it only when the work ends with a figure\n"
           "                        (a FIFO or device is written into instead); text\n"
           "                        and CSV files start with \"#\" context lines; the\n"
           "                        summary still goes to a terminal\n"
           "  --limits              measure this machine's peaks (mul+add of each vector\n"
           "                        width, FMA beside) and triad bandwidth, for 1 thread\n"
           "                        and the threads asked; alone, only them; with a plan,\n"
           "                        first, and each point gets its share of its peak\n"
           "  --compare OLD NEW     compare two JSON result files point by point; exit 0\n"
           "                        none slower, 3 some point slower, 4 no point pairs\n"
           "  --match KEY           with --compare: pair points that differ only in KEY,\n"
           "                        method, threads or n\n"
           "\n"
           "  -h, --help            show this help\n"
           "  --version             show the version\n"
           "\n"
           "Statistics use a fine clock; GFLOPS are of the median and the fastest sample.\n"
           "Ctrl-C (or SIGTERM, SIGHUP) stops the run at hand and writes what completed\n"
           "(exit 130).\n"
           "\n"
           "Exit status: 0 every run completed without notice, 1 a notice was shown, a\n"
           "check failed or a run computed nothing (the summary names the runs), 2\n"
           "unusable arguments (nothing is run), 130 stopped by a signal.\n";
}
