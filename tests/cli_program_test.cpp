// The vorp-cli binary end to end: the output file replaced only by work that
// gives a figure, targets that are not plain writable files or that a rename
// cannot replace, standard output as "-", a stop by signal, --isa, the JSON
// document read back and --compare on documents of the program itself.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli_options.h"
#include "result_format.h"
#include "support/cli_process.h"

namespace {
using nlohmann::json;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A file that already holds results, removed with its temporary siblings at
// the end of the test.
struct ExistingFile {
    explicit ExistingFile(const std::string& name,
                          const std::string& text = "earlier results\n1,2,3\n")
        : path(TempPath(name)), content(text) {
        WriteFile(path, content);
    }
    ~ExistingFile() {
        std::remove(path.c_str());
        for (const std::string& partial : PartialFiles(path)) std::remove(partial.c_str());
    }
    std::string path, content;
};

// A fresh directory for files of one test, removed with them at its end.
struct ScratchDir {
    explicit ScratchDir(const std::string& name) : path(TempPath(name)) {
        std::system(("rm -rf " + path + " && mkdir -p " + path).c_str());
    }
    ~ScratchDir() { std::system(("rm -rf " + path).c_str()); }
    std::string path;
};

mode_t ModeOf(const std::string& path, bool follow_links = true) {
    struct stat info {};
    (follow_links ? stat : lstat)(path.c_str(), &info);
    return info.st_mode;
}

// The vorp-cli child started with `argument` (a path of the test at hand):
// its process id, 0 while there is none.
pid_t ChildWithArgument(const std::string& argument) {
    DIR* processes = opendir("/proc");
    if (!processes) return 0;
    pid_t found = 0;
    while (const dirent* entry = readdir(processes)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        const std::string command_line = ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline");
        std::vector<std::string> words;
        for (std::size_t start = 0, end;
             (end = command_line.find('\0', start)) != std::string::npos; start = end + 1) {
            words.push_back(command_line.substr(start, end - start));
        }
        if (!words.empty() && words[0] == VORP_CLI_PATH &&
            std::find(words.begin(), words.end(), argument) != words.end()) {
            found = pid;
            break;
        }
    }
    closedir(processes);
    return found;
}

// The fields of /proc/PID/stat after the command name: [0] the state ('Z'
// once the process has ended). Empty once the process is gone.
std::vector<std::string> ProcessStat(pid_t pid) {
    const std::string text = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    std::vector<std::string> fields;
    const std::size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) return fields;
    std::istringstream words(text.substr(name_end + 1));
    for (std::string word; words >> word;) fields.push_back(word);
    return fields;
}

// The signal tests stop vorp-cli at known points, never after some time:
// a sweep once its progress line (on a terminal) shows the second point, so
// the first is complete; a single run of Classic at order kLongOrder (a
// multiple of 176, run as given; its product takes seconds) once its
// matrices are in memory. The runs at hand outlast the signal by far.
constexpr const char* kSecondPoint = "point 2 of 10";
constexpr std::uint64_t kLongOrder = 1584;

// vorp-cli sweeping Classic over ten sizes into `path`, its progress line on
// a terminal.
CliChild StartSweep(const std::string& format, const std::string& path) {
    return CliChild(
        {"--sizes", "200:2000:200", "--method", "0", "--format", format, "--output", path}, true);
}

// vorp-cli running one product of Classic at order kLongOrder into `path`.
CliChild StartLongProduct(const std::string& format, const std::string& path) {
    return CliChild(
        {"--method", "0", "-n", std::to_string(kLongOrder), "--format", format, "--output", path});
}

// The resident memory of a process in bytes (0 once it is gone).
std::uint64_t ResidentBytes(pid_t pid) {
    std::istringstream status(ReadWholeFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;  // in kB
    }
    return 0;
}

// Waits until the child started with `argument` holds the three matrices of
// a run of order kLongOrder in memory: they are zeroed, so the run is
// preparing them or timing its product (vorp-cli alone holds a few
// megabytes). Its process id, or 0 when it never got there.
pid_t WaitUntilHoldingMatrices(const std::string& argument) {
    constexpr std::uint64_t n = kLongOrder;
    pid_t pid = 0;
    const bool holding = WaitFor([&] {
        if (pid == 0) pid = ChildWithArgument(argument);
        const std::vector<std::string> stat = pid ? ProcessStat(pid) : std::vector<std::string>{};
        return !stat.empty() && stat[0] != "Z" && ResidentBytes(pid) >= 3 * n * n * sizeof(double);
    });
    return holding ? pid : 0;
}

// Whether the process has ended (or is gone) within `limit`.
bool Ends(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(60)) {
    return WaitFor(
        [&] {
            const std::vector<std::string> stat = ProcessStat(pid);
            return stat.empty() || stat[0] == "Z";
        },
        limit);
}

