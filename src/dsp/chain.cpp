#include "dsp/chain.h"

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

namespace {

// A non-finite input sample is processed as silence, in the wet chain and in the dry part of the
// mix alike, so no filter, envelope or analyser ever takes a NaN or an infinity into its state.
inline double finiteOrSilence(float sample) { return isFiniteSample(sample) ? static_cast<double>(sample) : 0.0; }

}  // namespace

void runChain(DspState& state, const ChainSettings& settings, const float* const* inputs, float* const* outputs,
              int frameCount, ChainExtremes& extremes) {
    double xL[kChunkFrames], xR[kChunkFrames];  // the input, finite, widened
    double wL[kChunkFrames], wR[kChunkFrames];  // the wet signal, de-essed then gated in place
    double wobble[kChunkFrames];                // the modulator's sine, which both analysers share
    AirShape shape;  // the de-essed analyser's readings the air band takes
    for (int start = 0; start < frameCount; start += kChunkFrames) {
        const int frames = frameCount - start < kChunkFrames ? frameCount - start : kChunkFrames;
        // The whole chunk is read before any of it is written, so in-place buffers are safe.
        for (int i = 0; i < frames; ++i) {
            xL[i] = finiteOrSilence(inputs[0][start + i]);
            xR[i] = finiteOrSilence(inputs[1][start + i]);
        }
        runDeEsser(state, settings.deEsser, xL, xR, frames, wL, wR, wobble, extremes.smallestDeEssGain);
        runHissGate(state, settings.gate, wL, wR, wobble, frames, shape, extremes.smallestGateGain);
        runAirOutput(state, settings.output, wL, wR, shape, xL, xR, frames, outputs[0] + start, outputs[1] + start,
                     extremes.peakL, extremes.peakR);
    }
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
