// Where vorp-cli writes its results: standard output, or a file that is
// changed only when the work ends. During the run the content waits in
// memory, so a run that fails, is refused, is stopped before any figure or is
// ended by any signal leaves an existing FILE as it was and leaves nothing
// beside it.
//
// Commit then puts the content in place in one of three ways, chosen by Open
// before anything runs:
//  - replace: a regular FILE (or the file a symbolic link FILE leads to), or
//    a new one, gets a complete successor that is renamed over it. The
//    successor is an unnamed file (O_TMPFILE) written in full and named
//    FILE.partial-XXXXXX only for the instant before the rename; the
//    terminating signals wait meanwhile, so that no name is ever left behind
//    by one. It keeps FILE's permission bits and, made by root, its owner
//    and group.
//  - in place: where a rename could not replace FILE (FILE is a mount point,
//    its directory takes no new file, or a sticky directory protects it
//    from this user) but FILE may be written, it is rewritten in place: the
//    space is reserved first, and if writing still fails the old content,
//    read just before, is put back.
//  - write into: a FIFO, a terminal or a device such as /dev/null is written
//    into, not replaced. A stop signal while waiting for a FIFO's reader
//    ends the wait (Stopped()).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string>

// For a signal handler about to end the process (or to let a signal end it):
// while a Commit has a named temporary or is rewriting FILE in place, records
// `end` and returns true, and the commit calls end(signal) once its files are
// consistent; otherwise returns false and the handler ends the process now.
// Async-signal-safe.
bool DeferredByCommit(void (*end)(int), int signal);

class OutputFile {
public:
    // "-" or empty: standard output.
    explicit OutputFile(std::string path);
    ~OutputFile();  // drops uncommitted content
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks that FILE can take the results and opens the stream the content
    // goes to; false with `error` set ("--output FILE: reason") when FILE is
    // a directory, may not be written, or is new in a directory that takes
    // no file. Leaves nothing in FILE's directory.
    bool Open(std::string& error);
    std::FILE* Stream() const { return stream_; }
    bool ToStandardOutput() const { return path_.empty(); }
    const std::string& Path() const { return path_; }

    // Flushes standard output, or puts the content into FILE as Open chose.
    // False with `error` set ("FILE: reason") when FILE could not take it;
    // FILE then holds its old content (`error` says so where a rewrite in
    // place could not put it back), and where a successor was complete but
    // could not be renamed, `error` names the file that holds it.
    bool Commit(std::string& error);
    // After a failed Commit: a stop signal ended the wait for a FIFO's
    // reader (or a blocked write into it); nothing more was written.
    bool Stopped() const { return stopped_; }
    // Drops the content; FILE is not touched.
    void Discard();

private:
    enum class Way { Replace, InPlace, WriteInto };

    bool Refuse(int error_number, std::string& error) const;
    bool Refuse(const std::string& reason, std::string& error) const;
    // Closes the memory stream; the errno of its failure (such as ENOMEM).
    int CloseStream();
    // Each puts the content into FILE; empty, or what went wrong.
    std::string Replace();
    // Where the file system has no unnamed files (or they cannot be linked).
    std::string ReplaceThroughNamedTemporary();
    std::string WriteInPlace();
    // Gives the successor open at `fd` FILE's owner, group and permission bits.
    void TakeOverAttributes(int fd) const;

    std::string path_;       // as given
    std::string target_;     // the file replaced: path_ with its links resolved
    std::string directory_;  // target_'s directory
    Way way_ = Way::Replace;
    bool existed_ = false;  // target_ was a file when Open ran
    unsigned permissions_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    std::FILE* stream_ = nullptr;
    char* buffer_ = nullptr;  // the content, fixed once its stream is closed
    std::size_t buffer_size_ = 0;
    bool stopped_ = false;
};
