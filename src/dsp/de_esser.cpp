#include "dsp/de_esser.h"

#include <cmath>

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

namespace {

// The gain curve 1 / (1 + a over + b over^2), over in dB above the threshold: a soft knee that turns
// ever steeper. The linear term hardens with a rising fourth difference (an attack), the square term
// with the band's level.
constexpr double kLinearPerDb = 0.45;
constexpr double kLinearPerLaplacian = 0.65;
constexpr double kSquarePerDb2 = 0.08;
constexpr double kSquarePerLevel = 0.75;

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
    return k <= kDeEsserGainFloor ? kDeEsserGainFloor : k;
}

void runSideChain(DspState& state, const DeEsserSettings& settings, const double* xL, const double* xR, int frames,
                  DeEsserChunk& chunk) {
    // The two channels' filters and envelopes are the same recurrences on different signals, so they
    // run side by side in the two lanes of one register, lane 0 left.
    const Biquad& l = state.focusFilterL;
    const Biquad& r = state.focusFilterR;
    const Lanes b0 = {l.b0, r.b0}, b1 = {l.b1, r.b1}, b2 = {l.b2, r.b2}, a1 = {l.a1, r.a1}, a2 = {l.a2, r.a2};
    Lanes x1 = {l.x1, r.x1}, x2 = {l.x2, r.x2}, y1 = {l.y1, r.y1}, y2 = {l.y2, r.y2};
    Lanes bandEnv = {state.bandEnvL, state.bandEnvR};
    Lanes inputEnv = {state.inputEnvL, state.inputEnvR};
    const Lanes attack = {settings.bandAttack, settings.bandAttack};
    const Lanes release = {settings.bandRelease, settings.bandRelease};
    const Lanes one = {1.0, 1.0};
    // Band envelope: 0.8 ms attack while the band is strictly above it, 40 ms release otherwise. The
    // attack step moves further toward the band than the release step, so the step taken is always
    // the larger of the two: above the envelope the attack rises more, at or below it the release
    // falls less. Taking the larger needs no branch, which on noise would guess wrong half the time;
    // only where the two steps agree to the last bit or two can rounding pick the other.
    for (int i = 0; i < frames; ++i) {
        const Lanes x = {xL[i], xR[i]};
        const Lanes y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        const Lanes band = magnitudeLanes(y);
        const Lanes rising = bandEnv * attack + (one - attack) * band;
        const Lanes falling = bandEnv * release + (one - release) * band;
        bandEnv = largerLanes(rising, falling);
        inputEnv = inputEnv * release + magnitudeLanes(x) * (one - release);
        chunk.yL[i] = y[0];
        chunk.yR[i] = y[1];
        chunk.band[i] = larger(band[0], band[1]);
        chunk.e[i] = larger(bandEnv[0], bandEnv[1]);
        chunk.b[i] = larger(inputEnv[0], inputEnv[1]);
    }
    state.focusFilterL.x1 = x1[0];
    state.focusFilterL.x2 = x2[0];
    state.focusFilterL.y1 = y1[0];
    state.focusFilterL.y2 = y2[0];
    state.focusFilterR.x1 = x1[1];
    state.focusFilterR.x2 = x2[1];
    state.focusFilterR.y1 = y1[1];
    state.focusFilterR.y2 = y2[1];
    state.bandEnvL = bandEnv[0];
    state.bandEnvR = bandEnv[1];
    state.inputEnvL = inputEnv[0];
    state.inputEnvR = inputEnv[1];
    chunk.actingCount = 0;
}

void formDeEssed(const DeEsserSettings& settings, const DeEsserChunk& chunk, const double* xL, const double* xR,
                 int frames, double* sL, double* sR, double& smallestGain) {
    // K is 1 where the de-esser does not act, and the smallest K starts at 1, so only the acting frames
    // can lower it.
    double k[kChunkFrames];
    for (int i = 0; i < frames; ++i) k[i] = 1.0;
    double kMin = smallestGain;
    for (int n = 0; n < chunk.actingCount; ++n) {
        const double overDb = 20.0 * std::log10(chunk.overRatio[n]);
        k[chunk.acting[n]] = deEsserGain(overDb, chunk.laplacian[n], chunk.levelPow15[n]);
        kMin = smaller(kMin, k[chunk.acting[n]]);
    }
    smallestGain = kMin;
    // Normally the removed part comes off the input; listen mode keeps only the removed part.
    if (settings.listen) {
        for (int i = 0; i < frames; ++i) {
            sL[i] = (1.0 - k[i]) * chunk.yL[i];
            sR[i] = (1.0 - k[i]) * chunk.yR[i];
        }
    } else {
        for (int i = 0; i < frames; ++i) {
            sL[i] = xL[i] - (1.0 - k[i]) * chunk.yL[i];
            sR[i] = xR[i] - (1.0 - k[i]) * chunk.yR[i];
        }
    }
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
