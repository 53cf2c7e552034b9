#include "audio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace lumisere::cli {

namespace fs = std::filesystem;

namespace {

struct NamedFormat {
    const char* name;
    int major;
    const char* extension;
};

constexpr NamedFormat kFormats[] = {
    {"wav", SF_FORMAT_WAV, ".wav"},
    {"flac", SF_FORMAT_FLAC, ".flac"},
    {"aiff", SF_FORMAT_AIFF, ".aiff"},
    {"ogg", SF_FORMAT_OGG, ".ogg"},
};

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int bitsOfEncoding(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return 8;
        case SF_FORMAT_PCM_16: return 16;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32: return 32;
        default: return 0;
    }
}

std::string containerName(int major) {
    SF_FORMAT_INFO info{};
    info.format = major;
    return sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr
               ? info.name
               : "this container";
}

// The libsndfile error of an open or a handle, as a sentence fragment without the final period.
std::string libraryReason(SNDFILE* file) {
    std::string why = sf_strerror(file);
    while (!why.empty() && (why.back() == '.' || why.back() == '\n')) why.pop_back();
    return why;
}

std::string systemReason(int error) { return lowerCase(std::strerror(error)); }

// libsndfile reports a failed open through process-wide state (its error code and log text), which
// concurrent opens in a parallel batch would overwrite. Opens are serialised, and a failure's reason
// is read before the lock is let go.
//
// libsndfile also closes the descriptor of a failed open even when told not to. So it gets a
// duplicate of ours that it owns outright (closed by it on failure or by sf_close), and ours is
// closed by us exactly once: a double close could otherwise hit a descriptor another thread has just
// opened under the same number.
std::mutex gOpenMutex;

struct OpenResult {
    SNDFILE* file;
    std::string failure;  // the library's reason when file is null
};

OpenResult openThroughLibrary(int fd, int mode, SF_INFO* info) {
    const int libraryFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (libraryFd < 0) return {nullptr, systemReason(errno)};
    std::lock_guard<std::mutex> lock(gOpenMutex);
    SNDFILE* file = sf_open_fd(libraryFd, mode, info, SF_TRUE);
    return {file, file == nullptr ? libraryReason(nullptr) : std::string()};
}

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

}  // namespace

int majorFormatFromName(const std::string& name) {
    const std::string key = lowerCase(name);
    for (const auto& f : kFormats) {
        if (key == f.name) return f.major;
    }
    return 0;
}

int majorFormatFromPath(const std::string& path) {
    const std::string ext = lowerCase(fs::path(path).extension().string());
    if (ext == ".wav" || ext == ".wave") return SF_FORMAT_WAV;
    if (ext == ".flac") return SF_FORMAT_FLAC;
    if (ext == ".aif" || ext == ".aiff") return SF_FORMAT_AIFF;
    if (ext == ".ogg" || ext == ".oga") return SF_FORMAT_OGG;
    return 0;
}

std::string formatNameOf(int majorFormat) {
    for (const auto& f : kFormats) {
        if (f.major == majorFormat) return f.name;
    }
    return "";
}

std::string extensionOf(int majorFormat) {
    for (const auto& f : kFormats) {
        if (f.major == majorFormat) return f.extension;
    }
    return "";
}

int outputFormat(const SF_INFO& input, const FormatRequest& request) {
    const int inputMajor = input.format & SF_FORMAT_TYPEMASK;
    const int inputEncoding = input.format & SF_FORMAT_SUBMASK;
    const int major = request.format.empty() ? inputMajor : majorFormatFromName(request.format);
    if (major == 0) throw FileError("unknown output format \"" + request.format + "\"");

    int encoding = inputEncoding;
    if (request.bits == "16") encoding = SF_FORMAT_PCM_16;
    else if (request.bits == "24") encoding = SF_FORMAT_PCM_24;
    else if (request.bits == "32") encoding = SF_FORMAT_PCM_32;
    else if (request.bits == "float") encoding = SF_FORMAT_FLOAT;
    else if (!request.bits.empty()) throw FileError("unknown bit depth \"" + request.bits + "\"");

    if (major == SF_FORMAT_OGG) {
        if (!request.bits.empty()) throw FileError("Ogg has no bit depth; leave out --bits");
        if (inputMajor != SF_FORMAT_OGG) encoding = SF_FORMAT_VORBIS;
    }

    SF_INFO probe{};
    probe.samplerate = input.samplerate;
    probe.channels = input.channels;
    // The input's byte order only means something in its own container.
    const int endian = major == inputMajor ? (input.format & SF_FORMAT_ENDMASK) : 0;
    probe.format = major | encoding | endian;
    if (sf_format_check(&probe)) return probe.format;
    if (!request.bits.empty()) {
        throw FileError("cannot write " + containerName(major) + " with --bits " + request.bits);
    }
    probe.format = major | SF_FORMAT_PCM_24;
    if (sf_format_check(&probe)) return probe.format;
    throw FileError("cannot write " + containerName(major) + " at " + std::to_string(input.samplerate) + " Hz with " +
                    std::to_string(input.channels) + " channel(s)");
}

