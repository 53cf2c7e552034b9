#include "audio_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
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

// Bytes a sample takes in the file; 8, the widest, for the encodings without a fixed size.
double bytesPerSample(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW: return 1.0;
        case SF_FORMAT_PCM_16: return 2.0;
        case SF_FORMAT_PCM_24: return 3.0;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 4.0;
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM: return 0.5;
        default: return 8.0;
    }
}

// The largest chunk a 32-bit size counts, less room for the header chunks before the samples.
constexpr double kLargest32BitChunk = 4294967295.0 - 65536.0;

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

std::uint32_t littleEndian(const unsigned char* p, int bytes) {
    std::uint32_t word = 0;
    for (int i = bytes - 1; i >= 0; --i) word = word << 8 | p[i];
    return word;
}

std::uint32_t bigEndian(const unsigned char* p, int bytes) {
    std::uint32_t word = 0;
    for (int i = 0; i < bytes; ++i) word = word << 8 | p[i];
    return word;
}

// A data size that writers to a pipe put in before they know the length (0, 0xFFFFFFFF, or near
// 2 GiB as some do), and which announces nothing.
bool isPlaceholderSize(std::uint32_t size) { return size == 0 || size >= 0x7FFF0000u; }

// The frames a WAV or AIFF header announces, read from its own chunks with pread (libsndfile trims
// its count to what the file holds): WAV's data size over the fmt chunk's block alignment, AIFF's
// COMM frame count. 0 for other files, for pipes, and where the header does not say.
sf_count_t headerFrames(int fd, int major) {
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return 0;
    const bool wav = major == SF_FORMAT_WAV && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
    const bool aiff = major == SF_FORMAT_AIFF && std::memcmp(head, "FORM", 4) == 0 &&
                      (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0);
    if (!wav && !aiff) return 0;
    constexpr int kChunksLookedAt = 64;
    off_t at = sizeof head;
    std::uint32_t blockAlign = 0;
    for (int n = 0; n < kChunksLookedAt; ++n) {
        unsigned char chunk[24];  // id, size, and the fields read from the start of fmt and COMM
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, at);
        if (got < 8) return 0;
        const std::uint32_t size = wav ? littleEndian(chunk + 4, 4) : bigEndian(chunk + 4, 4);
        if (wav && std::memcmp(chunk, "fmt ", 4) == 0 && got >= 22) blockAlign = littleEndian(chunk + 20, 2);
        if (wav && std::memcmp(chunk, "data", 4) == 0) {
            return blockAlign == 0 || isPlaceholderSize(size) ? 0 : static_cast<sf_count_t>(size / blockAlign);
        }
        if (aiff && std::memcmp(chunk, "COMM", 4) == 0 && got >= 14) return bigEndian(chunk + 10, 4);
        at += 8 + static_cast<off_t>(size) + (size & 1);
    }
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
    if (sf_format_check(&probe)) return formatForLength(probe.format, input.frames, input.channels);
    if (!request.bits.empty()) {
        throw FileError("cannot write " + containerName(major) + " with --bits " + request.bits);
    }
    probe.format = major | SF_FORMAT_PCM_24;
    if (sf_format_check(&probe)) return formatForLength(probe.format, input.frames, input.channels);
    throw FileError("cannot write " + containerName(major) + " at " + std::to_string(input.samplerate) + " Hz with " +
                    std::to_string(input.channels) + " channel(s)");
}

int formatForLength(int format, sf_count_t frames, int channels) {
    const int major = format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_AIFF) return format;
    const double bytes = static_cast<double>(frames) * channels * bytesPerSample(format & SF_FORMAT_SUBMASK);
    if (bytes <= kLargest32BitChunk) return format;
    if (major == SF_FORMAT_WAV) return SF_FORMAT_RF64 | (format & (SF_FORMAT_SUBMASK | SF_FORMAT_ENDMASK));
    char size[32];
    std::snprintf(size, sizeof size, "%.1f", bytes / 1073741824.0);
    throw FileError(std::string("is too long for AIFF: its ") + size +
                    " GiB of samples pass the 4 GiB an AIFF file can hold; write WAV or FLAC (--format)");
}