// A complete JSON document of vorp-cli, with at least one figure.
::testing::AssertionResult IsCompleteDocument(const std::string& text) {
    if (!json::accept(text))
        return ::testing::AssertionFailure() << "not JSON: " << text.substr(0, 200);
    const json doc = json::parse(text);
    const json results = doc.value("results", json::array());
    if (results.empty() || !results[0].value("median_seconds", json()).is_number()) {
        return ::testing::AssertionFailure() << "no figure: " << text.substr(0, 200);
    }
    return ::testing::AssertionSuccess();
}

ino_t InodeOf(const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_ino;
}

// vorp-cli as the user nobody, group nogroup, no other groups: a user who
// owns none of the test's files. Only root may switch to it.
constexpr const char* kAsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";

// Empty when vorp-cli can run as nobody in the test's temporary directory,
// else why not.
std::string WhyNotAsNobody() {
    if (geteuid() != 0) return "only root can run vorp-cli as another user";
    if (!getpwnam("nobody") || !getgrnam("nogroup")) return "no user nobody or group nogroup";
    const std::string probe = std::string(kAsNobody) + " sh -c 'test -x " + ::testing::TempDir() +
                              " && " + VORP_CLI_PATH + " --version' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0)
        return "nobody cannot run vorp-cli from the temporary directory";
    return {};
}

// vorp-cli refused `--output` before any run: exit 2 with `reason`, and no
// note of the plan shown.
::testing::AssertionResult RefusedUpFront(const CliRun& run, const std::string& reason) {
    if (run.status != 2)
        return ::testing::AssertionFailure() << "exit " << run.status << ": " << run.err;
    if (!Contains(run.err, "--output " + reason))
        return ::testing::AssertionFailure() << "not --output " << reason << ": " << run.err;
    if (Contains(run.err, "note:"))
        return ::testing::AssertionFailure() << "a note of the plan: " << run.err;
    return ::testing::AssertionSuccess();
}

void ChangeOwner(const std::string& path, const char* user, const char* group) {
    ASSERT_EQ(chown(path.c_str(), getpwnam(user)->pw_uid, getgrnam(group)->gr_gid), 0) << path;
}

// Mounts made by a test live in a mount namespace of this process, which the
// vorp-cli children share, so they vanish with it; false where that is not
// allowed.
bool PrivateMounts() {
    static const bool ready = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                              mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ready;
}

// `source` mounted on `target` (a tmpfs when `source` is empty), unmounted
// at the end of the test.
struct Mount {
    Mount(const std::string& source, const std::string& target,
          const std::string& tmpfs_options = "")
        : target(target) {
        mounted = source.empty()
                      ? mount("tmpfs", target.c_str(), "tmpfs", 0, tmpfs_options.c_str()) == 0
                      : mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~Mount() {
        if (mounted) umount2(target.c_str(), MNT_DETACH);
    }
    std::string target;
    bool mounted = false;
};

// Fills the file system of `directory` until no block is free.
::testing::AssertionResult FillUp(const std::string& directory) {
    const int fd = open((directory + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return ::testing::AssertionFailure() << "no filler in " << directory;
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    struct statvfs space {};
    statvfs(directory.c_str(), &space);
    if (space.f_bfree != 0)
        return ::testing::AssertionFailure() << space.f_bfree << " blocks still free";
    return ::testing::AssertionSuccess();
}
}  // namespace

TEST(CliOutputFile, RefusedOrFailedWorkLeavesTheFileAsItWas) {
    for (const char* format : {"text", "csv", "json"}) {
        SCOPED_TRACE(format);
        const ExistingFile file(std::string("kept.") + format);
        const std::string output = std::string(" --format ") + format + " --output " + file.path;

        const CliRun refused = RunCli("--threads 200" + output);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(ReadWholeFile(file.path), file.content);

        // HP under TBB gives up: no run gives a figure.
        const CliRun failed = RunCli("--method 1 --parallel-kind tbb -n 64" + output);
        EXPECT_EQ(failed.status, 1);
        EXPECT_TRUE(
            Contains(failed.err, "no run gave a figure; " + file.path + " is left as it was"))
            << failed.err;
        EXPECT_EQ(ReadWholeFile(file.path), file.content);
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});

        // Work with a figure replaces it whole.
        const CliRun replaced = RunCli("--method 0 -n 32" + output);
        EXPECT_EQ(replaced.status, 0) << replaced.err;
        const std::string text = ReadWholeFile(file.path);
        EXPECT_FALSE(Contains(text, "earlier results"));
        EXPECT_EQ(text.rfind(std::string(format) == "json" ? "{" : "# cpu: ", 0), 0u) << text;
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
    }
}

