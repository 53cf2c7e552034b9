// One plug-in instance driven exactly as a host drives it: through the exported entry point and the
// AEffect record it returns (open, sample rate, block size, mains on, parameters, replacing process
// per block, mains off, close). The tool is linked with the plug-in's code, so besides the record it
// may read the meters the instance publishes after each block.
#pragma once

#include <array>

#include "platform/vst_host.h"
#include "plugin/parameters.h"

namespace lumisere {
struct PluginInstance;
}

namespace lumisere::cli {

// The largest reductions inside one processed block, in dB (0 when nothing was reduced).
struct BlockReductions {
    double deEssDb = 0.0;
    double gateDb = 0.0;
};

class HostedPlugin {
public:
    // Opens an instance and brings it to the running state with the nine normalised values. Throws
    // FileError when the plug-in does not take the sample rate (it falls back to another rate).
    HostedPlugin(int sampleRate, int blockSize, const std::array<float, kNumParams>& params);
    ~HostedPlugin();
    HostedPlugin(const HostedPlugin&) = delete;
    HostedPlugin& operator=(const HostedPlugin&) = delete;

    // One replacing process call over `frames` (at most the block size) frames of two channels.
    // Returns the block's largest reductions: the instance publishes them smoothed (each meter moves
    // a fixed share of the way to the block's figure), and the share is undone here through the
    // plug-in's own smoothing step, so the figures are the block's own and do not lag.
    BlockReductions process(float* const inputs[2], float* const outputs[2], int frames);

private:
    AEffect* effect_ = nullptr;
    PluginInstance* instance_ = nullptr;
};

}  // namespace lumisere::cli
