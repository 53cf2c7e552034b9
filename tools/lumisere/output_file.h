// The files the tool makes, audio and PNG alike: written under a hidden temporary name beside the
// final one and renamed into place only when complete, so no half-written file is ever seen under
// the final name. Only a regular file is ever replaced, and only when the user allows it.
#pragma once

#include <stdexcept>
#include <string>

namespace lumisere::cli {

// Something wrong with one file of a batch; the message does not repeat the file name.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text of an errno value in lower case, as the tool's messages write it: "permission denied".
std::string systemReason(int error);

// Why `path` must not be written, as a message naming it ("the output x.wav exists (use --force to
// replace it)", "... is a folder", "... is a device, not a regular file ..."); "" when it may be: it
// does not exist yet, or it is a regular file and `replace` is set.
std::string replaceProblem(const std::string& path, bool replace);

// The mkstemp pattern of the temporary file for `path`: ".NAME.XXXXXX" in the same folder, with
// NAME cut short (never inside a UTF-8 character) where the whole would pass `nameMax` bytes.
std::string temporaryPattern(const std::string& path, long nameMax);

// A file being made: the temporary file is created at once, open for writing, with the permissions
// any new file gets; commit() renames it to the final path; destroyed before that, it is removed.
class PendingFile {
public:
    // Throws FileError when the temporary file cannot be made.
    explicit PendingFile(const std::string& path);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return fd_; }
    const std::string& temporaryPath() const { return tempPath_; }

    // Closes the temporary file and renames it to the final path. A file at that path by then is
    // replaced only when it is a regular file and `replace` is set, and the new one takes over its
    // permission bits; otherwise FileError with the reason replaceProblem() gives.
    void commit(bool replace);

    // Closes and removes the temporary file (nothing once committed).
    void discard();

private:
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
};

}  // namespace lumisere::cli