// Started with standard input, output or error closed, vorp-cli keeps them
// on /dev/null, so its results file never takes their place: the notes
// (-n 1000 runs as 880) and the context stay out of the document.
TEST(CliOutputFile, ClosedStandardDescriptorsNeverReceiveTheResults) {
    for (const char* closed : {"2>&-", "1>&- 2>&-", "0<&- 1>&- 2>&-"}) {
        SCOPED_TRACE(closed);
        const std::string path = TempPath("closed.json");
        const std::string wrapper = std::string("sh -c 'exec \"$0\" \"$@\" ") + closed + "'";
        const CliRun run = RunCli("-n 1000 --format json --output " + path, wrapper);
        EXPECT_EQ(run.status, 0);
        const std::string text = ReadWholeFile(path);
        ASSERT_EQ(text.rfind("{", 0), 0u) << text.substr(0, 80);
        EXPECT_TRUE(nlohmann::json::accept(text));
        std::remove(path.c_str());
    }
}

// A FIFO is written into, not replaced, and its reader gets the document.
TEST(CliOutputFile, FifoReceivesTheResultsAndStaysAFifo) {
    const ScratchDir dir("fifo");
    const std::string fifo = dir.path + "/results";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::string received;
    std::thread reader([&] { received = ReadWholeFile(fifo); });
    const CliRun run = RunCli("-n 32 --repeat 2 --format csv --output " + fifo);
    // Lets the reader see an end even if vorp-cli never opened the FIFO.
    const int opened = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (opened >= 0) close(opened);
    reader.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
    EXPECT_EQ(received.rfind("# cpu: ", 0), 0u) << received;
    const CsvRows rows = ParseCsv(WithoutContext(received));
    ASSERT_EQ(rows.size(), 2u) << received;
    EXPECT_EQ(rows[0], kCsvColumns);
    EXPECT_EQ(PartialFiles(fifo), std::vector<std::string>{});
}

// A link keeps leading to its file, which is replaced with its mode kept.
TEST(CliOutputFile, SymlinkTargetIsReplacedWithItsMode) {
    const ScratchDir dir("link");
    const std::string target = dir.path + "/results.csv", link = dir.path + "/latest.csv";
    WriteFile(target, "earlier results\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("results.csv", link.c_str()), 0);
    const CliRun run = RunCli("-n 32 --format csv --output " + link);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(S_ISLNK(ModeOf(link, false)));
    EXPECT_EQ(ModeOf(target) & 07777, 0640u);
    const std::string text = ReadWholeFile(target);
    EXPECT_EQ(text.rfind("# cpu: ", 0), 0u) << text;
    EXPECT_EQ(PartialFiles(target), std::vector<std::string>{});
    EXPECT_EQ(PartialFiles(link), std::vector<std::string>{});
}

// Refused before any run: no note of the plan shows, nothing is created.
TEST(CliOutputFile, DirectoryTargetIsRefusedUpFront) {
    const ScratchDir dir("directory");
    EXPECT_TRUE(
        RefusedUpFront(RunCli("-n 16 --output " + dir.path), dir.path + ": Is a directory"));
    EXPECT_TRUE(S_ISDIR(ModeOf(dir.path)));
    EXPECT_EQ(PartialFiles(dir.path), std::vector<std::string>{});
}

// Root may write any file: as root, vorp-cli runs as nobody.
TEST(CliOutputFile, ReadOnlyFileIsRefusedUpFront) {
    const bool root = geteuid() == 0;
    if (const std::string why = WhyNotAsNobody(); root && !why.empty()) GTEST_SKIP() << why;
    const ExistingFile file("read-only.txt");
    ASSERT_EQ(chmod(file.path.c_str(), 0444), 0);
    EXPECT_TRUE(RefusedUpFront(RunCli("-n 16 --output " + file.path, root ? kAsNobody : ""),
                               file.path + ": Permission denied"));
    EXPECT_EQ(ReadWholeFile(file.path), file.content);
    EXPECT_EQ(ModeOf(file.path) & 07777, 0444u);
}

// A new file in a directory that takes none is refused before any run, and
// the message names the directory, since FILE itself is not the problem.
TEST(CliOutputFile, DirectoryThatTakesNoNewFileIsNamedUpFront) {
    const std::string missing = TempPath("missing-directory");
    EXPECT_TRUE(RefusedUpFront(RunCli("-n 16 --output " + missing + "/results.json"),
                               missing + "/results.json: cannot create a file in " + missing +
                                   ": No such file or directory"));
    EXPECT_FALSE(FileExists(missing));

    if (const std::string why = WhyNotAsNobody(); !why.empty()) GTEST_SKIP() << why;
    const ScratchDir dir("closed");
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);  // root's: nobody may not add a file
    const std::string path = dir.path + "/results.json";
    EXPECT_TRUE(
        RefusedUpFront(RunCli("-n 16 --output " + path, kAsNobody),
                       path + ": cannot create a file in " + dir.path + ": Permission denied"));
    EXPECT_FALSE(FileExists(path));
}

