// Where vorp-cli writes its results: standard output, or a file that is
// replaced whole. The file's content is written to a temporary file beside
// it (FILE.partial-XXXXXX) and renamed over FILE only by Commit, so a run
// that fails, is refused or is killed leaves an existing FILE as it was.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
public:
    // "-" or empty: standard output.
    explicit OutputFile(std::string path);
    ~OutputFile();  // discards an uncommitted temporary file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file; false with `error` set when it cannot.
    bool Open(std::string& error);
    std::FILE* Stream() const { return stream_; }
    bool ToStandardOutput() const { return path_.empty(); }
    const std::string& Path() const { return path_; }
    // The temporary file's name, for a signal handler that must remove it
    // (valid while the object lives; empty for standard output).
    const char* TemporaryPath() const { return temporary_.c_str(); }

    // Flushes; for a file also syncs, closes and renames it over the target.
    bool Commit(std::string& error);
    // Removes the temporary file; FILE is not touched.
    void Discard();

private:
    std::string path_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
};
