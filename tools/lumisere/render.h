// Renders one audio file through the plug-in and reports what it did.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "audio_file.h"
#include "core/parameters.h"
#include "report.h"

namespace lumisere::cli {

struct RenderOptions {
    std::array<float, kNumParams> params{};  // normalised, as the host would set them
    int blockSize = 512;                     // frames per process call
    FormatRequest format;                    // output container and encoding, empty for the input's
    bool replace = false;                    // an existing output may be replaced
};

// How far one render has come, for a progress display on another thread.
struct RenderProgress {
    std::atomic<std::int64_t> framesDone{0};
    std::atomic<std::int64_t> framesTotal{0};  // 0 until the input is open
};

// Reads `input`, runs it through a fresh plug-in instance block by block (mono as dual mono, written
// back mono) and writes `output` through a temporary file; bypassed, the samples are copied at the
// file's own precision instead. Stops between blocks when `stop` is set. Throws FileError for
// anything wrong with this file; nothing is left at `output` then. An input cut short is rendered as
// far as it goes, and the report says so.
FileReport renderFile(const std::string& input, const std::string& output, const RenderOptions& options,
                      RenderProgress& progress, const std::atomic<bool>& stop);

}  // namespace lumisere::cli
