#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace lumisere::cli {

namespace fs = std::filesystem;

namespace {

// The process's file-creation mask, read before any thread starts (umask can only be read by
// setting it).
const mode_t gCreationMask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

// Renames without replacing: the output must not exist. Falls back to link and unlink where the
// file system has no such rename; both fail with EEXIST when the output exists.
int renameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::link(from, to) != 0) return -1;
    ::unlink(from);
    return 0;
}

const char* kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}

fs::path folderOf(const std::string& path) {
    const fs::path target(path);
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

}  // namespace

std::string systemReason(int error) {
    std::string text = std::strerror(error);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string replaceProblem(const std::string& path, bool replace) {
    struct stat st {};
    // A path that cannot be looked at is left to the temporary file's creation to report.
    if (::lstat(path.c_str(), &st) != 0) return "";
    const std::string output = "the output " + path;
    if (S_ISDIR(st.st_mode)) return output + " is a folder";
    if (!S_ISREG(st.st_mode)) {
        return output + " is " + kindOf(st.st_mode) + ", not a regular file; only regular files are replaced";
    }
    return replace ? "" : output + " exists (use --force to replace it)";
}

std::string temporaryPattern(const std::string& path, long nameMax) {
    std::string name = fs::path(path).filename().string();
    // "." before the name and ".XXXXXX" after it.
    const std::size_t room = nameMax > 8 ? static_cast<std::size_t>(nameMax - 8) : 1;
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // a continuation byte
        name.resize(cut);
    }
    return (folderOf(path) / ("." + name + ".XXXXXX")).string();
}

PendingFile::PendingFile(const std::string& path) : path_(path) {
    const fs::path folder = folderOf(path);
    const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    std::string pattern = temporaryPattern(path, nameMax > 0 ? nameMax : NAME_MAX);
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) throw FileError("cannot create a file in " + folder.string() + ": " + systemReason(errno));
    tempPath_ = pattern;
    // mkstemp makes the file private; the output gets the permissions any new file would get.
    ::fchmod(fd_, 0666 & ~gCreationMask);
}

PendingFile::~PendingFile() { discard(); }

void PendingFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

void PendingFile::commit(bool replace) {
    const std::string problem = replaceProblem(path_, replace);
    if (!problem.empty()) throw FileError(problem);
    struct stat replaced {};
    if (replace && ::lstat(path_.c_str(), &replaced) == 0) ::fchmod(fd_, replaced.st_mode & 07777);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw FileError("write failed: " + systemReason(errno));
    const int renamed = replace ? std::rename(tempPath_.c_str(), path_.c_str())
                                : renameNoReplace(tempPath_.c_str(), path_.c_str());
    if (renamed != 0) {
        // Something appeared at the output since the check above.
        if (errno == EEXIST) throw FileError(replaceProblem(path_, false));
        throw FileError("cannot rename the finished file to " + path_ + ": " + systemReason(errno));
    }
    tempPath_.clear();
}

}  // namespace lumisere::cli
