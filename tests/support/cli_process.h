// Runs the vorp-cli binary of this build (VORP_CLI_PATH) with standard input
// from /dev/null, to completion (RunCli) or as a child the test signals
// (CliChild, whose standard error may be a terminal that shows its progress
// line), and reads what it wrote: whole files, CSV rows, the temporary files
// of --output.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct CliRun {
    int status;
    std::string out, err;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline bool Contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A file name under the test's temporary directory, unique to this process.
inline std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "vorp_cli_" + std::to_string(getpid()) + "_" + name;
}

// Standard error without the note a plan prints when other work was
// running before it started: it tells of the machine at that moment, not of
// the program (its wording is tested on hand-made readings).
inline std::string WithoutLoadNote(std::string text) {
    const std::string note = "note: other work was running before the start";
    for (std::size_t at = text.find(note); at != std::string::npos; at = text.find(note, at)) {
        const std::size_t end = text.find('\n', at);
        text.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
    }
    return text;
}

// `args` is shell text; `shell_prefix` runs before the program in the same
// shell (such as "ulimit -v 4000000;").
inline CliRun RunCli(const std::string& args, const std::string& shell_prefix = "") {
    static int calls = 0;
    const std::string stem = TempPath(std::to_string(++calls));
    const std::string out = stem + ".out", err = stem + ".err";
    const std::string command = shell_prefix + " " + std::string(VORP_CLI_PATH) + " " + args +
                                " </dev/null >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWholeFile(out),
               WithoutLoadNote(ReadWholeFile(err))};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}

// A bound on waits for what must come, far beyond any machine's pace: it
// only turns a hang into a failure.
constexpr std::chrono::seconds kHangGuard(300);  // below the tests' ctest timeout

// Waits until `ready` holds, polling every 20 ms; false after `limit`.
template <typename Condition>
bool WaitFor(Condition ready, std::chrono::seconds limit = kHangGuard) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// vorp-cli started without a shell; its standard output goes to a file, its
// standard error to a file or, with `error_on_terminal`, to a pseudo-terminal
// that the test reads (vorp-cli then shows its progress line there). Wait()
// reaps it (the destructor kills and reaps it if the test did not).
class CliChild {
public:
    explicit CliChild(const std::vector<std::string>& args, bool error_on_terminal = false)
        : out_(TempPath("child" + std::to_string(++Count()) + ".out")), err_(out_ + ".err") {
        std::vector<std::string> words = {VORP_CLI_PATH};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        const int terminal = error_on_terminal ? OpenTerminal() : -1;
        if (terminal >= 0) {
            posix_spawn_file_actions_adddup2(&actions, terminal, 2);
        } else {
            posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (terminal >= 0) close(terminal);  // the child holds it now
        if (failed) throw std::runtime_error("posix_spawn failed");
        if (terminal >= 0) reader_ = std::thread([this] { ReadTerminal(); });
    }
    ~CliChild() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) reader_.join();
        if (master_ >= 0) close(master_);
        std::remove(out_.c_str());
        std::remove(err_.c_str());
    }
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    void Signal(int signal) const { kill(pid_, signal); }
    // The exit status, or -1 when a signal ended the process.
    int Wait() {
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
        if (reader_.joinable()) reader_.join();  // the terminal is read to its end
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string Out() const { return ReadWholeFile(out_); }
    std::string Err() const {
        if (master_ < 0) return WithoutLoadNote(ReadWholeFile(err_));
        const std::lock_guard<std::mutex> lock(terminal_mutex_);
        return WithoutLoadNote(terminal_text_);
    }
    // Whether the terminal of standard error showed `text` (false after the
    // hang guard, or when the child ended first).
    bool ShowsOnTerminal(const std::string& text) const {
        return WaitFor([&] {
                   const std::lock_guard<std::mutex> lock(terminal_mutex_);
                   return Contains(terminal_text_, text) || terminal_closed_;
               }) &&
               Contains(Err(), text);
    }

private:
    static int& Count() {
        static int count = 0;
        return count;
    }
    // Opens a pseudo-terminal without translation of line ends; its slave,
    // or -1.
    int OpenTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return -1;
        const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
        termios settings{};
        if (slave >= 0 && tcgetattr(slave, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(slave, TCSANOW, &settings);
        }
        return slave;
    }
    void ReadTerminal() {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(master_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            const std::lock_guard<std::mutex> lock(terminal_mutex_);
            if (got > 0) terminal_text_.append(buffer, static_cast<std::size_t>(got));
        }
        const std::lock_guard<std::mutex> lock(terminal_mutex_);
        terminal_closed_ = true;  // every holder of the slave has closed it
    }

    std::string out_, err_;
    pid_t pid_ = -1;
    int master_ = -1;
    std::thread reader_;
    mutable std::mutex terminal_mutex_;
    std::string terminal_text_;
    bool terminal_closed_ = false;
};

// The temporary files of `--output path` (path.partial-XXXXXX) now present.
inline std::vector<std::string> PartialFiles(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string prefix =
        path.substr(slash == std::string::npos ? 0 : slash + 1) + ".partial-";
    std::vector<std::string> found;
    if (DIR* listing = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0) found.push_back(dir + "/" + name);
        }
        closedir(listing);
    }
    return found;
}

// Splits CSV text (RFC 4180: quoted fields, doubled quotes, CRLF or LF) into
// rows of fields. Throws on an unterminated quote.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, field_started = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = field_started = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            field_started = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            field_started = false;
        } else {
            field += c;
            field_started = true;
        }
    }
    if (quoted) throw std::runtime_error("CSV: unterminated quote");
    if (field_started || !field.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

// The text without its leading "# key: value" context lines.
inline std::string WithoutContext(const std::string& text) {
    std::size_t at = 0;
    while (text.compare(at, 2, "# ") == 0) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return {};
        at = end + 1;
    }
    return text.substr(at);
}

using CsvRows = std::vector<std::vector<std::string>>;

// The value of `column` in every data row (rows[0] is the header).
inline std::vector<std::string> Column(const CsvRows& rows, const std::string& column) {
    std::size_t index = 0;
    while (index < rows.at(0).size() && rows[0][index] != column) ++index;
    std::vector<std::string> values;
    for (std::size_t r = 1; r < rows.size(); ++r) values.push_back(rows[r].at(index));
    return values;
}
