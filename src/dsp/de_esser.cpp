#include "dsp/de_esser.h"

#include <cmath>

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

namespace {

// Detection: the louder band envelope must carry at least this share of the louder broadband
// envelope, kDetectShare * (kDetectBase + kDetectPerCrestWeight * crestWeight) * (1 - kDetectWobble *
// wobbleDepth): about a fifth for a steady band, less for a spiky one, and breathing with the modulator.
constexpr double kDetectShare = 0.22;
constexpr double kDetectBase = 0.75;
constexpr double kDetectPerCrestWeight = 0.35;
constexpr double kDetectWobble = 0.1;
constexpr double kBroadbandFloor = 0.00001;  // keeps the share finite in digital silence
constexpr double kGainFloorOffset = 0.000000001;  // keeps the dB of a zero threshold finite

// The gain curve 1 / (1 + a over + b over^2), over in dB above the threshold: a soft knee that turns
// ever steeper. The linear term hardens with a rising fourth difference (an attack), the square term
// with the band's level.
constexpr double kLinearPerDb = 0.45;
constexpr double kLinearPerLaplacian = 0.65;
constexpr double kSquarePerDb2 = 0.08;
constexpr double kSquarePerLevel = 0.75;
constexpr double kGainFloor = 0.05;  // at most -26 dB of reduction

}  // namespace

DeEsserSettings deEsserSettings(double thresholdDb, bool listen, const RateCoefficients& rate) {
    DeEsserSettings s;
    s.threshold = std::pow(10.0, thresholdDb / 20.0);  // dB to gain
    s.listen = listen;
    s.bandAttack = rate.bandAttack;
    s.bandRelease = rate.bandRelease;
    return s;
}

double deEsserGain(double overDb, double laplacian, double levelPow15) {
    const double lp = larger(0.0, laplacian);  // a falling edge does not soften the reduction
    const double over = overDb;
    const double k = 1.0 / ((lp * kLinearPerLaplacian + 1.0) * kLinearPerDb * over + 1.0 +
                            over * ((kSquarePerLevel * levelPow15 + 1.0) * kSquarePerDb2 * over));
    if (!(k < 1.0)) return 1.0;
    return k <= kGainFloor ? kGainFloor : k;
}

void runDeEsser(DspState& state, const DeEsserSettings& settings, const double* xL, const double* xR, int frames,
                double* sL, double* sR, double* wobble, double& smallestGain) {
    const double attack = settings.bandAttack;
    const double release = settings.bandRelease;

    // First the side-chain: each channel's band, its envelope, and the broadband envelopes.
    double yL[kChunkFrames], yR[kChunkFrames];  // band-pass outputs
    double band[kChunkFrames];                  // the louder band magnitude, the analyser's input
    double e[kChunkFrames];                     // the louder band envelope
    double b[kChunkFrames];                     // the louder broadband envelope
    {
        Biquad focusL = state.focusFilterL;
        Biquad focusR = state.focusFilterR;
        double bandEnvL = state.bandEnvL;
        double bandEnvR = state.bandEnvR;
        double inputEnvL = state.inputEnvL;
        double inputEnvR = state.inputEnvR;
        // Band envelope: 0.8 ms attack while the band is strictly above it, 40 ms release
        // otherwise. The attack step moves further toward the band than the release step, so the
        // step taken is always the larger of the two: above the envelope the attack rises more, at
        // or below it the release falls less. Taking the larger needs no branch, which on noise
        // would guess wrong half the time; only where the two steps agree to the last bit or two
        // can rounding pick the other.
        const auto follow = [attack, release](double env, double magnitude) {
            const double rising = env * attack + (1.0 - attack) * magnitude;
            const double falling = env * release + (1.0 - release) * magnitude;
            return larger(rising, falling);
        };
        for (int i = 0; i < frames; ++i) {
            yL[i] = stepBiquad(focusL, xL[i]);
            yR[i] = stepBiquad(focusR, xR[i]);
            const double bandL = std::fabs(yL[i]);
            const double bandR = std::fabs(yR[i]);
            bandEnvL = follow(bandEnvL, bandL);
            bandEnvR = follow(bandEnvR, bandR);
            inputEnvL = inputEnvL * release + std::fabs(xL[i]) * (1.0 - release);
            inputEnvR = inputEnvR * release + std::fabs(xR[i]) * (1.0 - release);
            band[i] = larger(bandL, bandR);
            e[i] = larger(bandEnvL, bandEnvR);
            b[i] = larger(inputEnvL, inputEnvR);
        }
        state.focusFilterL = focusL;
        state.focusFilterR = focusR;
        state.bandEnvL = bandEnvL;
        state.bandEnvR = bandEnvR;
        state.inputEnvL = inputEnvL;
        state.inputEnvR = inputEnvR;
    }
    // Then one decision per frame for the linked pair: the louder band above the threshold, carrying
    // roughly a fifth or more of the louder broadband level. The analyser follows the instantaneous
    // band magnitude, not the envelope; its readings are only looked at while the band is above the
    // threshold.
    SignalAnalyser analyser = state.bandAnalyser;
    double kMin = smallestGain;
    const double threshold = settings.threshold;
    for (int i = 0; i < frames; ++i) {
        advanceAnalyser(analyser, band[i]);
        wobble[i] = analyser.modulatorSin;
        double k = 1.0;
        if (e[i] > threshold) {
            const AnalyserReadings r = readingsOf(analyser.level, analyser.slowLevel, analyser.modulatorSin);
            if (e[i] / (b[i] + kBroadbandFloor) > (kDetectPerCrestWeight * r.crestWeight + kDetectBase) * kDetectShare *
                                                      (1.0 - kDetectWobble * r.wobbleDepth)) {
                const double overDb = 20.0 * std::log10(e[i] / (threshold + kGainFloorOffset));
                k = deEsserGain(overDb, analyser.laplacian, r.levelPow15);
            }
        }
        kMin = smaller(kMin, k);
        const double removed = 1.0 - k;
        sL[i] = removed * yL[i];
        sR[i] = removed * yR[i];
    }
    refreshAnalyserReadings(analyser);
    state.bandAnalyser = analyser;
    smallestGain = kMin;
    // Normally the removed part comes off the input; listen mode keeps only the removed part.
    if (!settings.listen) {
        for (int i = 0; i < frames; ++i) {
            sL[i] = xL[i] - sL[i];
            sR[i] = xR[i] - sR[i];
        }
    }
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
