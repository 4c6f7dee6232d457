#include "output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace {
// Names tried for the successor before giving up, as mkstemp does.
constexpr int kNameAttempts = 100;

// Set while a named temporary exists or FILE is being rewritten in place; a
// handler that would end the process leaves the ending to the commit then.
std::atomic<bool> g_committing{false};
std::atomic<void (*)(int)> g_deferred_end{nullptr};
std::atomic<int> g_deferred_signal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<void (*)(int)>::is_always_lock_free,
              "read and written by signal handlers");

// While it lives, no signal can end the process before the commit's files
// are consistent: this thread blocks every signal that is not raised by a
// fault (so its own writes get EFBIG or EPIPE rather than SIGXFSZ or
// SIGPIPE), and a handler that runs on another thread defers its ending
// through DeferredByCommit. An ending deferred meanwhile happens at its end.
class CommitWindow {
public:
    CommitWindow() {
        sigset_t all;
        sigfillset(&all);
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
            sigdelset(&all, fault);
        }
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
        g_committing.store(true);
    }
    ~CommitWindow() {
        g_committing.store(false);
        // A signal that waited in this thread is handled here, by a handler
        // that now ends the process itself.
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
        if (void (*const end)(int) = g_deferred_end.exchange(nullptr))
            end(g_deferred_signal.load());
    }
    CommitWindow(const CommitWindow&) = delete;
    CommitWindow& operator=(const CommitWindow&) = delete;

