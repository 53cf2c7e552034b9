// The split-band de-esser: a focus band-pass per channel isolates the sibilance band, the band and
// broadband envelopes with bandAnalyser decide whether sibilance is present, and one gain K shared by
// both channels takes the fraction 1 - K of the band out of the input. Listen mode outputs what is
// taken out instead.
//
// A chunk goes through three passes: the side-chain (runSideChain), the band analyser's step and the
// decision frame by frame (decideFrame, which the chain runs beside the other analyser's steps), and
// the gains with the de-essed signal (formDeEssed).
#pragma once

#include <cmath>

#include "dsp/dsp_state.h"

namespace lumisere::dsp {

// Values fixed for one block.
struct DeEsserSettings {
    double threshold = 0.1;    // linear band-envelope threshold, 0.01..1 (-40..0 dB)
    bool listen = false;       // output only what is removed
    double bandAttack = 0.0;   // rising band envelope, per-sample decay factor (0.8 ms)
    double bandRelease = 0.0;  // falling band envelope and both input envelopes (40 ms)
};

// One chunk of the de-esser between its passes.
struct DeEsserChunk {
    double yL[kChunkFrames], yR[kChunkFrames];  // band-pass outputs
    double band[kChunkFrames];    // the louder band magnitude, the band analyser's input
    double e[kChunkFrames];       // the louder band envelope
    double b[kChunkFrames];       // the louder broadband envelope
    double wobble[kChunkFrames];  // the modulator's sine of each frame, which both analysers share
    int actingCount = 0;
    int acting[kChunkFrames];         // the frames where the de-esser acts, in order
    double overRatio[kChunkFrames];   // theirs: the band envelope over the threshold (+1e-9), linear
    double laplacian[kChunkFrames];   // the band analyser's laplacian there
    double levelPow15[kChunkFrames];  // and its level^1.5
};

// Detection: the louder band envelope must carry at least this share of the louder broadband
// envelope, kDetectShare * (kDetectBase + kDetectPerCrestWeight * crestWeight) * (1 - kDetectWobble *
// wobbleDepth): about a fifth for a steady band, less for a spiky one, and breathing with the modulator.
constexpr double kDetectShare = 0.22;
constexpr double kDetectBase = 0.75;
constexpr double kDetectPerCrestWeight = 0.35;
constexpr double kDetectWobble = 0.1;
constexpr double kBroadbandFloor = 0.00001;       // keeps the share finite in digital silence
constexpr double kGainFloorOffset = 0.000000001;  // keeps the dB of a zero threshold finite

inline namespace LUMISERE_CORE_COPY {

// The block values from the threshold in dB and the rate's time constants.
DeEsserSettings deEsserSettings(double thresholdDb, bool listen, const RateCoefficients& rate);

// The smallest gain K the de-esser applies to the band: at most 26 dB of reduction.
constexpr double kDeEsserGainFloor = 0.05;

// K for a band envelope overDb above the threshold: 1 / (1 + a over + b over^2), where a rises from
// 0.45 with a positive laplacian and b from 0.08 with levelPow15; held within 0.05..1 (a NaN gives 1).
double deEsserGain(double overDb, double laplacian, double levelPow15);

// The side-chain over `frames` frames of finite input x: each channel's band, its envelope, and the
// broadband envelopes, into the chunk; no frame acts yet. The filter and envelope states carry on.
void runSideChain(DspState& state, const DeEsserSettings& settings, const double* xL, const double* xR, int frames,
                  DeEsserChunk& chunk);

// Frame i after the side-chain, once the band analyser has stepped on c.band[i] (its level, slow
// level, laplacian and modulator sine given): the linked pair is decided on, the louder band above the
// threshold, carrying roughly a fifth or more of the louder broadband level. The analyser follows the
// instantaneous band magnitude, not the envelope; its readings are only looked at while the band is
// above the threshold. A frame that acts is recorded with what its gain is formed from; the gain
// itself, with its logarithm, comes in formDeEssed, so the loop that runs this calls a function only
// at the modulator's rare anchors.
inline void decideFrame(double level, double slowLevel, double laplacian, double wobble, double threshold,
                        DeEsserChunk& c, int i) {
    c.wobble[i] = wobble;
    if (c.e[i] > threshold) {
        const AnalyserReadings r = readingsOf(level, slowLevel, wobble);
        if (c.e[i] / (c.b[i] + kBroadbandFloor) >
            (kDetectPerCrestWeight * r.crestWeight + kDetectBase) * kDetectShare * (1.0 - kDetectWobble * r.wobbleDepth)) {
            const int n = c.actingCount++;
            c.acting[n] = i;
            c.overRatio[n] = c.e[i] / (threshold + kGainFloorOffset);
            c.laplacian[n] = laplacian;
            c.levelPow15[n] = r.levelPow15;
        }
    }
}

// The gains of a decided chunk and its de-essed (or, in listen mode, removed) signal s from the input
// x; smallestGain (1 at most) takes the chunk's smallest K.
void formDeEssed(const DeEsserSettings& settings, const DeEsserChunk& chunk, const double* xL, const double* xR,
                 int frames, double* sL, double* sR, double& smallestGain);

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