// Where a rename could not replace FILE at the end but FILE may be written,
// the results go into FILE itself, complete: a longer old content leaves no
// tail, and FILE stays the same file with its owner.
TEST(CliOutputFile, FileARenameCannotReplaceIsWrittenInPlace) {
    if (const std::string why = WhyNotAsNobody(); !why.empty()) GTEST_SKIP() << why;
    struct Case {
        const char* name;
        mode_t directory_mode;
        const char* owner;
        std::size_t old_size;
    };
    for (const Case& c : {
             // A sticky directory such as /tmp: nobody may write root's file
             // but not rename over it.
             Case{"sticky", 01777, "root", 20000},
             // Root's directory: nobody may write a file of its own but not
             // add one beside it.
             Case{"closed-directory", 0755, "nobody", 10},
         }) {
        SCOPED_TRACE(c.name);
        const ScratchDir dir(c.name);
        ASSERT_EQ(chmod(dir.path.c_str(), c.directory_mode), 0);
        const std::string path = dir.path + "/results.json";
        WriteFile(path, std::string(c.old_size, 'x'));
        ASSERT_EQ(chmod(path.c_str(), 0666), 0);
        ChangeOwner(path, c.owner, "root");
        const ino_t inode = InodeOf(path);

        const CliRun run = RunCli("-n 64 --format json --output " + path, kAsNobody);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(IsCompleteDocument(ReadWholeFile(path)));
        EXPECT_EQ(InodeOf(path), inode);
        struct stat info {};
        stat(path.c_str(), &info);
        EXPECT_EQ(info.st_uid, getpwnam(c.owner)->pw_uid);
        EXPECT_EQ(PartialFiles(path), std::vector<std::string>{});
    }
}

// A file bound onto FILE (as into a container) cannot be renamed over: the
// results go through the mount into the bound file.
TEST(CliOutputFile, MountPointIsWrittenInPlace) {
    if (!PrivateMounts()) GTEST_SKIP() << "mounting needs root and a mount namespace of its own";
    const ScratchDir dir("mount-point");
    const std::string source = dir.path + "/source.json", path = dir.path + "/results.json";
    WriteFile(source, "bound results\n");
    WriteFile(path, "hidden under the mount\n");
    const Mount bound(source, path);
    ASSERT_TRUE(bound.mounted);
    const CliRun run = RunCli("-n 64 --format json --output " + path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(IsCompleteDocument(ReadWholeFile(source)));
    EXPECT_EQ(ReadWholeFile(path), ReadWholeFile(source));
    EXPECT_EQ(PartialFiles(path), std::vector<std::string>{});
}

// FILE becomes a mount point while the run goes on: the rename at the end
// fails, and the complete results stay in the temporary file, which the
// message names, rather than being deleted.
TEST(CliOutputFile, RenameRefusedAtTheEndKeepsTheResultsUnderAName) {
    if (!PrivateMounts()) GTEST_SKIP() << "mounting needs root and a mount namespace of its own";
    const ScratchDir dir("late-mount");
    const std::string source = dir.path + "/source.json", path = dir.path + "/results.json";
    WriteFile(source, "bound results\n");
    WriteFile(path, "earlier results\n");
    CliChild child = StartSweep("json", path);
    ASSERT_TRUE(child.ShowsOnTerminal(kSecondPoint)) << child.Err();
    const Mount bound(source, path);
    ASSERT_TRUE(bound.mounted);
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 1);
    const std::string err = child.Err();
    const std::string marker = "Device or resource busy; the results are in ";
    const std::size_t at = err.find(marker);
    ASSERT_NE(at, std::string::npos) << err;
    const std::size_t start = at + marker.size();
    const std::string kept = err.substr(start, err.find('\n', start) - start);
    EXPECT_EQ(kept.rfind(dir.path + "/results.json.partial-", 0), 0u) << kept;
    const std::string text = ReadWholeFile(kept);
    ASSERT_TRUE(json::accept(text)) << text.substr(0, 200);
    EXPECT_EQ(json::parse(text)["interrupted"], true);
    EXPECT_EQ(ReadWholeFile(path), "bound results\n");
}

