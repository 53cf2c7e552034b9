// Audio files through libsndfile: reading any format it knows, choosing the output format, and
// writing through a temporary file beside the output that is renamed into place only when complete.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

#include "output_file.h"

namespace lumisere::cli {

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
// always takes Vorbis); a length the container cannot hold goes through formatForLength(). Throws
// FileError when the combination cannot be written.
int outputFormat(const SF_INFO& input, const FormatRequest& request);

// WAV and AIFF count their bytes in 32 bits, so past 4 GiB their headers wrap. A WAV output whose
// `frames` (as the input announces them) may pass that is written as RF64, WAV with 64-bit sizes
// that libsndfile and the common readers take; an AIFF output is refused (FileError) before any
// of it is written. Other formats come back unchanged.
int formatForLength(int format, sf_count_t frames, int channels);

// An input file, open for reading.
class AudioReader {
public:
    // Throws FileError: missing, a directory, unreadable, not audio libsndfile can read, no frames.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    const SF_INFO& info() const { return info_; }

    // Up to `frames` interleaved frames, integer encodings scaled to -1..1 by 2^(bits-1), so every
    // sample of PCM up to 32 bits, float and double files arrives exactly. Returns the frames read
    // (0 at the end).
    sf_count_t read(double* interleaved, sf_count_t frames);

    // The frames the file's header announces when the file holds fewer (a WAV or AIFF cut short,
    // or a stream that ended early), once read() has come to the end; 0 when the file is whole.
    sf_count_t framesAnnounced() const { return announced_ > framesRead_ ? announced_ : 0; }

    // False when the file announces no length at all (an Ogg stream whose end cannot be found).
    bool lengthKnown() const { return lengthKnown_; }

private:
    void release();

    sf_count_t announced_ = 0;  // as the header says
    sf_count_t framesRead_ = 0;
    bool lengthKnown_ = true;

    // Ours, closed exactly once whatever path the open takes; libsndfile works on its own duplicate.
    int fd_ = -1;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
};

// An output file being written, through a PendingFile: nothing is seen under the output's name until
// commit().
class AudioWriter {
public:
    // Throws FileError when the temporary file cannot be made or libsndfile refuses the format.
    AudioWriter(const std::string& path, const SF_INFO& info);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Writes interleaved frames. Integer encodings are scaled by 2^(bits-1) and rounded, the inverse
    // of how they are read, so samples that pass through unchanged are written back bit for bit. A
    // float encoding holds a finite sample past its range at the largest float, not at infinity.
    void write(const double* interleaved, sf_count_t frames);

    // Finishes the file, reads it back to make sure it holds every frame written (FileError if not:
    // a full disk can cut a file short without libsndfile saying so), and puts it in place as
    // PendingFile::commit() does.
    void commit(bool replace);

    const std::string& temporaryPath() const { return file_.temporaryPath(); }

private:
    PendingFile file_;
    SNDFILE* sound_ = nullptr;
    SF_INFO info_{};
    int integerBits_ = 0;  // bits of an integer PCM encoding, 0 for the others
    sf_count_t framesWritten_ = 0;
    std::vector<int> scratch_;
    std::vector<double> floats_;  // samples on their way to a float encoding
};

}  // namespace lumisere::cli