AudioReader::AudioReader(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) throw FileError("cannot open: " + systemReason(ec.value()));
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
    // libsndfile gives the largest count for a stream whose end it cannot find (an Ogg file cut
    // short): that announces nothing.
    lengthKnown_ = info_.frames != SF_COUNT_MAX;
    if (lengthKnown_) announced_ = std::max(info_.frames, headerFrames(fd_, info_.format & SF_FORMAT_TYPEMASK));
}

AudioReader::~AudioReader() { release(); }

void AudioReader::release() {
    if (file_ != nullptr) sf_close(file_);
    if (fd_ >= 0) ::close(fd_);
    file_ = nullptr;
    fd_ = -1;
}

sf_count_t AudioReader::read(double* interleaved, sf_count_t frames) {
    const sf_count_t got = sf_readf_double(file_, interleaved, frames);
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
        throw FileError("read failed: " + libraryReason(file_));
    }
    framesRead_ += got;
    return got;
}

AudioWriter::AudioWriter(const std::string& path, const SF_INFO& info) : file_(path), info_(info) {
    integerBits_ = bitsOfEncoding(info.format & SF_FORMAT_SUBMASK);
    const OpenResult opened = openThroughLibrary(file_.fd(), SFM_WRITE, &info_);
    sound_ = opened.file;
    if (sound_ == nullptr) {
        throw FileError("cannot write " + containerName(info.format & SF_FORMAT_TYPEMASK) + ": " + opened.failure);
    }
}

AudioWriter::~AudioWriter() {
    if (sound_ != nullptr) sf_close(sound_);
}

void AudioWriter::write(const double* interleaved, sf_count_t frames) {
    const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(info_.channels);
    sf_count_t written = 0;
    if (integerBits_ == 0) {
        const double* samples = interleaved;
        if ((info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
            // A finite sample past the float range is held at its edge, not written as infinity.
            floats_.assign(interleaved, interleaved + count);
            for (double& x : floats_) {
                if (std::isfinite(x)) x = std::clamp(x, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX));
            }
            samples = floats_.data();
        }
        written = sf_writef_double(sound_, samples, frames);
    } else {
        // libsndfile reads n / 2^(bits-1) but writes x * (2^(bits-1) - 1), which would move every
        // untouched sample by up to one step; scale symmetrically and hand it whole 32-bit words.
        const double scale = std::ldexp(1.0, integerBits_ - 1);
        const double top = scale - 1.0;
        const int shift = 32 - integerBits_;
        scratch_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double x = interleaved[i] * scale;
            const double step = std::isnan(x) ? 0.0 : std::clamp(std::nearbyint(x), -scale, top);
            // Left-justified, as libsndfile's int interface expects for every PCM width.
            scratch_[i] = static_cast<int>(static_cast<std::int64_t>(step) * (std::int64_t{1} << shift));
        }
        written = sf_writef_int(sound_, scratch_.data(), frames);
    }
    if (written != frames) throw FileError("write failed: " + libraryReason(sound_));
    framesWritten_ += frames;
}

void AudioWriter::commit(bool replace) {
    const int finished = sf_close(sound_);
    sound_ = nullptr;
    if (finished != 0) throw FileError(std::string("write failed: ") + sf_error_number(finished));
    // libsndfile does not report every failed write: a FLAC encoder's last flush on a full disk is
    // lost and sf_close still succeeds. The finished file is read back and must hold every frame.
    SF_INFO back{};
    const OpenResult reopened = ::lseek(file_.fd(), 0, SEEK_SET) == 0 ? openThroughLibrary(file_.fd(), SFM_READ, &back)
                                                                      : OpenResult{nullptr, systemReason(errno)};
    if (reopened.file == nullptr) throw FileError("write failed: the finished file cannot be read back (" + reopened.failure + ")");
    sf_close(reopened.file);
    if (back.frames != framesWritten_) {
        const bool counted = back.frames > 0 && back.frames != SF_COUNT_MAX;
        throw FileError("write failed: the finished file reads back with " +
                        (counted ? std::to_string(back.frames) : std::string("an unknown number of")) + " frames, not the " +
                        std::to_string(framesWritten_) + " written (is the disk full?)");
    }
    file_.commit(replace);
}

}  // namespace lumisere::cli
