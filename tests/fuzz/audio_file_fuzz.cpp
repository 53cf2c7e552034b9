// Fuzzes the command-line tool's reading of audio files: any bytes, written to a file and opened as
// the tool opens an input (WAV, FLAC, AIFF, Ogg and whatever else libsndfile recognises), then read
// to the end in blocks. A malformed header must give a FileError, never a crash, a hang or a read
// past a buffer; the samples read must be within the block asked for.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio_file.h"

namespace {

std::string gPath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/lumisere-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    gPath = name;
    std::atexit([] { std::remove(gPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(gPath.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    try {
        lumisere::cli::AudioReader reader(gPath);
        const int channels = reader.info().channels;
        if (channels < 1) std::abort();
        constexpr sf_count_t kBlock = 512;
        std::vector<double> block(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(channels));
        // A bound on the work per input: a header may claim billions of frames.
        for (int blocks = 0; blocks < 256; ++blocks) {
            const sf_count_t got = reader.read(block.data(), kBlock);
            if (got < 0 || got > kBlock) std::abort();
            if (got == 0) break;
        }
        (void)reader.framesAnnounced();
    } catch (const lumisere::cli::FileError&) {
        // The expected answer to a file that is not audio.
    }
    return 0;
}
