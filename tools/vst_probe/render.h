// Audio through a plug-in as a host plays it, for comparing builds: the test signal rendered with the
// default parameters and again with stronger settings, written as raw float32 (interleaved stereo,
// first pass then second), and a comparison of two such files.
#pragma once

#include <string>
#include <vector>

#include "formats/vst2/vst_host.h"

namespace lumisere::probe {

constexpr int kRenderBlockFrames = 512;
constexpr double kDefaultTolerance = 1e-6;

struct ParameterSetting {
    VstInt32 index;
    float value;
};

// The second pass: a low de-ess threshold on a lower focus band, a high gate threshold with full
// reduction, full air, some trim and a partly dry mix, so every stage of the chain has work to do.
inline constexpr ParameterSetting kStrongSettings[] = {
    {0, 0.1f},  // De-Ess Thresh
    {1, 0.3f},  // Focus Freq
    {3, 0.8f},  // Dipses Thresh
    {4, 1.0f},  // Noise Reduce
    {5, 1.0f},  // 172 Air Silk
    {6, 0.6f},  // Output Trim
    {7, 0.8f},  // Dry/Wet
};

// Both passes through fresh instances made by entry, interleaved stereo, the first pass then the
// second; false when the plug-in gives no usable instance.
bool renderPasses(VstPluginMainProc entry, std::vector<float>& out);

// Renders both passes through fresh instances made by entry and writes them to path. Returns 0, or 1
// with a message on stderr.
int renderToFile(VstPluginMainProc entry, const std::string& path);

// Compares two renders sample by sample. Returns 0 when both have the same length, every sample is
// finite and no two differ by more than tolerance; 1 when they differ; 2 when a file cannot be read.
// Prints the largest difference and where it is.
int compareRenders(const std::string& expectedPath, const std::string& actualPath, double tolerance);

}  // namespace lumisere::probe
