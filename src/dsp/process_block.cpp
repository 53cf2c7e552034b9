#include "dsp/process_block.h"

#include <cstring>

namespace lumisere::dsp {

MeterValues smoothMeters(const MeterValues& previous, const BlockPeaks& block) {
    MeterValues m;
    m.outPeakL = previous.outPeakL * 0.85f + block.peakL * 0.15f;
    m.outPeakR = previous.outPeakR * 0.85f + block.peakR * 0.15f;
    m.deEssReduction = previous.deEssReduction * 0.82f + block.deEssMax * 0.18f;
    m.gateReduction = previous.gateReduction * 0.85f + block.gateMax * 0.15f;
    return m;
}

BlockPeaks processBlock(DspState& state, const BlockSettings& settings, const float* const* inputs,
                        float* const* outputs, int frameCount) {
    state.retune(settings.sampleRate, settings.focusHz);
    // Pass-through until the chain lands.
    for (int ch = 0; ch < 2 && frameCount > 0; ++ch) {
        if (outputs[ch] != inputs[ch]) std::memmove(outputs[ch], inputs[ch], sizeof(float) * frameCount);
    }
    return {};
}

}  // namespace lumisere::dsp
