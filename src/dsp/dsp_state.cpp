#include "dsp/dsp_state.h"

#include <algorithm>
#include <cmath>

#include "dsp/smoothing.h"

namespace lumisere::dsp {

namespace {

constexpr float kMinimumSampleRate = 8000.0f;  // a request must lie strictly above this
constexpr double kFocusQ = 2.2;
constexpr double kFocusMaxShareOfRate = 0.499;
constexpr double kAirCornerRadiansPerSecond = 59690.26041820607;  // 2pi * 9500 Hz
constexpr double kAirSmoothingMin = 0.02;  // the air split's one-pole factor stays within these
constexpr double kAirSmoothingMax = 0.85;  // (0.85 for every rate below about 70 kHz)

// Time constants of the envelopes, seconds.
constexpr double kBandAttackSeconds = 0.0008;    // focus band envelope rising: catches an "s" at once
constexpr double kBandReleaseSeconds = 0.04;     // band envelope falling, and both broadband envelopes
constexpr double kGateAttackSeconds = 0.001;     // gate envelope rising: opens within a millisecond
constexpr double kGateReleaseSeconds = 0.035;    // gate envelope falling, before the analyser's bend

}  // namespace

double acceptedSampleRate(float requested) {
    if (requested > kMinimumSampleRate && std::isfinite(requested)) return static_cast<double>(requested);
    return kDefaultSampleRate;
}

double focusCentreHz(double requestedHz, double sampleRate) {
    return std::min(requestedHz, kFocusMaxShareOfRate * sampleRate);
}

FocusCoefficients designFocusBandPass(double centreHz, double sampleRate) {
    const double w = focusCentreHz(centreHz, sampleRate) / sampleRate * kTwoPi;
    const double s = std::sin(w);
    const double c = std::cos(w);
    const double alpha = s / (2.0 * kFocusQ);
    const double a0 = 1.0 + alpha;
    FocusCoefficients k;
    k.b0 = alpha / a0;
    k.b1 = 0.0;
    k.b2 = -k.b0;
    k.a1 = -2.0 * c / a0;
    k.a2 = (1.0 - alpha) / a0;
    return k;
}

RateCoefficients rateCoefficients(double sampleRate) {
    RateCoefficients r;
    r.bandAttack = decayFactor(kBandAttackSeconds, sampleRate);
    r.bandRelease = decayFactor(kBandReleaseSeconds, sampleRate);
    r.gateAttack = decayFactor(kGateAttackSeconds, sampleRate);
    r.gateRelease = decayFactor(kGateReleaseSeconds, sampleRate);
    r.airSmoothing =
        std::min(std::max(kAirCornerRadiansPerSecond / sampleRate, kAirSmoothingMin), kAirSmoothingMax);
    return r;
}

void designFocusFilters(DspState& state, double focusHz, double sampleRate) {
    const FocusCoefficients k = designFocusBandPass(focusHz, sampleRate);
    for (Biquad* f : {&state.focusFilterL, &state.focusFilterR}) {
        f->b0 = k.b0;
        f->b1 = k.b1;
        f->b2 = k.b2;
        f->a1 = k.a1;
        f->a2 = k.a2;
    }
}

void DspState::retune(double sampleRate, double focusHz) {
    const bool rateChanged = sampleRate != tunedSampleRate;
    if (rateChanged) {
        bandAnalyser.configure(sampleRate);
        deEssedAnalyser.configure(sampleRate);
        rate = rateCoefficients(sampleRate);
        tunedSampleRate = sampleRate;
    }
    if (rateChanged || focusHz != tunedFocusHz) {
        designFocusFilters(*this, focusHz, sampleRate);
        tunedFocusHz = focusHz;
    }
}

}  // namespace lumisere::dsp