// Root replacing the file of another user gives the new file that user's
// owner and group, and the old permission bits.
TEST(CliOutputFile, RootKeepsTheOwnerGroupAndModeOfAnotherUsersFile) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    if (!getpwnam("nobody") || !getgrnam("nogroup"))
        GTEST_SKIP() << "no user nobody or group nogroup";
    const ExistingFile file("owned.json");
    ChangeOwner(file.path, "nobody", "nogroup");
    ASSERT_EQ(chmod(file.path.c_str(), 0640), 0);
    const CliRun run = RunCli("-n 64 --format json --output " + file.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(IsCompleteDocument(ReadWholeFile(file.path)));
    struct stat info {};
    ASSERT_EQ(stat(file.path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, getpwnam("nobody")->pw_uid);
    EXPECT_EQ(info.st_gid, getgrnam("nogroup")->gr_gid);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
}

// On a full file system the error says so, whether FILE is replaced or
// written in place (there the space is reserved before anything changes),
// and FILE keeps its content.
TEST(CliOutputFile, FullFileSystemLeavesTheFileAsItWas) {
    if (!PrivateMounts()) GTEST_SKIP() << "mounting needs root and a mount namespace of its own";
    const ScratchDir dir("full");
    const Mount small("", dir.path, "size=64k,mode=0755");
    ASSERT_TRUE(small.mounted);
    const std::string path = dir.path + "/results.json", earlier = "earlier results\n";
    WriteFile(path, earlier);
    ASSERT_TRUE(FillUp(dir.path));

    const CliRun replaced = RunCli("-n 64 --format json --output " + path);
    EXPECT_EQ(replaced.status, 1);
    EXPECT_TRUE(Contains(replaced.err, path + ": No space left on device")) << replaced.err;
    EXPECT_EQ(ReadWholeFile(path), earlier);
    EXPECT_EQ(PartialFiles(path), std::vector<std::string>{});

    if (const std::string why = WhyNotAsNobody(); !why.empty()) GTEST_SKIP() << why;
    // nobody's file in root's directory; 100 samples make a document of more
    // than the one page the old content holds.
    ChangeOwner(path, "nobody", "nogroup");
    const ino_t inode = InodeOf(path);
    const CliRun in_place = RunCli("-n 32 --repeat 100 --format json --output " + path, kAsNobody);
    EXPECT_EQ(in_place.status, 1);
    EXPECT_TRUE(Contains(in_place.err, path + ": No space left on device")) << in_place.err;
    EXPECT_EQ(ReadWholeFile(path), earlier);
    EXPECT_EQ(InodeOf(path), inode);
}

TEST(CliOutputFile, DashIsStandardOutput) {
    const ScratchDir dir("dash");
    const CliRun run = RunCli("-n 32 --repeat 2 --format csv --output -", "cd " + dir.path + " &&");
    EXPECT_EQ(run.status, 0) << run.err;
    // Standard output is a file here, not a terminal: the context heads it.
    EXPECT_EQ(run.out.rfind("# cpu: ", 0), 0u) << run.out;
    const CsvRows rows = ParseCsv(WithoutContext(run.out));
    ASSERT_EQ(rows.size(), 2u) << run.out;
    EXPECT_EQ(rows[0], kCsvColumns);
    EXPECT_FALSE(Contains(run.err, "cpu: "));
    EXPECT_FALSE(FileExists(dir.path + "/-"));
    EXPECT_EQ(PartialFiles(dir.path + "/-"), std::vector<std::string>{});
}

// A sweep whose larger sizes take seconds, stopped by SIGINT once its first
// point is done (its progress line shows the second point): the points wait
// in memory until the end, and the file then holds those completed, fewer
// than the ten asked for. The CSV has the context, the header and their
// rows; the JSON document is marked interrupted, as is its last point alone.
TEST(CliInterrupt, SweepKeepsItsCompletedPoints) {
    for (const std::string format : {"csv", "json"}) {
        SCOPED_TRACE(format);
        const ExistingFile file("stopped." + format, "");
        CliChild child = StartSweep(format, file.path);
        ASSERT_TRUE(child.ShowsOnTerminal(kSecondPoint)) << child.Err();
        EXPECT_EQ(ReadWholeFile(file.path), "");  // replaced only at the end
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
        child.Signal(SIGINT);
        EXPECT_EQ(child.Wait(), 130) << child.Err();
        EXPECT_TRUE(Contains(child.Err(), "stopped")) << child.Err();
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});

        const std::string text = ReadWholeFile(file.path);
        if (format == "json") {
            const json doc = json::parse(text);
            EXPECT_EQ(doc["interrupted"], true);
            const json& results = doc["results"];
            ASSERT_GE(results.size(), 1u);
            ASSERT_LT(results.size(), 10u);
            for (std::size_t i = 0; i + 1 < results.size(); ++i)
                EXPECT_EQ(results[i]["interrupted"], false) << i;
            continue;
        }
        EXPECT_EQ(text.rfind("# cpu: ", 0), 0u) << text;
        const CsvRows rows = ParseCsv(WithoutContext(text));
        ASSERT_GE(rows.size(), 2u) << text;
        ASSERT_LT(rows.size(), 11u) << text;
        EXPECT_EQ(rows[0], kCsvColumns);
        for (std::size_t r = 1; r < rows.size(); ++r)
            EXPECT_EQ(rows[r].size(), kCsvColumns.size()) << r;
        EXPECT_EQ(Column(rows, "n")[0], "176");  // 200 normalised with l_block 176
        EXPECT_NE(Column(rows, "median_gflops")[0], "");
    }
}

