#include "dsp/signal_analyser.h"

#include <cmath>

#include "dsp/smoothing.h"

namespace lumisere::dsp {

namespace {

constexpr double kModulatorRadiansPerSecond = 36.4424747816416;  // 2pi * 5.8 Hz

// Time constants, seconds.
constexpr double kPeakDecaySeconds = 1.5;        // the input peak the level is normalised by
constexpr double kLevelAttackSeconds = 0.001;    // the normalised level rising
constexpr double kLevelReleaseSeconds = 0.06;    // the normalised level falling
constexpr double kSlowLevelSeconds = 0.08;       // the slow average the crest compares against
constexpr double kInputSmoothingSeconds = 0.005; // the short input average the fourth difference reads
constexpr double kLaplacianPeakSeconds = 0.5;    // the fourth difference's normaliser, per decimated step
constexpr double kLaplacianSeconds = 0.004;      // the smoothed fourth difference
constexpr double kDecimationSeconds = 0.002;     // the fourth difference steps every 2 ms

}  // namespace

void SignalAnalyser::configure(double rate) {
    peakDecay = decayFactor(kPeakDecaySeconds, rate);
    attackCoef = decayFactor(kLevelAttackSeconds, rate);
    releaseCoef = decayFactor(kLevelReleaseSeconds, rate);
    slowCoef = 1.0 - decayFactor(kSlowLevelSeconds, rate);
    inputCoef = 1.0 - decayFactor(kInputSmoothingSeconds, rate);
    laplacianPeakDecay = decayFactor(kLaplacianPeakSeconds, rate);
    laplacianCoef = 1.0 - decayFactor(kLaplacianSeconds, rate);
    phaseStep = kModulatorRadiansPerSecond / rate;
    // 2 ms in samples, truncated; the float-to-int conversion is only defined inside int32's range.
    const double samples = kDecimationSeconds * rate;
    const std::int32_t d = (samples > 0.0 && samples < 2147483647.0) ? static_cast<std::int32_t>(samples) : 0;
    decimation = d > 0 ? d : 1;

    stepSin = std::sin(phaseStep);
    stepCos = std::cos(phaseStep);
    modulatorLeft = 0;  // the old rotation step no longer applies
}

void SignalAnalyser::update(double x) {
    // Negative, NaN, infinite and implausibly large detector values all read as silence.
    advanceAnalyser(*this, (x >= 0.0 && x < kImplausibleInput) ? x : 0.0);
    refreshReadings();
}

void SignalAnalyser::refreshReadings() { refreshAnalyserReadings(*this); }

}  // namespace lumisere::dsp
