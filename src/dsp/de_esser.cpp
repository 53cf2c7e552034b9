#include "dsp/de_esser.h"

#include <algorithm>
#include <cmath>

namespace lumisere::dsp {

DeEsserSettings deEsserSettings(double thresholdDb, bool listen, const RateCoefficients& rate) {
    DeEsserSettings s;
    s.threshold = std::pow(10.0, thresholdDb / 20.0);
    s.listen = listen;
    s.bandAttack = rate.bandAttack;
    s.bandRelease = rate.bandRelease;
    return s;
}

double deEsserGain(double overDb, double laplacian, double levelPow15) {
    const double lp = std::max(0.0, laplacian);  // a falling edge does not soften the reduction
    const double over = overDb;
    const double k = 1.0 / ((lp * 0.65 + 1.0) * 0.45 * over + 1.0 + over * ((0.75 * levelPow15 + 1.0) * 0.08 * over));
    if (!(k < 1.0)) return 1.0;
    return k <= 0.05 ? 0.05 : k;
}

void runDeEsser(DspState& state, const DeEsserSettings& settings, const double* xL, const double* xR, int frames,
                double* sL, double* sR, double& smallestGain) {
    Biquad focusL = state.focusFilterL;
    Biquad focusR = state.focusFilterR;
    double bandEnvL = state.bandEnvL;
    double bandEnvR = state.bandEnvR;
    double inputEnvL = state.inputEnvL;
    double inputEnvR = state.inputEnvR;
    SignalAnalyser analyser = state.bandAnalyser;
    double kMin = smallestGain;

    const double attack = settings.bandAttack;
    const double release = settings.bandRelease;
    const double threshold = settings.threshold;
    // Band envelope: 0.8 ms attack while the band rises strictly above it, 40 ms release otherwise.
    // Both steps are formed and one is chosen: on noise a branch would guess wrong half the time.
    const auto follow = [attack, release](double env, double magnitude) {
        const double rising = env * attack + (1.0 - attack) * magnitude;
        const double falling = env * release + (1.0 - release) * magnitude;
        return magnitude > env ? rising : falling;
    };

    for (int i = 0; i < frames; ++i) {
        const double yL = focusL.step(xL[i]);
        const double yR = focusR.step(xR[i]);
        const double bandL = std::fabs(yL);
        const double bandR = std::fabs(yR);
        bandEnvL = follow(bandEnvL, bandL);
        bandEnvR = follow(bandEnvR, bandR);
        inputEnvL = inputEnvL * release + std::fabs(xL[i]) * (1.0 - release);
        inputEnvR = inputEnvR * release + std::fabs(xR[i]) * (1.0 - release);

        // The analyser follows the instantaneous band magnitude, not the envelope. Its readings are
        // only looked at while the band is above the threshold.
        analyser.advance(std::max(bandL, bandR));

        // One decision for the linked pair: the louder band above the threshold, carrying roughly a
        // fifth or more of the louder broadband level.
        const double e = std::max(bandEnvL, bandEnvR);
        const double b = std::max(inputEnvL, inputEnvR);
        double k = 1.0;
        if (e > threshold) {
            analyser.refreshReadings();
            const double cw = analyser.crestWeight;
            const double wd = analyser.wobbleDepth;
            if (e / (b + 0.00001) > (0.35 * cw + 0.75) * 0.22 * (1.0 - 0.1 * wd)) {
                const double overDb = 20.0 * std::log10(e / (threshold + 0.000000001));
                k = deEsserGain(overDb, analyser.laplacian, analyser.levelPow15);
            }
        }
        kMin = std::min(kMin, k);
        const double removed = 1.0 - k;
        sL[i] = removed * yL;
        sR[i] = removed * yR;
    }

    analyser.refreshReadings();
    state.focusFilterL = focusL;
    state.focusFilterR = focusR;
    state.bandEnvL = bandEnvL;
    state.bandEnvR = bandEnvR;
    state.inputEnvL = inputEnvL;
    state.inputEnvR = inputEnvR;
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

}  // namespace lumisere::dsp