// A second signal ends the process at once: the run at hand (seconds long) is
// not waited for, so no result is written and the file is left as it was.
TEST(CliInterrupt, SecondSignalExitsAtOnce) {
    const ExistingFile file("twice.csv");
    CliChild child = StartLongProduct("csv", file.path);
    ASSERT_NE(WaitUntilHoldingMatrices(file.path), 0) << child.Err();
    // The first stops the product within milliseconds; the second, right
    // behind it, ends the process before anything is written (SIGTERM, since
    // a second SIGINT still pending would merge with the first).
    child.Signal(SIGINT);
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(), 130);
    EXPECT_EQ(ReadWholeFile(file.path), file.content);
    EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
}

// Each stop signal stopped before any run gave a figure (one long product,
// stopped in its middle, counts nothing): FILE is left byte for byte as it
// was, with exit 130.
TEST(CliInterrupt, StopBeforeAnyFigureLeavesTheFileAsItWas) {
    for (const auto& [signal, format] :
         {std::pair{SIGINT, "csv"}, std::pair{SIGTERM, "json"}, std::pair{SIGHUP, "text"}}) {
        SCOPED_TRACE(strsignal(signal));
        const ExistingFile file(std::string("no-figure.") + format);
        CliChild child = StartLongProduct(format, file.path);
        ASSERT_NE(WaitUntilHoldingMatrices(file.path), 0) << child.Err();
        child.Signal(signal);
        EXPECT_EQ(child.Wait(), 130) << child.Err();
        EXPECT_TRUE(Contains(child.Err(), "stopped before any run gave a figure; " + file.path +
                                              " is left as it was"))
            << child.Err();
        EXPECT_EQ(ReadWholeFile(file.path), file.content);
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
    }
}

// Signals that end the process without a stop (their default action) find
// the results still in memory: nothing beside FILE, FILE as it was.
TEST(CliInterrupt, OtherEndingSignalsLeaveNothingBehind) {
    // SIGQUIT would leave a core file in the working directory.
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    const rlimit no_core{0, core.rlim_max};
    setrlimit(RLIMIT_CORE, &no_core);
    for (const int signal : {SIGUSR1, SIGQUIT, SIGALRM}) {
        SCOPED_TRACE(strsignal(signal));
        const ExistingFile file("ended.csv");
        CliChild child = StartLongProduct("csv", file.path);
        ASSERT_NE(WaitUntilHoldingMatrices(file.path), 0) << child.Err();
        child.Signal(signal);
        EXPECT_EQ(child.Wait(), -1) << "not ended by the signal: " << child.Err();
        EXPECT_EQ(ReadWholeFile(file.path), file.content);
        EXPECT_EQ(PartialFiles(file.path), std::vector<std::string>{});
    }
    setrlimit(RLIMIT_CORE, &core);
}

// A FIFO whose reader never comes: the results wait in open(), and one
// SIGTERM ends that wait with exit 130 (bounded generously; only "it ends"
// counts).
TEST(CliInterrupt, FifoWithoutAReaderEndsOnOneSignal) {
    if (ReadWholeFile("/proc/self/syscall").empty())
        GTEST_SKIP() << "no /proc/PID/syscall to see the wait";
    const ScratchDir dir("fifo-no-reader");
    const std::string fifo = dir.path + "/results";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    CliChild child({"-n", "32", "--format", "json", "--output", fifo});
    pid_t pid = 0;
    const bool waiting = WaitFor([&] {
        if (pid == 0) pid = ChildWithArgument(fifo);
        const std::string call =
            pid ? ReadWholeFile("/proc/" + std::to_string(pid) + "/syscall") : "";
        return call.rfind(std::to_string(SYS_openat) + " ", 0) == 0;
    });
    ASSERT_TRUE(waiting) << child.Err();
    child.Signal(SIGTERM);
    const bool ended = Ends(pid);
    if (!ended) child.Signal(SIGKILL);
    EXPECT_TRUE(ended) << "one SIGTERM did not end the wait for a reader";
    EXPECT_EQ(child.Wait(), ended ? 130 : -1) << child.Err();
    EXPECT_TRUE(Contains(child.Err(), "stopped while waiting to write " + fifo)) << child.Err();
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
}

