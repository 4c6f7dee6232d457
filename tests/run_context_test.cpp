// The context of vorp-cli's results: the machine's files, the environment
// filter, the command line and the two written forms.
#include <elf.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "reference_dgemm.h"
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

// A processor described leaf by leaf; leaves it lacks answer zeros, as cpuid
// does beyond the highest leaf.
class FakeCpuid {
public:
    FakeCpuid& Set(std::uint32_t leaf, std::uint32_t subleaf, CpuidRecord record) {
        records_[{leaf, subleaf}] = record;
        return *this;
    }
    // `twelve`: the vendor string, twelve characters.
    FakeCpuid& Vendor(const char* twelve, std::uint32_t highest_leaf) {
        CpuidRecord leaf0;
        leaf0.eax = highest_leaf;
        std::memcpy(&leaf0.ebx, twelve, 4);
        std::memcpy(&leaf0.edx, twelve + 4, 4);
        std::memcpy(&leaf0.ecx, twelve + 8, 4);
        return Set(0, 0, leaf0);
    }
    CpuidFunction Function() const {
        return [records = records_](std::uint32_t leaf, std::uint32_t subleaf) {
            const auto found = records.find({leaf, subleaf});
            return found == records.end() ? CpuidRecord{} : found->second;
        };
    }

private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, CpuidRecord> records_;
};

// EAX/EBX/ECX of a deterministic cache parameters sub-leaf (leaf 4 and 0x8000001D).
CpuidRecord CacheLeaf(std::uint32_t type, std::uint32_t level, std::uint32_t ways,
                      std::uint32_t sets) {
    constexpr std::uint32_t kLine = 64;
    return {type | level << 5, (ways - 1) << 22 | (kLine - 1), sets - 1, 0};
}
constexpr std::uint32_t kData = 1, kInstruction = 2, kUnified = 3;

// An AMD processor with the topology extensions (0x80000001 ECX bit 22) and
// these four caches in 0x8000001D: 48K, 32K, 1M and 32M.
FakeCpuid AmdWithCacheTopology() {
    FakeCpuid cpuid;
    cpuid.Vendor("AuthenticAMD", 0x10)
        .Set(0x80000000, 0, {0x80000021, 0, 0, 0})
        .Set(0x80000001, 0, {0, 0, 1u << 22, 0})
        .Set(0x8000001D, 0, CacheLeaf(kData, 1, 12, 64))
        .Set(0x8000001D, 1, CacheLeaf(kInstruction, 1, 8, 64))
        .Set(0x8000001D, 2, CacheLeaf(kUnified, 2, 16, 1024))
        .Set(0x8000001D, 3, CacheLeaf(kUnified, 3, 16, 32768));
    return cpuid;
}

std::map<std::string, std::uint64_t> CacheBytes(const std::vector<CpuidCache>& caches) {
    std::map<std::string, std::uint64_t> bytes;
    for (const CpuidCache& cache : caches) {
        const char* kind = cache.kind == CacheKind::Data          ? "d"
                           : cache.kind == CacheKind::Instruction ? "i"
                                                                  : "";
        bytes["L" + std::to_string(cache.level) + kind] = cache.bytes;
    }
    return bytes;
}

// A minimal 64-bit ELF file of this byte order: the null section, the
// section name table and a .comment section holding `comment`.
std::string ElfWithComment(const std::string& comment) {
    const char name_table[] = "\0.shstrtab\0.comment";
    const std::string names(name_table, sizeof name_table);
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_version = EV_CURRENT;
    header.e_ehsize = sizeof header;
    header.e_shentsize = sizeof(Elf64_Shdr);
    header.e_shnum = 3;
    header.e_shstrndx = 1;
    const std::uint64_t names_at = sizeof header;
    const std::uint64_t comment_at = names_at + names.size();
    header.e_shoff = comment_at + comment.size();
    Elf64_Shdr sections[3]{};
    sections[1].sh_name = 1;  // ".shstrtab"
    sections[1].sh_type = SHT_STRTAB;
    sections[1].sh_offset = names_at;
    sections[1].sh_size = names.size();
    sections[2].sh_name = 11;  // ".comment"
    sections[2].sh_type = SHT_PROGBITS;
    sections[2].sh_offset = comment_at;
    sections[2].sh_size = comment.size();
    std::string file(reinterpret_cast<const char*>(&header), sizeof header);
    file += names + comment;
    file.append(reinterpret_cast<const char*>(sections), sizeof sections);
    return file;
}

