// Audio files through libsndfile: reading any format it knows, choosing the output format, and
// writing through a temporary file beside the output that is renamed into place only when complete.
#pragma once

#include <sndfile.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace lumisere::cli {

// Something wrong with one file of a batch; the message does not repeat the file name.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the user asked of the output format: both empty means "like the input".
struct FormatRequest {
    std::string format;  // "", "wav", "flac", "aiff" or "ogg"
    std::string bits;    // "", "16", "24", "32" (integer PCM) or "float" (32-bit float)
};

// The container of a format name ("wav" ...) or of a file name's extension (".wav", ".aif", ...);
// 0 when it names none of the four.
int majorFormatFromName(const std::string& name);
int majorFormatFromPath(const std::string& path);

// The name and the extension written for a container: "wav" and ".wav" ...; "" for others.
std::string formatNameOf(int majorFormat);
std::string extensionOf(int majorFormat);

// The libsndfile format word of the output: the input's container and sample encoding unless the
// request names others. An encoding the chosen container cannot hold falls back to 24-bit PCM (Ogg
// always takes Vorbis). Throws FileError when the combination cannot be written.
int outputFormat(const SF_INFO& input, const FormatRequest& request);

// An input file, open for reading.
class AudioReader {
public:
    // Throws FileError: missing, a directory, unreadable, not audio libsndfile can read, no frames.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    const SF_INFO& info() const { return info_; }

    // Up to `frames` interleaved frames as floats in -1..1; returns the frames read (0 at the end).
    sf_count_t read(float* interleaved, sf_count_t frames);

private:
    void release();

    // Ours, closed exactly once whatever path the open takes; libsndfile works on its own duplicate.
    int fd_ = -1;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
};

// An output file being written. Samples go to a hidden temporary file in the output's folder;
// commit() renames it to the output, and an instance destroyed before that removes it, so no
// half-written output is ever seen under the output's name.
class AudioWriter {
public:
    // Throws FileError when the temporary file cannot be made or libsndfile refuses the format.
    AudioWriter(const std::string& path, const SF_INFO& info);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Writes interleaved frames. Integer encodings are scaled by 2^(bits-1) and rounded, the inverse
    // of how they are read, so samples that pass through unchanged are written back bit for bit.
    void write(const float* interleaved, sf_count_t frames);

    // Finishes the file and renames it to the output. Without `replace`, an output that has appeared
    // in the meantime is left alone and FileError is thrown.
    void commit(bool replace);

    const std::string& temporaryPath() const { return tempPath_; }

private:
    void discard();

    std::string path_;
    std::string tempPath_;
    int fd_ = -1;  // ours, as in AudioReader
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    int integerBits_ = 0;  // bits of an integer PCM encoding, 0 for the others
    std::vector<int> scratch_;
};

}  // namespace lumisere::cli