AudioReader::AudioReader(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw FileError("no such file");
    if (fs::is_directory(status)) throw FileError("is a directory, not an audio file");
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw FileError("cannot open: " + systemReason(errno));
    const OpenResult opened = openThroughLibrary(fd_, SFM_READ, &info_);
    file_ = opened.file;
    if (file_ == nullptr) {
        release();
        throw FileError("cannot be read as audio (" + opened.failure + ")");
    }
    if (info_.frames <= 0) {
        release();
        throw FileError("contains no audio (zero length)");
    }
}

AudioReader::~AudioReader() { release(); }

void AudioReader::release() {
    if (file_ != nullptr) sf_close(file_);
    if (fd_ >= 0) ::close(fd_);
    file_ = nullptr;
    fd_ = -1;
}

sf_count_t AudioReader::read(float* interleaved, sf_count_t frames) {
    const sf_count_t got = sf_readf_float(file_, interleaved, frames);
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
        throw FileError("read failed: " + libraryReason(file_));
    }
    return got;
}

AudioWriter::AudioWriter(const std::string& path, const SF_INFO& info) : path_(path), info_(info) {
    integerBits_ = bitsOfEncoding(info.format & SF_FORMAT_SUBMASK);
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) throw FileError("cannot create a file in " + folder.string() + ": " + systemReason(errno));
    tempPath_ = pattern;
    // mkstemp makes the file private; the output gets the permissions any new file would get.
    ::fchmod(fd_, 0666 & ~gCreationMask);
    const OpenResult opened = openThroughLibrary(fd_, SFM_WRITE, &info_);
    file_ = opened.file;
    if (file_ == nullptr) {
        discard();
        throw FileError("cannot write " + containerName(info.format & SF_FORMAT_TYPEMASK) + ": " + opened.failure);
    }
}

AudioWriter::~AudioWriter() { discard(); }

void AudioWriter::discard() {
    if (file_ != nullptr) sf_close(file_);
    if (fd_ >= 0) ::close(fd_);
    file_ = nullptr;
    fd_ = -1;
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

void AudioWriter::write(const float* interleaved, sf_count_t frames) {
    sf_count_t written = 0;
    if (integerBits_ == 0) {
        written = sf_writef_float(file_, interleaved, frames);
    } else {
        // libsndfile reads n / 2^(bits-1) but writes x * (2^(bits-1) - 1), which would move every
        // untouched sample by up to one step; scale symmetrically and hand it whole 32-bit words.
        const double scale = std::ldexp(1.0, integerBits_ - 1);
        const double top = scale - 1.0;
        const int shift = 32 - integerBits_;
        const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(info_.channels);
        scratch_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double x = static_cast<double>(interleaved[i]) * scale;
            const double step = std::isnan(x) ? 0.0 : std::clamp(std::nearbyint(x), -scale, top);
            // Left-justified, as libsndfile's int interface expects for every PCM width.
            scratch_[i] = static_cast<int>(static_cast<std::int64_t>(step) * (std::int64_t{1} << shift));
        }
        written = sf_writef_int(file_, scratch_.data(), frames);
    }
    if (written != frames) throw FileError("write failed: " + libraryReason(file_));
}

void AudioWriter::commit(bool replace) {
    const int finished = sf_close(file_);
    file_ = nullptr;
    const int closed = ::close(fd_);
    fd_ = -1;
    if (finished != 0) throw FileError(std::string("write failed: ") + sf_error_number(finished));
    if (closed != 0) throw FileError("write failed: " + systemReason(errno));
    int renamed = 0;
    if (replace) {
        renamed = std::rename(tempPath_.c_str(), path_.c_str());
    } else {
        renamed = renameNoReplace(tempPath_.c_str(), path_.c_str());
        if (renamed != 0 && errno == EEXIST) throw FileError(path_ + " exists (use --force to replace it)");
    }
    if (renamed != 0) throw FileError("cannot rename the finished file to " + path_ + ": " + systemReason(errno));
    tempPath_.clear();
}

}  // namespace lumisere::cli