// A context whose every field has a value, none of them this machine's.
RunContext FullContext() {
    RunContext context;
    context.version = "1.0.0";
    context.date = "2024-05-01T12:00:00Z";
    context.cpu_model = "Test CPU";
    context.cpu_id = {"AuthenticAMD", 26, 2, 1};
    context.microcode = "0x1000065";
    context.cores = 4;
    context.smt_active = 1;
    context.threads_per_core = 2;
    context.numa_nodes = 2;
    context.memory_bytes = std::uint64_t{24683772} * 1024;
    context.frequency = {2400000, 3700000, "performance"};
    context.caches = {"48K", "32K", "1024K", "32768K"};
    context.glibc = "2.36";
    context.huge_pages = {"madvise", "never"};
    context.compiler = "GCC 12.2.0";
    context.compile_flags = "-O3 -DNDEBUG";
    context.build_flags = {{"Tavrel_8x4",
                            "-O3 -ffp-contract=off",
                            {{"packing.cpp", "-mavx"},
                             {"kernel_k1.cpp", "-mavx"},
                             {"kernel_8x4x16_avx512.cpp", "-mavx512f"}}},
                           {"vorp_run", "-O3", {}}};
    context.build_type = "Release";
    context.openmp_runtime = {"/lib/libgomp.so.1.0.0", "GCC 12.2.0", "", "compiler"};
    context.openblas = {"/lib/libopenblasp-r0.3.21.so", "OpenBLAS 0.3.21 DYNAMIC_ARCH Haswell",
                        "Haswell", ""};
    context.blis = {"/lib/libblis.so.4", "0.9.0", "", ""};
    context.threads = {1, 2};
    context.command_line = {"vorp-cli", "--all"};
    context.environment = {{"GLIBC_TUNABLES", "glibc.malloc.hugetlb=1"},
                           {"OMP_PROC_BIND", "close"}};
    context.set_by_vorp_cli = {{"BLIS_ARCH_TYPE", "3"},
                               {"OPENBLAS_CORETYPE", std::nullopt},
                               {"OPENBLAS_L2_SIZE", std::nullopt}};
    context.load_average = {0.5, 0.25, 0.125};
    return context;
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
    root.Write("proc/cpuinfo",
               "processor\t: 0\nmodel name\t: Test CPU 9000\nmicrocode\t: 0xa20102e\n\n"
               "processor\t: 1\nmicrocode\t: 0xffff\n");
    root.Write("proc/meminfo", "MemTotal:       24683772 kB\nMemFree:        21713684 kB\n");
    root.Write("sys/devices/system/cpu/smt/active", "1\n");
    root.Write("sys/devices/system/cpu/cpu0/topology/thread_siblings_list", "0,64\n");
    root.Write("sys/devices/system/node/node0/meminfo", "");
    root.Write("sys/devices/system/node/node1/meminfo", "");
    root.Write("sys/devices/system/node/possible", "0-1\n");  // not a node
    root.Write("sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "2400000\n");
    root.Write("sys/devices/system/cpu/cpu0/cpufreq/scaling_max_freq", "3700000\n");
    root.Write("sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "performance\n");
    root.Write("sys/kernel/mm/transparent_hugepage/enabled", "always [madvise] never\n");
    root.Write("sys/kernel/mm/transparent_hugepage/defrag",
               "always defer defer+madvise madvise [never]\n");
    root.Write("etc/os-release",
               "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
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
    EXPECT_EQ(files.microcode, "0xa20102e");  // the first processor's
    EXPECT_EQ(files.memory_bytes, std::uint64_t{24683772} * 1024);
    EXPECT_EQ(files.smt_active, 1);
    EXPECT_EQ(files.threads_per_core, 2);
    EXPECT_EQ(files.numa_nodes, 2);
    EXPECT_EQ(files.frequency.current_khz, 2400000);
    EXPECT_EQ(files.frequency.max_khz, 3700000);
    EXPECT_EQ(files.frequency.governor, "performance");
    EXPECT_EQ(files.huge_pages.enabled, "madvise");
    EXPECT_EQ(files.huge_pages.defrag, "never");
}

TEST(RunContextFiles, MissingFilesGiveUnknown) {
    TempRoot root;
    MachineFiles files = ReadMachineFiles(root.Path());
    EXPECT_EQ(files.cpu_model, "unknown");
    EXPECT_EQ(files.os, "unknown");
    EXPECT_EQ(files.caches.l1d, "unknown");
    EXPECT_EQ(files.caches.l3, "unknown");
    EXPECT_EQ(files.microcode, "unknown");
    EXPECT_EQ(files.memory_bytes, 0u);
    EXPECT_EQ(files.smt_active, -1);
    EXPECT_EQ(files.threads_per_core, 0);
    EXPECT_EQ(files.numa_nodes, 0);
    EXPECT_EQ(files.frequency.current_khz, 0);
    EXPECT_EQ(files.frequency.max_khz, 0);
    EXPECT_EQ(files.frequency.governor, "");
    EXPECT_EQ(files.huge_pages.enabled, "unknown");
    EXPECT_EQ(files.huge_pages.defrag, "unknown");

    root.Write("usr/lib/os-release",
               "PRETTY_NAME='Fallback OS'\n");  // used without /etc/os-release
    WriteCache(root, "index0", "1", "Data", nullptr);
    WriteCache(root, "index1", "2", "Unified", "512K");
    files = ReadMachineFiles(root.Path());
    EXPECT_EQ(files.os, "Fallback OS");
    EXPECT_EQ(files.caches.l1d, "unknown");
    EXPECT_EQ(files.caches.l2, "512K");
    EXPECT_EQ(files.caches.l3, "unknown");

    // Without smt/active, cpu0's siblings tell; a frequency that is not a
    // number is not shown.
    root.Write("sys/devices/system/cpu/cpu0/topology/thread_siblings_list", "0-1\n");
    root.Write("sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "<unsupported>\n");
    root.Write("proc/meminfo", "MemTotal: lots\n");
    files = ReadMachineFiles(root.Path());
    EXPECT_EQ(files.smt_active, 1);
    EXPECT_EQ(files.threads_per_core, 2);
    EXPECT_EQ(files.frequency.current_khz, 0);
    EXPECT_EQ(files.memory_bytes, 0u);
    root.Write("sys/devices/system/cpu/cpu0/topology/thread_siblings_list", "3\n");
    EXPECT_EQ(ReadMachineFiles(root.Path()).smt_active, 0);
}

// A CPU list or a choice the kernel did not write as it should counts as not
// shown, never as a guess.
TEST(RunContextFiles, KernelChoicesAndCpuLists) {
    TempRoot root;
    const auto read = [&](const std::string& file, const std::string& text) {
        root.Write(file, text + "\n");
        return ReadMachineFiles(root.Path());
    };
    const std::string siblings = "sys/devices/system/cpu/cpu0/topology/thread_siblings_list";
    EXPECT_EQ(read(siblings, "0-3,8,10-11").threads_per_core, 7);
    for (const char* list : {"", "3-1", "0,,1", "0-1-2", "1,", "-1", "zero"}) {
        const MachineFiles files = read(siblings, list);
        EXPECT_EQ(files.threads_per_core, 0) << list;
        EXPECT_EQ(files.smt_active, -1) << list;
    }

    const std::string enabled = "sys/kernel/mm/transparent_hugepage/enabled";
    EXPECT_EQ(read(enabled, "[always] never").huge_pages.enabled, "always");
    for (const char* choice : {"always madvise never", "always [madvise", "[]"}) {
        EXPECT_EQ(read(enabled, choice).huge_pages.enabled, "unknown") << choice;
    }
}

TEST(RunContextFiles, OsNameQuotingAndEscapes) {
    TempRoot root;
    for (const auto& [os_release, name] : std::vector<std::pair<std::string, std::string>>{
             {"PRETTY_NAME=Plain", "Plain"},
             {R"(PRETTY_NAME="Say \"hi\" \\ now")", R"(Say "hi" \ now)"},
             {"NAME=\"Only a name\"\nMY_PRETTY_NAME=x", "unknown"},
             {"PRETTY_NAME=\"\"", "unknown"},
         }) {
        root.Write("etc/os-release", os_release + "\n");
        EXPECT_EQ(ReadMachineFiles(root.Path()).os, name) << os_release;
    }
}

TEST(RunContextCpuid, IdentityFollowsTheExtendedFamilyAndModelRules) {
    struct Case {
        const char* why;
        const char* vendor;
        std::uint32_t signature;  // leaf 1 EAX
        std::int32_t family, model, stepping;
    };
    for (const Case& c : {
             Case{"AMD Zen 5: base family 0xF plus extended family 0xB", "AuthenticAMD", 0x00B00F21,
                  26, 2, 1},
             Case{"Intel family 6: the extended model is the model's high digit", "GenuineIntel",
                  0x000906EA, 6, 0x9E, 10},
             Case{"family 0xF takes both extensions", "AuthenticAMD", 0x00A50F00, 0xF + 0xA, 0x50,
                  0},
             Case{"another family takes neither", "GenuineIntel", 0x0FF10552, 5, 5, 2},
         }) {
        SCOPED_TRACE(c.why);
        FakeCpuid cpuid;
        cpuid.Vendor(c.vendor, 1).Set(1, 0, {c.signature, 0, 0, 0});
        const ProcessorIdentity id = IdentifyProcessor(cpuid.Function());
        EXPECT_EQ(id.vendor, c.vendor);
        EXPECT_EQ(id.family, c.family);
        EXPECT_EQ(id.model, c.model);
        EXPECT_EQ(id.stepping, c.stepping);
    }

    // Without leaf 1 only the vendor is known; without anything, nothing.
    FakeCpuid leaf0_only;
    leaf0_only.Vendor("GenuineIntel", 0);
    ProcessorIdentity id = IdentifyProcessor(leaf0_only.Function());
    EXPECT_EQ(id.vendor, "GenuineIntel");
    EXPECT_EQ(id.family, -1);
    id = IdentifyProcessor(FakeCpuid().Function());
    EXPECT_EQ(id.vendor, "unknown");
    EXPECT_EQ(id.model, -1);
}

TEST(RunContextCpuid, CachesFromTheDeterministicLeaves) {
    EXPECT_EQ(CacheBytes(CachesFromCpuid(AmdWithCacheTopology().Function())),
              (std::map<std::string, std::uint64_t>{
                  {"L1d", 48 << 10}, {"L1i", 32 << 10}, {"L2", 1 << 20}, {"L3", 32 << 20}}));

    // Intel: leaf 4, with partitions counted; 0x80000005 is reserved there
    // and must not be read.
    FakeCpuid intel;
    CpuidRecord l2 = CacheLeaf(kUnified, 2, 20, 1024);
    intel.Vendor("GenuineIntel", 0x1b)
        .Set(4, 0, CacheLeaf(kData, 1, 12, 64))
        .Set(4, 1, CacheLeaf(kInstruction, 1, 8, 64))
        .Set(4, 2, l2)
        .Set(4, 3, CacheLeaf(kUnified, 3, 12, 49152))
        .Set(0x80000000, 0, {0x80000008, 0, 0, 0})
        .Set(0x80000005, 0, {0, 0, 0xff000000, 0xff000000});
    EXPECT_EQ(CacheBytes(CachesFromCpuid(intel.Function())),
              (std::map<std::string, std::uint64_t>{
                  {"L1d", 48 << 10}, {"L1i", 32 << 10}, {"L2", 1280 << 10}, {"L3", 36 << 20}}));
    l2.ebx |= 1u << 12;  // two partitions
    intel.Set(4, 2, l2);
    EXPECT_EQ(CacheBytes(CachesFromCpuid(intel.Function()))["L2"], 2560u << 10);

    // A list that never ends stops at its bound; reserved kinds are skipped.
    FakeCpuid endless;
    endless.Vendor("GenuineIntel", 4).Set(4, 0, CacheLeaf(7, 1, 1, 1));
    for (std::uint32_t subleaf = 1; subleaf < 100; ++subleaf)
        endless.Set(4, subleaf, CacheLeaf(kData, 1, 1, 1));
    EXPECT_EQ(CachesFromCpuid(endless.Function()).size(), 15u);
}

TEST(RunContextCpuid, OlderAmdReportsWithoutTheTopologyLeaf) {
    // 0x8000001D present but the topology extensions flag clear: not used.
    FakeCpuid amd = AmdWithCacheTopology();
    amd.Set(0x80000001, 0, {})
        .Set(0x80000005, 0, {0, 0, 64u << 24, 64u << 24})    // L1d and L1i in KiB
        .Set(0x80000006, 0, {0, 0, 512u << 16, 16u << 18});  // L2 in KiB, L3 in 512 KiB
    EXPECT_EQ(CacheBytes(CachesFromCpuid(amd.Function())),
              (std::map<std::string, std::uint64_t>{
                  {"L1d", 64 << 10}, {"L1i", 64 << 10}, {"L2", 512 << 10}, {"L3", 8 << 20}}));

    // Other vendors: only the L2 of 0x80000006, whose L3 field is reserved.
    FakeCpuid other;
    other.Vendor("GenuineIntel", 2)
        .Set(0x80000000, 0, {0x80000008, 0, 0, 0})
        .Set(0x80000006, 0, {0, 0, 256u << 16, 0xffffffff});
    EXPECT_EQ(CacheBytes(CachesFromCpuid(other.Function())),
              (std::map<std::string, std::uint64_t>{{"L2", 256 << 10}}));

    // Nothing described, nothing found.
    EXPECT_TRUE(CachesFromCpuid(FakeCpuid().Function()).empty());
}

TEST(RunContextCpuid, FillsOnlyWhatSysfsLacks) {
    CacheSizes from_files;
    from_files.l1d = "64K";  // sysfs wins where it speaks
    from_files.l3 = "16384K";
    const CacheSizes caches =
        WithCpuidCaches(from_files, CachesFromCpuid(AmdWithCacheTopology().Function()));
    EXPECT_EQ(caches.l1d, "64K");
    EXPECT_EQ(caches.l1i, "32K");
    EXPECT_EQ(caches.l2, "1024K");
    EXPECT_EQ(caches.l3, "16384K");
}

TEST(RunContextEnvironment, KeepsThreadingAndReferenceVariablesSorted) {
    const std::vector<std::string> kept = {"GOMP_SPINCOUNT",       "OMP_PLACES",
                                           "OPENBLAS_NUM_THREADS", "BLIS_NUM_THREADS",
                                           "TAVREL_8X4_FORM",      "GLIBC_TUNABLES"};
    const std::vector<std::string> left_out = {"OMPX_NOT_THIS", "MY_OMP_NOT_THIS",
                                               "TAVREL_8X4_FORMS", "GLIBC_TUNABLES_NOT_THIS"};
    for (const std::string& name : kept) setenv(name.c_str(), "{0,1}", 1);
    for (const std::string& name : left_out) setenv(name.c_str(), "1", 1);
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
    for (const std::string& name : kept) unsetenv(name.c_str());
    for (const std::string& name : left_out) unsetenv(name.c_str());
}

TEST(RunContextEnvironment, TheUsersVariablesAreThoseOfTheStart) {
    const char* const kLater = "OMP_VORP_CONTEXT_LATER";
    setenv(kLater, "1", 1);
    const auto has = [&](const EnvironmentList& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](const auto& item) { return item.first == kLater; });
    };
    EXPECT_TRUE(has(ThreadingEnvironment()));
    EXPECT_FALSE(has(StartupEnvironment()));

    // What the process set since is vorp-cli's, apart from the user's.
    const RunContext context = CollectRunContext(CliOptions{}, {"vorp-cli"});
    EXPECT_FALSE(has(context.environment));
    const auto change = std::find_if(context.set_by_vorp_cli.begin(), context.set_by_vorp_cli.end(),
                                     [&](const EnvironmentChange& c) { return c.name == kLater; });
    ASSERT_NE(change, context.set_by_vorp_cli.end());
    EXPECT_EQ(change->value, "1");
    unsetenv(kLater);
}

TEST(RunContextEnvironment, ChangesAndTheLibrariesTheySpeakTo) {
    // Added, changed and removed variables count, an unchanged one does not;
    // each library gets one line, in the order of the names.
    const EnvironmentList before = {{"GLIBC_TUNABLES", "x"},
                                    {"OMP_NUM_THREADS", "2"},
                                    {"OMP_PLACES", "cores"},
                                    {"OPENBLAS_CORETYPE", "Haswell"}};
    const EnvironmentList after = {{"BLIS_ARCH_TYPE", "3"}, {"GLIBC_TUNABLES", "y"},
                                   {"GOMP_SPINCOUNT", "0"}, {"OMP_NUM_THREADS", "4"},
                                   {"OMP_PLACES", "cores"}, {"TAVREL_8X4_FORM", "avx"}};
    RunContext context;
    context.set_by_vorp_cli = EnvironmentChanges(before, after);
    const std::string comments = FormatContextComments(context);
    EXPECT_NE(comments.find("# environment: none\n"
                            "# set by vorp-cli for BLIS: BLIS_ARCH_TYPE=3\n"
                            "# set by vorp-cli for glibc: GLIBC_TUNABLES=y\n"
                            "# set by vorp-cli for OpenMP: GOMP_SPINCOUNT=0 OMP_NUM_THREADS=4\n"
                            "# set by vorp-cli for OpenBLAS: -u OPENBLAS_CORETYPE\n"
                            "# set by vorp-cli for Tavrel_8x4: TAVREL_8X4_FORM=avx\n"
                            "# openmp runtime: "),
              std::string::npos)
        << comments;
}

TEST(RunContextBuildFlags, KeepsTheWordsThatChangeTheCode) {
    for (const char* word :
         {"-O3", "-O0", "-Ofast", "-march=native", "-mavx512f", "-mno-fma", "-fopenmp",
          "-ffp-contract=off", "-fno-omit-frame-pointer", "-fsanitize=address,undefined", "-fPIC",
          "-DNDEBUG", "-pg", "--coverage"}) {
        EXPECT_TRUE(ShapesCode(word)) << word;
    }
    for (const char* word :
         {"/usr/bin/c++", "-Wall", "-Werror", "-I/work/include", "-DTavrel_EXPORTS", "-std=c++17",
          "-o", "-c", "-g", "-MD", "-fdiagnostics-color=always", "-fvisibility=hidden",
          "-fvisibility-inlines-hidden", "-fmessage-length=0", "x.cpp"}) {
        EXPECT_FALSE(ShapesCode(word)) << word;
    }
}

TEST(RunContextBuildFlags, CommonFlagsAndWhatSingleSourcesAdd) {
    const std::string base =
        "/usr/bin/c++ -DLIB_EXPORTS -I/src/include -O3 -DNDEBUG -fPIC -Wall -ffp-contract=off";
    const std::vector<CompileRecord> records = {
        {"Tavrel_8x4", "state.cpp", base + " -std=c++17 -o a.o -c /src/state.cpp"},
        {"vorp_methods", "classic.cpp",
         "/usr/bin/c++ -O3 -DNDEBUG -fopenmp -o m.o -c /src/classic.cpp"},
        {"Tavrel_8x4", "packing.cpp", base + " -mavx -o b.o -c /src/packing.cpp"},
        {"vorp_methods", "hp.cpp",
         "/usr/bin/c++ -O3 -DNDEBUG -fopenmp -ffp-contract=fast -o h.o -c /src/hp.cpp"},
        {"Tavrel_8x4", "avx512.cpp", base + " -mavx512f -mavx512f -o c.o -c /src/avx512.cpp"},
    };
    const std::vector<ProductFlags> summary = SummariseBuildFlags(records);
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(summary[0].product, "Tavrel_8x4");
    EXPECT_EQ(summary[0].common, "-O3 -DNDEBUG -fPIC -ffp-contract=off");
    EXPECT_EQ(summary[0].extra, (std::vector<std::pair<std::string, std::string>>{
                                    {"packing.cpp", "-mavx"}, {"avx512.cpp", "-mavx512f"}}));
    EXPECT_EQ(summary[1].product, "vorp_methods");
    EXPECT_EQ(summary[1].common, "-O3 -DNDEBUG -fopenmp");
    EXPECT_EQ(summary[1].extra,
              (std::vector<std::pair<std::string, std::string>>{{"hp.cpp", "-ffp-contract=fast"}}));
    EXPECT_TRUE(SummariseBuildFlags({}).empty());
}

// The flags come from this build's own compile commands: those its
// CMakeLists set for the kernel libraries and the methods must be there.
TEST(RunContextBuildFlags, ThisBuildsCommandsAreRecorded) {
    const std::vector<CompileRecord> records = BuiltCompileRecords();
    if (records.empty()) GTEST_SKIP() << "this generator writes no compile_commands.json";
    std::map<std::string, ProductFlags> by_product;
    for (const ProductFlags& flags : SummariseBuildFlags(records))
        by_product[flags.product] = flags;
    ASSERT_EQ(by_product.size(), 4u);
    const auto words = [](const std::string& text) {
        std::set<std::string> set;
        std::istringstream stream(text);
        for (std::string word; stream >> word;) set.insert(word);
        return set;
    };
    const auto added = [&](const std::string& product, const std::string& source) {
        for (const auto& [name, flags] : by_product[product].extra) {
            if (name == source) return words(flags);
        }
        return std::set<std::string>{};
    };
    EXPECT_EQ(words(by_product["Tavrel_8x4"].common).count("-ffp-contract=off"), 1u);
    EXPECT_EQ(added("Tavrel_8x4", "packing.cpp").count("-mavx"), 1u);
    EXPECT_EQ(added("Tavrel_8x4", "kernel_avx512.cpp").count("-mavx512f"), 1u);
    EXPECT_EQ(words(by_product["Tavrel"].common).count("-msse3"), 1u);
    EXPECT_EQ(words(by_product["vorp_methods"].common).count("-fopenmp"), 1u);
    EXPECT_EQ(added("vorp_methods", "hp.cpp").count("-ffp-contract=fast"), 1u);
    EXPECT_EQ(added("vorp_methods", "block_cache.cpp").count("-ffp-contract=fast"), 1u);
    EXPECT_TRUE(by_product.count("vorp_run"));
}

TEST(RunContextLibraries, ElfCommentNamesTheCompilers) {
    TempRoot root;
    // Each compiler's string ends in a NUL; a linked object repeats them.
    const char comment[] =
        "GCC: (Debian 12.2.0-14) 12.2.0\0GCC: (Debian 12.2.0-14) 12.2.0\0clang version 17";
    root.Write("lib.so", ElfWithComment(std::string(comment, sizeof comment)));
    EXPECT_EQ(ElfComment(root.Path() + "/lib.so"),
              "GCC: (Debian 12.2.0-14) 12.2.0; clang version 17");

    // Files that give none: stripped, cut short, of the other class, a
    // linker script, absent.
    std::string other_class = ElfWithComment("GCC: 1");
    other_class[EI_CLASS] = ELFCLASS32;
    root.Write("stripped.so", ElfWithComment(""));
    root.Write("truncated.so", ElfWithComment("GCC: 1").substr(0, sizeof(Elf64_Ehdr) + 10));
    root.Write("elf32.so", other_class);
    root.Write("text.so", "GROUP ( libc.so.6 )\n");
    for (const char* name : {"stripped.so", "truncated.so", "elf32.so", "text.so", "absent.so"}) {
        EXPECT_EQ(ElfComment(root.Path() + "/" + name), "") << name;
    }
}

TEST(RunContextLibraries, TheOpenMpRuntimeSaysWhereItsVersionComesFrom) {
    LoadedLibrary runtime =
        OpenMpRuntimeAt("/lib/libgomp.so.1.0.0", "GCC: (GNU) 13.2.1", "GCC 12.2.0");
    EXPECT_EQ(runtime.version, "GCC: (GNU) 13.2.1");
    EXPECT_EQ(runtime.version_source, "library");
    runtime = OpenMpRuntimeAt("/lib/libgomp.so.1.0.0", "", "GCC 12.2.0");
    EXPECT_EQ(runtime.version, "GCC 12.2.0");
    EXPECT_EQ(runtime.version_source, "compiler");
}

// The versions are asked of the copy the reference row loaded.
TEST(RunContextLibraries, ReferenceLibrariesAnswerOnceLoaded) {
    if (ReferenceDgemmAvailable(ReferenceLibrary::OpenBlas)) {
        const LoadedLibrary openblas = LoadedOpenBlas();
        EXPECT_NE(openblas.path, "");
        EXPECT_EQ(openblas.version.rfind("OpenBLAS ", 0), 0u) << openblas.version;
        EXPECT_NE(openblas.core, "unknown");
    }
    if (ReferenceDgemmAvailable(ReferenceLibrary::Blis)) {
        const LoadedLibrary blis = LoadedBlis();
        EXPECT_NE(blis.path, "");
        EXPECT_TRUE(std::regex_match(blis.version, std::regex("[0-9]+\\.[0-9]+.*")))
            << blis.version;
    }
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
    EXPECT_EQ(comments.rfind("# cpu: Two Lines\n", 0),
              0u);  // the plot script names the machine by it
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

TEST(RunContextOutput, EveryFieldInTheCommentsAndTheText) {
    const RunContext context = FullContext();
    const std::string comments = FormatContextComments(context);
    EXPECT_TRUE(OnlyCommentLines(comments)) << comments;
    for (const char* line : {
             "# cpu id: AuthenticAMD family 26 model 2 stepping 1, microcode 0x1000065\n",
             "# smt: on, 2 threads per core\n",
             "# numa nodes: 2\n",
             "# memory: 23.5 GiB (MemTotal 24683772 kB)\n",
             "# cpu frequency: current 2400 MHz, max 3700 MHz, governor performance\n",
             "# glibc: 2.36\n",
             "# transparent huge pages: enabled madvise, defrag never\n",
             "# flags Tavrel_8x4: -O3 -ffp-contract=off; -mavx: packing.cpp kernel_k1.cpp; "
             "-mavx512f: kernel_8x4x16_avx512.cpp\n",
             "# flags vorp_run: -O3\n",
             "# environment: GLIBC_TUNABLES=glibc.malloc.hugetlb=1 OMP_PROC_BIND=close\n",
             "# openmp runtime: version not recorded in the library; vorp-cli was built by GCC "
             "12.2.0 "
             "(/lib/libgomp.so.1.0.0)\n",
             "# openblas: OpenBLAS 0.3.21 DYNAMIC_ARCH Haswell, core Haswell "
             "(/lib/libopenblasp-r0.3.21.so)\n",
             "# blis: 0.9.0 (/lib/libblis.so.4)\n",
         }) {
        EXPECT_NE(comments.find(line), std::string::npos) << line << comments;
        // Standard error gets the same line without "# ".
        EXPECT_NE(FormatContextText(context).find(std::string("\n") + (line + 2)),
                  std::string::npos)
            << line;
    }

    // What the machine or the build does not show.
    RunContext bare;
    bare.openmp_runtime = {"/lib/libgomp.so.1", "GCC: (GNU) 13.2.1", "", "library"};
    const std::string plain = FormatContextComments(bare);
    for (const char* line :
         {"# cpu id: unknown, microcode unknown\n", "# smt: unknown\n", "# numa nodes: unknown\n",
          "# memory: unknown\n", "# cpu frequency: not shown\n",
          "# transparent huge pages: enabled unknown, defrag unknown\n",
          "# flags: not recorded by this build\n",
          "# openmp runtime: GCC: (GNU) 13.2.1 (/lib/libgomp.so.1)\n", "# openblas: not loaded\n",
          "# blis: not loaded\n"}) {
        EXPECT_NE(plain.find(line), std::string::npos) << line << plain;
    }
    EXPECT_EQ(plain.find("set by vorp-cli"), std::string::npos);
    bare.frequency.governor = "schedutil";
    EXPECT_NE(FormatContextComments(bare).find(
                  "# cpu frequency: current not shown, max not shown, governor schedutil\n"),
              std::string::npos);
}

TEST(RunContextOutput, JsonGivesEveryKnownValueItsType) {
    const nlohmann::json json = nlohmann::json::parse(ContextJson(FullContext()).dump());
    EXPECT_EQ(json["cpu_id"], (nlohmann::json{{"vendor", "AuthenticAMD"},
                                              {"family", 26},
                                              {"model", 2},
                                              {"stepping", 1},
                                              {"microcode", "0x1000065"}}));
    EXPECT_TRUE(json["cpu_id"]["family"].is_number_integer());
    EXPECT_EQ(json["smt"], (nlohmann::json{{"active", true}, {"threads_per_core", 2}}));
    EXPECT_EQ(json["numa_nodes"], 2);
    EXPECT_EQ(json["memory_bytes"].get<std::uint64_t>(), std::uint64_t{24683772} * 1024);
    EXPECT_EQ(json["cpu_frequency"],
              (nlohmann::json{
                  {"current_khz", 2400000}, {"max_khz", 3700000}, {"governor", "performance"}}));
    EXPECT_EQ(json["glibc"], "2.36");
    EXPECT_EQ(json["transparent_hugepages"],
              (nlohmann::json{{"enabled", "madvise"}, {"defrag", "never"}}));
    EXPECT_EQ(json["build_flags"]["Tavrel_8x4"]["flags"], "-O3 -ffp-contract=off");
    EXPECT_EQ(json["build_flags"]["Tavrel_8x4"]["files"],
              (nlohmann::json{{"packing.cpp", "-mavx"},
                              {"kernel_k1.cpp", "-mavx"},
                              {"kernel_8x4x16_avx512.cpp", "-mavx512f"}}));
    EXPECT_EQ(json["build_flags"]["vorp_run"],
              (nlohmann::json{{"flags", "-O3"}, {"files", nlohmann::json::object()}}));
    EXPECT_EQ(json["openmp_runtime"], (nlohmann::json{{"library", "/lib/libgomp.so.1.0.0"},
                                                      {"version", "GCC 12.2.0"},
                                                      {"version_source", "compiler"}}));
    EXPECT_EQ(json["openblas"], (nlohmann::json{{"library", "/lib/libopenblasp-r0.3.21.so"},
                                                {"version", "OpenBLAS 0.3.21 DYNAMIC_ARCH Haswell"},
                                                {"core", "Haswell"}}));
    EXPECT_EQ(json["blis"],
              (nlohmann::json{{"library", "/lib/libblis.so.4"}, {"version", "0.9.0"}}));
    EXPECT_EQ(json["environment"], (nlohmann::json{{"GLIBC_TUNABLES", "glibc.malloc.hugetlb=1"},
                                                   {"OMP_PROC_BIND", "close"}}));
    EXPECT_EQ(json["set_by_vorp_cli"],
              (nlohmann::json{
                  {"BLIS", {{"BLIS_ARCH_TYPE", "3"}}},
                  {"OpenBLAS", {{"OPENBLAS_CORETYPE", nullptr}, {"OPENBLAS_L2_SIZE", nullptr}}}}));
    EXPECT_EQ(json["load_average"], (nlohmann::json{0.5, 0.25, 0.125}));
}

// A machine that shows nothing still gets every key; unknowns are null, never
// a made-up number, and bytes that are not UTF-8 cannot break the document.
TEST(RunContextOutput, JsonOfAnUnknownMachineKeepsEveryKey) {
    RunContext unknown;
    unknown.cpu_model = "Chip \xff";  // would make dump() throw if passed through
    const nlohmann::json bare = nlohmann::json::parse(ContextJson(unknown).dump());
    EXPECT_EQ(bare["cpu_model"], "Chip ?");
    std::set<std::string> keys;
    for (const auto& item : bare.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{"program",
                                           "version",
                                           "commit",
                                           "date",
                                           "cpu_model",
                                           "cpu_id",
                                           "cores",
                                           "smt",
                                           "numa_nodes",
                                           "memory_bytes",
                                           "cpu_frequency",
                                           "caches",
                                           "os",
                                           "kernel",
                                           "glibc",
                                           "transparent_hugepages",
                                           "isa_level",
                                           "isa",
                                           "vector_kernel",
                                           "threads",
                                           "warmup",
                                           "repeat",
                                           "min_time_seconds",
                                           "compiler",
                                           "compile_flags",
                                           "build_flags",
                                           "build_type",
                                           "reference",
                                           "openmp_runtime",
                                           "openblas",
                                           "blis",
                                           "command",
                                           "environment",
                                           "set_by_vorp_cli",
                                           "load_average",
                                           "limits"}));
    EXPECT_EQ(bare["cpu_id"], (nlohmann::json{{"vendor", "unknown"},
                                              {"family", nullptr},
                                              {"model", nullptr},
                                              {"stepping", nullptr},
                                              {"microcode", "unknown"}}));
    EXPECT_EQ(bare["smt"], (nlohmann::json{{"active", nullptr}, {"threads_per_core", nullptr}}));
    EXPECT_TRUE(bare["numa_nodes"].is_null());
    EXPECT_TRUE(bare["memory_bytes"].is_null());
    EXPECT_EQ(
        bare["cpu_frequency"],
        (nlohmann::json{{"current_khz", nullptr}, {"max_khz", nullptr}, {"governor", nullptr}}));
    EXPECT_EQ(bare["build_flags"], nlohmann::json::object());
    EXPECT_TRUE(bare["openmp_runtime"].is_null());
    EXPECT_TRUE(bare["openblas"].is_null());
    EXPECT_TRUE(bare["blis"].is_null());
    EXPECT_EQ(bare["set_by_vorp_cli"], nlohmann::json::object());
    EXPECT_EQ(bare["caches"],
              (nlohmann::json{
                  {"L1d", "unknown"}, {"L1i", "unknown"}, {"L2", "unknown"}, {"L3", "unknown"}}));
    EXPECT_TRUE(bare["reference"].is_null());
    EXPECT_TRUE(bare["load_average"].is_null());
}

TEST(RunContextCollect, RecordsTheBuildsCommitGlibcAndTheLoad) {
    const RunContext context = CollectRunContext(CliOptions{}, {"vorp-cli"});
    EXPECT_EQ(context.load_average.size(), 3u);
    EXPECT_TRUE(std::regex_match(context.commit, std::regex("unknown|[0-9a-f]{7,}(-dirty)?")))
        << context.commit;
    EXPECT_TRUE(std::regex_match(context.glibc, std::regex("[0-9]+\\.[0-9]+.*"))) << context.glibc;
}
