#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {
// Writes `size` bytes into the existing file `path`, opened without creating
// or truncating it (a FIFO's open waits for its reader); 0 or the errno of
// the failure.
int WriteInto(const std::string& path, const char* data, std::size_t size) {
    int fd;
    while ((fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC)) < 0) {
        if (errno != EINTR) return errno;
    }
    int failure = 0;
    while (size > 0 && failure == 0) {
        const ssize_t written = write(fd, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
        } else if (written == 0 || errno != EINTR) {
            failure = written == 0 ? EIO : errno;
        }
    }
    if (close(fd) != 0 && failure == 0 && errno != EINTR) failure = errno;
    return failure;
}
}  // namespace

OutputFile::OutputFile(std::string path) : path_(path == "-" ? std::string() : std::move(path)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Refuse(int error_number, std::string& error) const {
    error = "--output " + path_ + ": " + std::strerror(error_number);
    return false;
}

bool OutputFile::Open(std::string& error) {
    if (path_.empty()) {
        stream_ = stdout;
        return true;
    }
    struct stat existing {};
    if (stat(path_.c_str(), &existing) != 0) {
        // A new file (or a dangling link, replaced like one): readable by all,
        // as the umask allows; mkstemp reports a missing directory.
        const mode_t mask = umask(0);
        umask(mask);
        target_ = path_;
        return OpenTemporary(0666 & ~mask, error);
    }
    if (S_ISDIR(existing.st_mode)) return Refuse(EISDIR, error);
    if (access(path_.c_str(), W_OK) != 0) return Refuse(errno, error);
    if (!S_ISREG(existing.st_mode)) return OpenInMemory(error);
    char* resolved = realpath(path_.c_str(), nullptr);
    if (!resolved) return Refuse(errno, error);
    target_ = resolved;
    std::free(resolved);
    // Set-id and sticky bits are not carried over to a file of another owner.
    return OpenTemporary(existing.st_mode & 0777, error);
}

bool OutputFile::OpenTemporary(unsigned permissions, std::string& error) {
    std::vector<char> name(target_.begin(), target_.end());
    const std::string suffix = ".partial-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) return Refuse(errno, error);
    temporary_ = name.data();
    fchmod(fd, permissions);  // mkstemp creates it for its owner only
    stream_ = fdopen(fd, "w");
    if (!stream_) {
        const int failure = errno;
        close(fd);
        Discard();
        return Refuse(failure, error);
    }
    return true;
}

bool OutputFile::OpenInMemory(std::string& error) {
    stream_ = open_memstream(&buffer_, &buffer_size_);
    if (!stream_) return Refuse(errno, error);
    in_memory_ = true;
    return true;
}

bool OutputFile::Commit(std::string& error) {
    if (!stream_) return false;
    if (path_.empty()) {
        const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
        if (!flushed) error = std::strerror(errno);
        return flushed;
    }
    int failure = 0;
    if (in_memory_) {
        // Closing the stream fixes buffer_ and buffer_size_.
        if (std::fclose(stream_) != 0) failure = errno;
        stream_ = nullptr;
        if (failure == 0) failure = WriteInto(path_, buffer_, buffer_size_);
    } else {
        errno = 0;
        bool written = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
        written = std::fclose(stream_) == 0 && written;
        stream_ = nullptr;
        if (!written || std::rename(temporary_.c_str(), target_.c_str()) != 0) failure = errno ? errno : EIO;
        if (failure == 0) temporary_.clear();
    }
    Discard();
    if (failure == 0) return true;
    error = path_ + ": " + std::strerror(failure);
    return false;
}

void OutputFile::Discard() {
    if (path_.empty()) return;
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    std::free(buffer_);
    buffer_ = nullptr;
    buffer_size_ = 0;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}