TEST(CliIsa, CapsNameTheKernelFormThatRan) {
    if (SupportedIsaCap() < VectorIsaCap::Avx2) GTEST_SKIP() << "no AVX2 here";
    const auto kernel_of = [](const std::string& isa) {
        const CliRun run = RunCli("--isa " + isa + " --method 4 -n 200 --format json");
        EXPECT_EQ(run.status, 0) << run.err;
        const json doc = json::parse(run.out);
        EXPECT_EQ(doc["context"]["vector_kernel"], doc["results"][0]["kernel"]);
        return doc["results"][0]["kernel"].get<std::string>();
    };
    EXPECT_EQ(kernel_of("avx2"), "AVX 8x4 (Tavrel_8x4)");
    EXPECT_EQ(kernel_of("sse2"), "SSE2 4x4 (Tavrel)");
    if (std::getenv("TAVREL_8X4_FORM")) return;  // the library's own switch decides the form
    if (SupportedIsaCap() == VectorIsaCap::Avx512) {
        EXPECT_EQ(kernel_of("avx512"), "AVX-512 24x8 (Tavrel_8x4)");
        EXPECT_EQ(kernel_of("auto"), "AVX-512 24x8 (Tavrel_8x4)");
    } else {
        const CliRun refused = RunCli("--isa avx512 --method 4 -n 200");
        EXPECT_EQ(refused.status, 2);
        EXPECT_TRUE(Contains(refused.err, "offers at most avx2")) << refused.err;
    }
}

TEST(CliJson, DocumentReadsBackWithContextAndResults) {
    const std::string path = TempPath("doc.json");
    const CliRun run =
        RunCli("--method 4 -n 64 --l-block 32 --repeat 3 --check --format json --output " + path);
    const std::string text = ReadWholeFile(path);
    std::remove(path.c_str());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const json doc = json::parse(text);
    EXPECT_EQ(doc["schema_version"], 3);
    EXPECT_EQ(doc["interrupted"], false);

    const json& context = doc["context"];
    EXPECT_TRUE(context["cpu_model"].is_string());
    EXPECT_GE(context["cores"].get<int>(), 1);
    EXPECT_TRUE(context["commit"].is_string());
    EXPECT_TRUE(context["environment"].is_object());
    const std::string command = context["command"];
    EXPECT_TRUE(Contains(
        command,
        "vorp-cli --method 4 -n 64 --l-block 32 --repeat 3 --check --format json --output "))
        << command;
    EXPECT_EQ(context["repeat"], 3);
    EXPECT_EQ(context["min_time_seconds"], 0);

    ASSERT_EQ(doc["results"].size(), 1u);
    const json& result = doc["results"][0];
    std::set<std::string> keys;
    for (const auto& item : result.items()) keys.insert(item.key());
    std::istringstream expected_keys(
        "method method_index n l_block threads chunk asked isa_level isa "
        "first_call_counted kernel warmup repeat completed failed product "
        "operations seconds tick_seconds runs_per_sample best_seconds "
        "median_seconds mean_seconds stddev_seconds cv best_gflops median_gflops "
        "noisy short cpu_seconds cpu_share cpu_short peak peak_share interrupted "
        "check max_rel_diff problems");
    EXPECT_EQ(keys, (std::set<std::string>{std::istream_iterator<std::string>(expected_keys), {}}));
    EXPECT_EQ(result["method"], "vector-pack");
    EXPECT_EQ(result["isa_level"], context["isa_level"]);
    EXPECT_EQ(result["isa"], context["isa"]);
    EXPECT_EQ(result["completed"], 3);
    EXPECT_EQ(result["seconds"].size(), 3u);
    EXPECT_EQ(result["check"], "passed");
    EXPECT_LT(result["max_rel_diff"].get<double>(), 1e-10);
    EXPECT_EQ(result["operations"], 2 * 64 * 64 * 64);
    // The figures follow from the seconds per product.
    double best = result["seconds"][0];
    for (const json& s : result["seconds"]) best = std::min(best, s.get<double>());
    EXPECT_EQ(result["best_seconds"], best);
    EXPECT_NEAR(result["best_gflops"].get<double>(), 2 * 64 * 64 * 64 * 1e-9 / best,
                1e-5 * result["best_gflops"].get<double>());
}

