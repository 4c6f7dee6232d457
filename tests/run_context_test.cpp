// The context of vorp-cli's results: the machine's files, the environment
// filter, the command line and the two written forms.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "run_context.h"

namespace fs = std::filesystem;

namespace {
// A directory of its own under the system's temporary directory, removed at the end.
class TempRoot {
public:
    TempRoot() {
        std::string pattern = (fs::temp_directory_path() / "vorp-context-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempRoot() { fs::remove_all(path_); }
    void Write(const std::string& relative, const std::string& text) const {
        const fs::path file = path_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    std::string Path() const { return path_.string(); }

private:
    fs::path path_;
};

const char* const kCacheDir = "sys/devices/system/cpu/cpu0/cache/";

void WriteCache(const TempRoot& root, const std::string& index, const char* level, const char* type,
                const char* size) {
    root.Write(kCacheDir + index + "/level", std::string(level) + "\n");
    root.Write(kCacheDir + index + "/type", std::string(type) + "\n");
    if (size) root.Write(kCacheDir + index + "/size", std::string(size) + "\n");
}

bool OnlyCommentLines(const std::string& text) {
    if (text.empty() || text.back() != '\n') return false;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (text.compare(start, 2, "# ") != 0) return false;
        for (std::size_t i = start; i < end; ++i) {
            if (text[i] < 0x20 || text[i] >= 0x7f) return false;
        }
    }
    return true;
}
}  // namespace

TEST(RunContextFiles, ReadsAHandMadeMachine) {
    TempRoot root;
    root.Write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Test CPU 9000\n\nprocessor\t: 1\n");
    root.Write("etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    WriteCache(root, "index3", "1", "Data", "48K");  // the kernel's numbering does not matter
    WriteCache(root, "index0", "1", "Instruction", "32K");
    WriteCache(root, "index1", "2", "Unified", "1024K");
    WriteCache(root, "index2", "3", "Unified", "32768K");
    const MachineFiles files = ReadMachineFiles(root.Path());
    EXPECT_EQ(files.cpu_model, "Test CPU 9000");
    EXPECT_EQ(files.os, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(files.caches.l1d, "48K");
    EXPECT_EQ(files.caches.l1i, "32K");
    EXPECT_EQ(files.caches.l2, "1024K");
    EXPECT_EQ(files.caches.l3, "32768K");
}

TEST(RunContextFiles, MissingFilesGiveUnknown) {
    TempRoot root;
    MachineFiles files = ReadMachineFiles(root.Path());
    EXPECT_EQ(files.cpu_model, "unknown");
    EXPECT_EQ(files.os, "unknown");
    EXPECT_EQ(files.caches.l1d, "unknown");
    EXPECT_EQ(files.caches.l3, "unknown");

    root.Write("usr/lib/os-release", "PRETTY_NAME='Fallback OS'\n");  // used without /etc/os-release
    WriteCache(root, "index0", "1", "Data", nullptr);
    WriteCache(root, "index1", "2", "Unified", "512K");
    files = ReadMachineFiles(root.Path());
    EXPECT_EQ(files.os, "Fallback OS");
    EXPECT_EQ(files.caches.l1d, "unknown");
    EXPECT_EQ(files.caches.l2, "512K");
    EXPECT_EQ(files.caches.l3, "unknown");
}

TEST(RunContextFiles, OsNameQuotingAndEscapes) {
    EXPECT_EQ(OsNameFrom("PRETTY_NAME=Plain\n"), "Plain");
    EXPECT_EQ(OsNameFrom("PRETTY_NAME=\"Say \\\"hi\\\" \\\\ now\"\n"), "Say \"hi\" \\ now");
    EXPECT_EQ(OsNameFrom("NAME=\"Only a name\"\nMY_PRETTY_NAME=x\n"), "unknown");
    EXPECT_EQ(OsNameFrom("PRETTY_NAME=\"\"\n"), "unknown");
}

TEST(RunContextEnvironment, KeepsThreadingAndReferenceVariablesSorted) {
    const std::vector<std::string> kept = {"GOMP_SPINCOUNT", "OMP_PLACES", "OPENBLAS_NUM_THREADS",
                                           "TAVREL_8X4_FORM"};
    const std::vector<std::string> left_out = {"OMPX_NOT_THIS", "MY_OMP_NOT_THIS", "TAVREL_8X4_FORMS"};
    for (const std::string& name : kept) setenv(name.c_str(), "{0,1}", 1);
    for (const std::string& name : left_out) setenv(name.c_str(), "1", 1);
    unsetenv("OMP_NUM_THREADS");
    const EnvironmentList found = ThreadingEnvironment();
    EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
    std::set<std::string> names;
    for (const auto& [name, value] : found) {
        names.insert(name);
        if (name == "OMP_PLACES") {
            EXPECT_EQ(value, "{0,1}");
        }
    }
    for (const std::string& name : kept) EXPECT_EQ(names.count(name), 1u) << name;
    for (const std::string& name : left_out) EXPECT_EQ(names.count(name), 0u) << name;
    EXPECT_EQ(names.count("OMP_NUM_THREADS"), 0u);
    for (const std::string& name : kept) unsetenv(name.c_str());
    for (const std::string& name : left_out) unsetenv(name.c_str());
}

TEST(RunContextCommandLine, QuotesOnlyWhatAShellWouldSplitOrExpand) {
    EXPECT_EQ(ShellQuoted({"./vorp-cli", "--sizes", "40:130:30", "--output=a,b.json", "-n", "400"}),
              "./vorp-cli --sizes 40:130:30 --output=a,b.json -n 400");
    EXPECT_EQ(ShellQuoted({"vorp-cli", "a b", "", "it's", "$HOME", "x;y", "*"}),
              "vorp-cli 'a b' '' 'it'\\''s' '$HOME' 'x;y' '*'");
}

TEST(RunContextOutput, CommentsStayOneLineOfPrintableAsciiEach) {
    RunContext context;
    context.cpu_model = "Two\nLines";
    context.os = "OS\r";
    context.reference = "lib\x01\xc3\xa9";
    context.command_line = {"vorp-cli", "--output", "new\nline"};
    context.environment = {{"OMP_PLACES", "a\nb"}};
    context.threads = {1, 2};
    const std::string comments = FormatContextComments(context);
    EXPECT_TRUE(OnlyCommentLines(comments)) << comments;
    EXPECT_EQ(comments.rfind("# cpu: Two Lines\n", 0), 0u);  // the plot script names the machine by it
    EXPECT_NE(comments.find("# threads: 1,2\n"), std::string::npos);
    EXPECT_NE(comments.find("# reference: lib???\n"), std::string::npos);
    EXPECT_NE(comments.find("# load average: unknown\n"), std::string::npos);

    context.reference.clear();
    context.environment.clear();
    context.load_average = {0.12, 0.345, 1.5};
    const std::string plain = FormatContextComments(context);
    EXPECT_EQ(plain.find("# reference:"), std::string::npos);
    EXPECT_NE(plain.find("# environment: none\n"), std::string::npos);
    EXPECT_NE(plain.find("# load average: 0.12 0.34 1.50\n"), std::string::npos);
}

TEST(RunContextOutput, JsonKeysAndBytesThatAreNotUtf8) {
    RunContext context;
    context.cpu_model = "Chip \xff";  // would make dump() throw if passed through
    context.load_average = {0.5, 0.25, 0.125};
    context.environment = {{"OMP_NUM_THREADS", "2"}};
    const nlohmann::json json = ContextJson(context);
    std::set<std::string> keys;
    for (const auto& item : json.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{
                        "program", "version", "commit", "date", "cpu_model", "cores", "caches", "os",
                        "kernel", "isa_level", "isa", "vector_kernel", "threads", "warmup", "repeat",
                        "min_time_seconds", "compiler", "compile_flags", "build_type", "reference", "command",
                        "environment", "load_average"}));
    EXPECT_EQ(json["caches"], (nlohmann::json{{"L1d", "unknown"}, {"L1i", "unknown"}, {"L2", "unknown"},
                                              {"L3", "unknown"}}));
    EXPECT_EQ(json["environment"]["OMP_NUM_THREADS"], "2");
    EXPECT_EQ(json["load_average"], (nlohmann::json{0.5, 0.25, 0.125}));
    EXPECT_TRUE(json["reference"].is_null());
    EXPECT_NO_THROW(json.dump());
}

TEST(RunContextCollect, KeepsTheCommandLineAndTheBuildsCommit) {
    CliOptions options;
    const RunContext context = CollectRunContext(options, {"vorp-cli", "--all"});
    EXPECT_EQ(ShellQuoted(context.command_line), "vorp-cli --all");
    EXPECT_GE(context.cores, 1);
    EXPECT_EQ(context.load_average.size(), 3u);
    EXPECT_TRUE(std::regex_match(context.commit, std::regex("unknown|[0-9a-f]{7,}(-dirty)?")))
        << context.commit;
}
