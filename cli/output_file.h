// Where vorp-cli writes its results: standard output, or a file that is
// replaced whole. A regular FILE (or the file a symbolic link FILE leads to)
// gets its content in a temporary file beside it (FILE.partial-XXXXXX), which
// takes over FILE's permission bits and is renamed over it only by Commit, so
// a run that fails, is refused or is killed leaves an existing FILE as it
// was. An existing FILE that is not a regular file (a FIFO, a terminal, a
// device such as /dev/null) is written into, not replaced: the content waits
// in memory and goes into FILE at Commit.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class OutputFile {
public:
    // "-" or empty: standard output.
    explicit OutputFile(std::string path);
    ~OutputFile();  // discards an uncommitted temporary file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the stream the content goes to; false with `error` set ("--output
    // FILE: reason") when FILE is a directory, may not be written, or its
    // temporary file cannot be created. Writes nothing into FILE itself.
    bool Open(std::string& error);
    std::FILE* Stream() const { return stream_; }
    bool ToStandardOutput() const { return path_.empty(); }
    const std::string& Path() const { return path_; }
    // The temporary file's name, for a signal handler that must remove it
    // (valid while the object lives; empty when there is none).
    const char* TemporaryPath() const { return temporary_.c_str(); }

    // Flushes; for a regular file also syncs, closes and renames it over the
    // target; for another kind of file writes the content into it.
    bool Commit(std::string& error);
    // Drops the content; FILE is not touched.
    void Discard();

private:
    bool Refuse(int error_number, std::string& error) const;
    // A temporary file beside target_ with these permission bits.
    bool OpenTemporary(unsigned permissions, std::string& error);
    bool OpenInMemory(std::string& error);

    std::string path_;       // as given
    std::string target_;     // the file the rename replaces: path_ with its links resolved
    std::string temporary_;  // beside target_
    std::FILE* stream_ = nullptr;
    bool in_memory_ = false;
    char* buffer_ = nullptr;  // the in-memory content, once its stream is closed
    std::size_t buffer_size_ = 0;
};