TEST(CliCompare, TwoDocumentsOfTheProgram) {
    const std::string old_path = TempPath("old.json"), new_path = TempPath("new.json");
    for (const std::string& path : {old_path, new_path}) {
        const CliRun run = RunCli("--method 0 -n 64 --repeat 4 --format json --output " + path);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const CliRun compared = RunCli("--compare " + old_path + " " + new_path);
    // Two real runs: the later may come out slower on a busy machine (3).
    EXPECT_TRUE(compared.status == 0 || compared.status == 3) << compared.status << compared.err;
    EXPECT_TRUE(Contains(compared.out, "old: " + old_path)) << compared.out;
    EXPECT_TRUE(Contains(compared.out, "new: " + new_path));
    EXPECT_TRUE(std::regex_search(compared.out,
                                  std::regex("\nclassic +64 +64 +1 +[0-9.e-]+ +[0-9.e-]+ +[0-9.]+ "
                                             "+[<0-9.]+ +(faster|slower|same)\n")))
        << compared.out;

    WriteFile(new_path, "method,n\nclassic,64\n");
    const CliRun refused = RunCli("--compare " + old_path + " " + new_path);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(Contains(refused.err, new_path)) << refused.err;
    EXPECT_EQ(refused.out, "");
    std::remove(old_path.c_str());
    std::remove(new_path.c_str());
}

// Endless input (a device, a pipe that never ends) is refused once it passes
// the size no result document reaches, instead of filling the memory.
TEST(CliCompare, EndlessInputIsRefused) {
    const CliRun zeros = RunCli("--compare /dev/zero /dev/zero");
    EXPECT_EQ(zeros.status, 2);
    EXPECT_TRUE(Contains(zeros.err,
                         "/dev/zero: more than 64 MiB, too large for a vorp-cli result document"))
        << zeros.err;
    EXPECT_EQ(zeros.out, "");

    const ScratchDir dir("endless");
    const std::string fifo = dir.path + "/spaces";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // JSON allows any amount of white space before a value.
    const CliRun spaces =
        RunCli("--compare " + fifo + " /dev/null", "(yes ' ' >" + fifo + " 2>/dev/null &);");
    EXPECT_EQ(spaces.status, 2);
    EXPECT_TRUE(Contains(spaces.err, fifo + ": more than 64 MiB")) << spaces.err;
}

// A document below the size cap whose values take more memory than the
// process may have: a clear error, not an uncaught exception.
TEST(CliCompare, MemoryRunningOutIsAnError) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer ends the process itself when memory runs out";
#endif
    const ScratchDir dir("memory");
    const std::string small = dir.path + "/small.json", large = dir.path + "/large.json";
    WriteFile(small, R"({"schema_version": 2, "results": []})");
    {
        // 28 million numbers in 56 MB of text: 16 bytes and more each once
        // parsed, far beyond the limit below.
        std::ofstream out(large, std::ios::binary);
        out << '[';
        std::string chunk;
        for (int i = 0; i < (1 << 20); ++i) chunk += "0,";
        for (int i = 0; i < 28; ++i) out << chunk;
        out << "0]";
    }
    const char* limit = "ulimit -v 400000;";  // 400 MB of address space
    const CliRun control = RunCli("--compare " + small + " " + small, limit);
    if (control.status == 2 || control.status > 4)
        GTEST_SKIP() << "vorp-cli does not start under " << limit << " here: " << control.err;
    const CliRun run = RunCli("--compare " + large + " " + small, limit);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "cannot read " + large + ": not enough memory")) << run.err;
    EXPECT_EQ(run.out, "");
}

// At a terminal a plan of many runs shows its notices without waiting for
// Enter: under a pseudo-terminal with no one typing, the sweep still ends.
TEST(CliNotices, APlanOfManyRunsNeverWaitsAtATerminal) {
    if (std::system("command -v script >/dev/null 2>&1 && command -v bash >/dev/null") != 0) {
        GTEST_SKIP() << "no script(1) or bash";
    }
    const std::string out = TempPath("pty.txt");
    // The terminal's input stays open and empty (a sleep that outlives the
    // run), as with a user who is not there.
    const std::string command = "bash -c \"timeout 60 script -qec '" + std::string(VORP_CLI_PATH) +
                                " --method hp --parallel-kind tbb -n 32 --repeat 3 --min-time 0'"
                                " /dev/null < <(sleep 70 2>/dev/null) >" +
                                out + " 2>&1\"";
    const int raw = std::system(command.c_str());
    const std::string text = ReadWholeFile(out);
    std::remove(out.c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << text;
    EXPECT_NE(WEXITSTATUS(raw), 124) << "vorp-cli waited for Enter:\n" << text;
    EXPECT_NE(text.find("notice: TBB does not support"), std::string::npos) << text;
    EXPECT_EQ(text.find("press Enter"), std::string::npos) << text;
    EXPECT_NE(text.find("Runs without a figure"), std::string::npos) << text;
}
