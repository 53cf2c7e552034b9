#include "dsp/process_block.h"

#include <algorithm>
#include <cmath>

#include "dsp/air_output.h"
#include "dsp/de_esser.h"
#include "dsp/denormal_guard.h"
#include "dsp/hiss_gate.h"

namespace lumisere::dsp {

namespace {

// A non-finite input sample is processed as silence, in the wet chain and in the dry part of the
// mix alike, so no filter, envelope or analyser ever takes a NaN or an infinity into its state.
inline double finiteOrSilence(float sample) {
    return std::isfinite(sample) ? static_cast<double>(sample) : 0.0;
}

constexpr double kReductionGainOffset = 0.000000001;  // a zero gain reads 180 dB, not infinity

// The block's largest reduction in dB, as the meter takes it: -20 log10(gain + 1e-9) falls as the
// gain rises, so the largest per-sample reduction is the one of the smallest gain, and narrowing to
// float keeps the order. A unit gain gives -8.7e-9 dB, which the accumulator's 0 start holds at 0.
float largestReductionDb(double smallestGain) {
    const double reduction = -20.0 * std::log10(smallestGain + kReductionGainOffset);
    return std::max(0.0f, static_cast<float>(reduction));
}

}  // namespace

// Meter ballistics, per block: each meter keeps this share of its value and takes the rest from the
// block's figure. The de-esser's meter falls a little faster, so short esses read as short.
constexpr float kMeterKeep = 0.85f;
constexpr float kMeterTake = 0.15f;
constexpr float kDeEssMeterKeep = 0.82f;
constexpr float kDeEssMeterTake = 0.18f;

MeterValues smoothMeters(const MeterValues& previous, const BlockPeaks& block) {
    MeterValues m;
    m.outPeakL = previous.outPeakL * kMeterKeep + block.peakL * kMeterTake;
    m.outPeakR = previous.outPeakR * kMeterKeep + block.peakR * kMeterTake;
    m.deEssReduction = previous.deEssReduction * kDeEssMeterKeep + block.deEssMax * kDeEssMeterTake;
    m.gateReduction = previous.gateReduction * kMeterKeep + block.gateMax * kMeterTake;
    return m;
}

BlockPeaks processBlock(DspState& state, const BlockSettings& settings, const float* const* inputs,
                        float* const* outputs, int frameCount) {
    const DenormalGuard flushDenormals;
    state.retune(settings.sampleRate, settings.focusHz);

    const DeEsserSettings deEsser = deEsserSettings(settings.deEssThresholdDb, settings.listen, state.rate);
    const GateSettings gate =
        gateSettings(settings.gateThresholdDb, settings.gateFloorDb, settings.gateSlope, state.rate);
    const AirOutputSettings output = airOutputSettings(settings.air, settings.outputTrimDb, settings.mix, state.rate);

    double smallestDeEssGain = 1.0;
    double smallestGateGain = 1.0;
    double peakL = 0.0;
    double peakR = 0.0;

    double xL[kChunkFrames], xR[kChunkFrames];  // the input, finite, widened
    double wL[kChunkFrames], wR[kChunkFrames];  // the wet signal, de-essed then gated in place
    AirShape shape;  // the de-essed analyser's readings the air band takes
    for (int start = 0; start < frameCount; start += kChunkFrames) {
        const int frames = std::min(kChunkFrames, frameCount - start);
        // The whole chunk is read before any of it is written, so in-place buffers are safe.
        for (int i = 0; i < frames; ++i) {
            xL[i] = finiteOrSilence(inputs[0][start + i]);
            xR[i] = finiteOrSilence(inputs[1][start + i]);
        }
        runDeEsser(state, deEsser, xL, xR, frames, wL, wR, smallestDeEssGain);
        runHissGate(state, gate, wL, wR, frames, shape, smallestGateGain);
        runAirOutput(state, output, wL, wR, shape, xL, xR, frames, outputs[0] + start, outputs[1] + start, peakL,
                     peakR);
    }

    BlockPeaks peaks;
    peaks.peakL = static_cast<float>(peakL);
    peaks.peakR = static_cast<float>(peakR);
    peaks.deEssMax = largestReductionDb(smallestDeEssGain);
    peaks.gateMax = largestReductionDb(smallestGateGain);
    return peaks;
}

}  // namespace lumisere::dsp
