#include "dsp/signal_analyser.h"

#include <cmath>

namespace lumisere::dsp {

namespace {

// Decay factor of a one-pole smoother with time constant tauSeconds at rate fs.
double decayFactor(double tauSeconds, double fs) { return std::exp(-1.0 / (tauSeconds * fs)); }

constexpr double kModulatorRadiansPerSecond = 36.4424747816416;  // 2pi * 5.8 Hz

}  // namespace

void SignalAnalyser::configure(double rate) {
    peakDecay = decayFactor(1.5, rate);
    attackCoef = decayFactor(0.001, rate);
    releaseCoef = decayFactor(0.06, rate);
    slowCoef = 1.0 - decayFactor(0.08, rate);
    inputCoef = 1.0 - decayFactor(0.005, rate);
    laplacianPeakDecay = decayFactor(0.5, rate);
    laplacianCoef = 1.0 - decayFactor(0.004, rate);
    phaseStep = kModulatorRadiansPerSecond / rate;
    // 2 ms in samples, truncated; the float-to-int conversion is only defined inside int32's range.
    const double samples = 0.002 * rate;
    const std::int32_t d = (samples > 0.0 && samples < 2147483647.0) ? static_cast<std::int32_t>(samples) : 0;
    decimation = d > 0 ? d : 1;

    stepSin = std::sin(phaseStep);
    stepCos = std::cos(phaseStep);
    modulatorLeft = 0;  // the old rotation step no longer applies
}

}  // namespace lumisere::dsp
