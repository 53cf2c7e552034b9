#include "core/processor.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dsp/denormal_guard.h"

namespace lumisere {

dsp::BlockSettings blockSettingsFor(const float (&p)[kNumParams], double sampleRate) {
    dsp::BlockSettings s;
    s.sampleRate = sampleRate;
    s.focusHz = focusFrequencyHz(p[kParamFocusFreq]);
    s.deEssThresholdDb = deEssThresholdDb(p[kParamDeEssThresh]);
    s.listen = isSwitchOn(p[kParamListenSibilance]);
    s.gateThresholdDb = gateThresholdDb(p[kParamDipsesThresh]);
    s.gateFloorDb = gateFloorDb(p[kParamNoiseReduce]);
    s.gateSlope = gateSlope(p[kParamNoiseReduce]);
    s.air = airAmount(p[kParamAirSilk]);
    s.outputTrimDb = outputTrimDb(p[kParamOutputTrim]);
    s.mix = dryWetMix(p[kParamDryWet]);
    return s;
}

dsp::BlockSettings defaultBlockSettings(double sampleRate) {
    float p[kNumParams];
    for (int i = 0; i < kNumParams; ++i) p[i] = kParams[i].defaultValue;
    return blockSettingsFor(p, sampleRate);
}

Processor::Processor() {
    for (int i = 0; i < kNumParams; ++i) params_[i].store(kParams[i].defaultValue, std::memory_order_relaxed);
    setSampleRate(static_cast<float>(dsp::kDefaultSampleRate));
    forgetHistory();
}

void Processor::forgetHistory() {
    for (int m = 0; m < kNumMeters; ++m) {
        meters_[m].store(0.0f, std::memory_order_relaxed);
        lastBlock_[m].store(0.0f, std::memory_order_relaxed);
    }
    dsp_ = dsp::DspState{};
    dsp_.retune(sampleRate(), focusFrequencyHz(param(kParamFocusFreq)));
}

void Processor::setSampleRate(float requested) {
    sampleRate_.store(dsp::acceptedSampleRate(requested), std::memory_order_relaxed);
}

dsp::BlockSettings Processor::takeBlockSettings() const {
    float p[kNumParams];
    for (int i = 0; i < kNumParams; ++i) p[i] = params_[i].load(std::memory_order_relaxed);
    return blockSettingsFor(p, sampleRate());
}

dsp::BlockPeaks Processor::lastBlock() const {
    dsp::BlockPeaks b;
    b.peakL = lastBlock_[kMeterOutPeakL].load(std::memory_order_relaxed);
    b.peakR = lastBlock_[kMeterOutPeakR].load(std::memory_order_relaxed);
    b.deEssMax = lastBlock_[kMeterDeEssReduction].load(std::memory_order_relaxed);
    b.gateMax = lastBlock_[kMeterGateReduction].load(std::memory_order_relaxed);
    return b;
}

namespace {

// Input to output, untouched. Hosts may hand one buffer to several ports (LV2 allows any sharing the
// plug-in does not refuse), the left output even being the right input, so each stretch of both
// channels is read before either is written. Buffers shared in place are left alone.
void passThrough(const float* const* inputs, float* const* outputs, int frameCount) {
    if (outputs[0] == inputs[0] && outputs[1] == inputs[1]) return;
    float left[dsp::kChunkFrames], right[dsp::kChunkFrames];
    for (int start = 0; start < frameCount; start += dsp::kChunkFrames) {
        const auto frames = static_cast<std::size_t>(std::min(dsp::kChunkFrames, frameCount - start));
        std::memcpy(left, inputs[0] + start, frames * sizeof(float));
        std::memcpy(right, inputs[1] + start, frames * sizeof(float));
        std::memcpy(outputs[0] + start, left, frames * sizeof(float));
        std::memcpy(outputs[1] + start, right, frames * sizeof(float));
    }
}

}  // namespace

void Processor::process(const float* const* inputs, float* const* outputs, int frameCount) {
    // The whole call, the settings and the meters included, runs with subnormals flushed and every
    // floating-point exception masked; the host gets its own mode back exactly (dsp/denormal_guard.h).
    const dsp::DenormalGuard floatingPointMode;
    // A host that hands over no buffers gets nothing read, written or advanced.
    if (inputs == nullptr || outputs == nullptr || inputs[0] == nullptr || inputs[1] == nullptr ||
        outputs[0] == nullptr || outputs[1] == nullptr) {
        return;
    }
    if (suspended() || isSwitchOn(param(kParamBypass))) {
        passThrough(inputs, outputs, frameCount);
        for (auto& figure : lastBlock_) figure.store(0.0f, std::memory_order_relaxed);
        return;
    }

    const dsp::BlockPeaks peaks = dsp::processBlock(dsp_, takeBlockSettings(), inputs, outputs, frameCount);
    lastBlock_[kMeterOutPeakL].store(peaks.peakL, std::memory_order_relaxed);
    lastBlock_[kMeterOutPeakR].store(peaks.peakR, std::memory_order_relaxed);
    lastBlock_[kMeterDeEssReduction].store(peaks.deEssMax, std::memory_order_relaxed);
    lastBlock_[kMeterGateReduction].store(peaks.gateMax, std::memory_order_relaxed);

    dsp::MeterValues previous;
    previous.outPeakL = meter(kMeterOutPeakL);
    previous.outPeakR = meter(kMeterOutPeakR);
    previous.deEssReduction = meter(kMeterDeEssReduction);
    previous.gateReduction = meter(kMeterGateReduction);
    const dsp::MeterValues next = dsp::smoothMeters(previous, peaks);
    meters_[kMeterOutPeakL].store(next.outPeakL, std::memory_order_relaxed);
    meters_[kMeterOutPeakR].store(next.outPeakR, std::memory_order_relaxed);
    meters_[kMeterDeEssReduction].store(next.deEssReduction, std::memory_order_relaxed);
    meters_[kMeterGateReduction].store(next.gateReduction, std::memory_order_relaxed);
}

}  // namespace lumisere
