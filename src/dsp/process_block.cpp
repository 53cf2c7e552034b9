#include "dsp/process_block.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "dsp/chain.h"
#include "dsp/denormal_guard.h"

namespace lumisere::dsp {

namespace {

CoreCopy detectedCoreCopy() {
#if defined(LUMISERE_AVX2_COPY)
    __builtin_cpu_init();  // this may run before the runtime's own constructors have asked the CPU
    return __builtin_cpu_supports("avx2") ? CoreCopy::avx2 : CoreCopy::generic;
#else
    return CoreCopy::generic;
#endif
}

const CoreCopy gFastestCoreCopy = detectedCoreCopy();
std::atomic<CoreCopy> gCoreCopy{gFastestCoreCopy};

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

CoreCopy fastestCoreCopy() { return gFastestCoreCopy; }

void useCoreCopy(CoreCopy copy) {
    gCoreCopy.store(copy == CoreCopy::avx2 ? gFastestCoreCopy : CoreCopy::generic, std::memory_order_relaxed);
}

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

    ChainSettings chain;
    chain.deEsser = deEsserSettings(settings.deEssThresholdDb, settings.listen, state.rate);
    chain.gate = gateSettings(settings.gateThresholdDb, settings.gateFloorDb, settings.gateSlope, state.rate);
    chain.output = airOutputSettings(settings.air, settings.outputTrimDb, settings.mix, state.rate);

    ChainExtremes extremes;
    if (frameCount > 0) {
#if defined(LUMISERE_AVX2_COPY)
        if (gCoreCopy.load(std::memory_order_relaxed) == CoreCopy::avx2) {
            avx2::runChain(state, chain, inputs, outputs, frameCount, extremes);
        } else {
            runChain(state, chain, inputs, outputs, frameCount, extremes);
        }
#else
        runChain(state, chain, inputs, outputs, frameCount, extremes);
#endif
    }

    BlockPeaks peaks;
    peaks.peakL = static_cast<float>(extremes.peakL);
    peaks.peakR = static_cast<float>(extremes.peakR);
    peaks.deEssMax = largestReductionDb(extremes.smallestDeEssGain);
    peaks.gateMax = largestReductionDb(extremes.smallestGateGain);
    return peaks;
}

}  // namespace lumisere::dsp