private:
    sigset_t saved_;
};

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Whether a new file may be made in `directory`: 0 or the errno that refuses
// it. An unnamed file tries it for real (and leaves nothing); where the file
// system has no unnamed files, the permission bits tell.
int CreationRefusal(const std::string& directory) {
    const int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    return access(directory.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// A rename cannot replace a mount point (EBUSY), such as a file bound into a
// container.
bool IsMountPoint(const std::string& path, const struct stat& file, const std::string& directory) {
    struct statx extended {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &extended) == 0 &&
        (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
        return (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    }
    struct stat parent {};
    return stat(directory.c_str(), &parent) == 0 && parent.st_dev != file.st_dev;
}

// In a sticky directory only the owner of a file or of the directory (or a
// privileged user) may rename over it (EPERM otherwise).
bool StickyDirectoryProtects(const struct stat& file, const std::string& directory) {
    struct stat parent {};
    if (stat(directory.c_str(), &parent) != 0 || (parent.st_mode & S_ISVTX) == 0) return false;
    const uid_t user = geteuid();
    return user != 0 && file.st_uid != user && parent.st_uid != user;
}

// Writes all `size` bytes at `offset`; 0 or the errno of the failure.
int WriteAt(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t written = pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return 0;
}

// Reads `text.size()` bytes from offset 0; 0 or the errno of the failure.
int ReadAll(int fd, std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = pread(fd, &text[done], text.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) break;  // shorter than it was a moment ago
        done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return 0;
}

// Writes `size` bytes into the existing file `path`, opened without creating
// or truncating it (a FIFO's open waits for its reader); 0 or the errno of
// the failure. EINTR means a stop signal: the stop signals are installed
// without SA_RESTART, so a wait for a reader that never comes can be ended.
int WriteInto(const std::string& path, const char* data, std::size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno;
    int failure = 0;
    while (size > 0 && failure == 0) {
        const ssize_t written = write(fd, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
        } else {
            failure = written == 0 ? EIO : errno;
        }
    }
    if (close(fd) != 0 && failure == 0 && errno != EINTR) failure = errno;
    return failure;
}

// Gives the unnamed file open at `fd` the name `name`: through /proc, or
// where /proc is missing by the descriptor itself (which needs
// CAP_DAC_READ_SEARCH); 0 or the errno of the failure.
int LinkUnnamed(int fd, const std::string& name) {
    char proc_path[64];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, proc_path, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;
    return linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

// `stem` with ".partial-" and six random letters or digits.
std::string PartialName(const std::string& stem) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        static unsigned counter = 0;
        const unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u + ++counter;
        for (std::size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(seed >> (4 * i));
    }
    std::string name = stem + ".partial-";
    for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

std::string Reason(int error_number) { return std::strerror(error_number); }
}  // namespace

bool DeferredByCommit(void (*end)(int), int signal) {
    if (!g_committing.load()) return false;
    g_deferred_signal.store(signal);
    g_deferred_end.store(end);
    // The window may have closed before the ending was recorded; the caller
    // then ends the process itself (if the window's end ran it too, the
    // process ends either way).
    return g_committing.load();
}

OutputFile::OutputFile(std::string path) : path_(path == "-" ? std::string() : std::move(path)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Refuse(int error_number, std::string& error) const {
    return Refuse(Reason(error_number), error);
}

bool OutputFile::Refuse(const std::string& reason, std::string& error) const {
    error = "--output " + path_ + ": " + reason;
    return false;
}

bool OutputFile::Open(std::string& error) {
    if (path_.empty()) {
        stream_ = stdout;
        return true;
    }
    struct stat existing {};
    if (stat(path_.c_str(), &existing) != 0) {
        // A new file (or a dangling link, replaced like one). A missing or
        // closed directory is named, since FILE itself is not the problem.
        if (errno != ENOENT && errno != ENOTDIR && errno != EACCES && errno != ELOOP)
            return Refuse(errno, error);
        target_ = path_;
        directory_ = DirectoryOf(path_);
        if (const int refusal = CreationRefusal(directory_)) {
            return Refuse("cannot create a file in " + directory_ + ": " + Reason(refusal), error);
        }
        // Readable by all, as the umask allows.
        const mode_t mask = umask(0);
        umask(mask);
        permissions_ = 0666 & ~mask;
        way_ = Way::Replace;
    } else {
        if (S_ISDIR(existing.st_mode)) return Refuse(EISDIR, error);
        if (access(path_.c_str(), W_OK) != 0) return Refuse(errno, error);
        if (!S_ISREG(existing.st_mode)) {
            way_ = Way::WriteInto;
        } else {
            char* resolved = realpath(path_.c_str(), nullptr);
            if (!resolved) return Refuse(errno, error);
            target_ = resolved;
            std::free(resolved);
            directory_ = DirectoryOf(target_);
            existed_ = true;
            // Set-id and sticky bits are not carried over to a new file.
            permissions_ = existing.st_mode & 0777;
            owner_ = existing.st_uid;
            group_ = existing.st_gid;
            const int refusal = CreationRefusal(directory_);
            const bool directory_refuses =
                refusal == EACCES || refusal == EPERM || refusal == EROFS;
            way_ = directory_refuses || IsMountPoint(target_, existing, directory_) ||
                           StickyDirectoryProtects(existing, directory_)
                       ? Way::InPlace
                       : Way::Replace;
        }
    }
    stream_ = open_memstream(&buffer_, &buffer_size_);
    if (!stream_) return Refuse(errno, error);
    return true;
}

int OutputFile::CloseStream() {
    // The errno of a failed write is long gone; a memory stream fails only
    // for want of memory.
    int failure = std::ferror(stream_) != 0 ? ENOMEM : 0;
    if (std::fclose(stream_) != 0 && failure == 0) failure = errno;
    stream_ = nullptr;
    return failure;
}

bool OutputFile::Commit(std::string& error) {
    if (!stream_) return false;
    if (path_.empty()) {
        errno = 0;
        const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
        if (!flushed) error = Reason(errno ? errno : EIO);
        return flushed;
    }
    std::string reason;
    if (const int failure = CloseStream()) {
        reason = Reason(failure);
    } else {
        switch (way_) {
            case Way::Replace:
                reason = Replace();
                break;
            case Way::InPlace:
                reason = WriteInPlace();
                break;
            case Way::WriteInto: {
                const int failure = WriteInto(path_, buffer_, buffer_size_);
                stopped_ = failure == EINTR;
                if (failure != 0) reason = Reason(failure);
                break;
            }
        }
    }
    Discard();
    if (reason.empty()) return true;
    error = path_ + ": " + reason;
    return false;
}

void OutputFile::TakeOverAttributes(int fd) const {
    if (existed_ && fchown(fd, owner_, group_) != 0) {
        // Not privileged: the group at least, where this user belongs to it.
        [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), group_);
    }
    fchmod(fd, permissions_);  // after fchown, which may clear bits
}

std::string OutputFile::Replace() {
    const int fd = open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return ReplaceThroughNamedTemporary();
        return "cannot create a file in " + directory_ + ": " + Reason(errno);
    }
    // Written in full while it has no name: whatever ends the process now
    // leaves nothing behind.
    TakeOverAttributes(fd);
    int failure = WriteAt(fd, buffer_, buffer_size_, 0);
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    if (failure != 0) {
        close(fd);
        return Reason(failure);
    }
    std::string reason;
    bool unlinkable = false;
    {
        const CommitWindow window;
        std::string name;
        // Six random characters collide about never; the bound is for a
        // random source that repeats itself.
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            name = PartialName(target_);
            failure = LinkUnnamed(fd, name);
            if (failure != EEXIST) break;
        }
        if (failure == ENOENT || failure == EPERM) {
            unlinkable = true;  // neither /proc nor the privilege to link a descriptor
        } else if (failure != 0) {
            reason = "cannot create a file in " + directory_ + ": " + Reason(failure);
        } else if (std::rename(name.c_str(), target_.c_str()) != 0) {
            // The complete results stay under the temporary name.
            const int refusal = errno;
            reason = Reason(refusal) + "; the results are in " + name;
        }
    }
    close(fd);
    return unlinkable ? ReplaceThroughNamedTemporary() : reason;
}

std::string OutputFile::ReplaceThroughNamedTemporary() {
    const CommitWindow window;
    std::string name = target_ + ".partial-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return "cannot create a file in " + directory_ + ": " + Reason(errno);
    TakeOverAttributes(fd);
    int failure = WriteAt(fd, buffer_, buffer_size_, 0);
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    if (close(fd) != 0 && failure == 0 && errno != EINTR) failure = errno;
    if (failure != 0) {
        unlink(name.c_str());
        return Reason(failure);
    }
    if (std::rename(name.c_str(), target_.c_str()) != 0) {
        const int refusal = errno;
        return Reason(refusal) + "; the results are in " + name;
    }
    return {};
}

std::string OutputFile::WriteInPlace() {
    bool readable = true;
    int fd = open(target_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0) return Reason(errno);
    struct stat before {};
    if (fstat(fd, &before) != 0) {
        const int failure = errno;
        close(fd);
        return Reason(failure);
    }
    // The old content, to put back if the new one cannot be written whole.
    std::string old;
    if (readable) {
        try {
            old.resize(static_cast<std::size_t>(before.st_size));
        } catch (const std::bad_alloc&) {
            close(fd);
            return "not enough memory to keep its old content while it is rewritten; it is left as "
                   "it was";
        }
        if (const int failure = ReadAll(fd, old)) {
            close(fd);
            return Reason(failure);
        }
    }
    const off_t old_size = static_cast<off_t>(old.size());
    const off_t new_size = static_cast<off_t>(buffer_size_);

    const CommitWindow window;
    // The space first, so that a full file system refuses before anything
    // changes. Where the file system cannot reserve, the writes will tell.
    if (new_size > old_size && fallocate(fd, 0, 0, new_size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS) {
        const int failure = errno;
        struct stat now {};
        if (fstat(fd, &now) == 0 && now.st_size != before.st_size) {
            [[maybe_unused]] const int ignored = ftruncate(fd, before.st_size);
        }
        close(fd);
        return Reason(failure);
    }
    int failure = WriteAt(fd, buffer_, buffer_size_, 0);
    if (failure == 0 && ftruncate(fd, new_size) != 0) failure = errno;
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    std::string reason;
    if (failure != 0) {
        const bool restored = readable && WriteAt(fd, old.data(), old.size(), 0) == 0 &&
                              ftruncate(fd, old_size) == 0 && fsync(fd) == 0;
        reason = Reason(failure) + (restored ? "; its old content is back"
                                             : "; its old content could not be put back");
    }
    close(fd);
    return reason;
}

void OutputFile::Discard() {
    if (path_.empty()) return;
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    std::free(buffer_);
    buffer_ = nullptr;
    buffer_size_ = 0;
}
