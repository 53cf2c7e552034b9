// One plug-in instance driven exactly as a host drives it: through the exported entry point and the
// AEffect record it returns (open, sample rate, block size, mains on, parameters, replacing process
// per block, mains off, close). The tool is linked with the plug-in's code, so besides the record it
// reads each block's own figures from the processor behind it.
#pragma once

#include <array>

#include "core/parameters.h"
#include "formats/vst2/vst_host.h"

namespace lumisere {
class Processor;
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
    // Returns the block's largest reductions, unsmoothed (the meters a host's editor shows lag them).
    BlockReductions process(float* const inputs[2], float* const outputs[2], int frames);

private:
    AEffect* effect_ = nullptr;
    const Processor* processor_ = nullptr;
};

}  // namespace lumisere::cli
