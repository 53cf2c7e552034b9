// Audio through a plug-in as a host plays it, for comparing builds: the test signal rendered with the
// default parameters and again with stronger settings, written as raw float32 (interleaved stereo,
// first pass then second), and a comparison of two such files.
#pragma once

#include <string>

#include "formats/vst2/vst_host.h"

namespace lumisere::probe {

constexpr int kRenderBlockFrames = 512;
constexpr double kDefaultTolerance = 1e-6;

// Renders both passes through fresh instances made by entry and writes them to path. Returns 0, or 1
// with a message on stderr.
int renderToFile(VstPluginMainProc entry, const std::string& path);

// Compares two renders sample by sample. Returns 0 when both have the same length, every sample is
// finite and no two differ by more than tolerance; 1 when they differ; 2 when a file cannot be read.
// Prints the largest difference and where it is.
int compareRenders(const std::string& expectedPath, const std::string& actualPath, double tolerance);

}  // namespace lumisere::probe
