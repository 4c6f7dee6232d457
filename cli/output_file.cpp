#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

OutputFile::OutputFile(std::string path) : path_(path == "-" ? std::string() : std::move(path)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(std::string& error) {
    if (path_.empty()) {
        stream_ = stdout;
        return true;
    }
    std::vector<char> name(path_.begin(), path_.end());
    const std::string suffix = ".partial-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        error = "--output " + path_ + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp creates the file for its owner only; results are ordinary files.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    temporary_ = name.data();
    stream_ = fdopen(fd, "w");
    if (!stream_) {
        error = "--output " + path_ + ": " + std::strerror(errno);
        close(fd);
        Discard();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string& error) {
    if (!stream_) return false;
    if (path_.empty()) {
        const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
        if (!flushed) error = std::strerror(errno);
        return flushed;
    }
    bool written = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
    written = std::fclose(stream_) == 0 && written;
    stream_ = nullptr;
    if (written && std::rename(temporary_.c_str(), path_.c_str()) == 0) {
        temporary_.clear();
        return true;
    }
    error = path_ + ": " + std::strerror(errno);
    Discard();
    return false;
}

void OutputFile::Discard() {
    if (path_.empty()) return;
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}
