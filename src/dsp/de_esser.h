// The split-band de-esser: a focus band-pass per channel isolates the sibilance band, the band and
// broadband envelopes with bandAnalyser decide whether sibilance is present, and one gain K shared by
// both channels takes the fraction 1 - K of the band out of the input. Listen mode outputs what is
// taken out instead.
#pragma once

#include "dsp/dsp_state.h"

namespace lumisere::dsp {

// Values fixed for one block.
struct DeEsserSettings {
    double threshold = 0.1;    // linear band-envelope threshold, 0.01..1 (-40..0 dB)
    bool listen = false;       // output only what is removed
    double bandAttack = 0.0;   // rising band envelope, per-sample decay factor (0.8 ms)
    double bandRelease = 0.0;  // falling band envelope and both input envelopes (40 ms)
};

inline namespace LUMISERE_CORE_COPY {

// The block values from the threshold in dB and the rate's time constants.
DeEsserSettings deEsserSettings(double thresholdDb, bool listen, const RateCoefficients& rate);

// K for a band envelope overDb above the threshold: 1 / (1 + a over + b over^2), where a rises from
// 0.45 with a positive laplacian and b from 0.08 with levelPow15; held within 0.05..1 (a NaN gives 1).
double deEsserGain(double overDb, double laplacian, double levelPow15);

// Runs the de-esser over `frames` frames of finite input x, writing the de-essed (or, in listen mode,
// the removed) signal to s, and bandAnalyser's modulator sine of each frame to wobble. The state in
// `state` carries on; smallestGain takes the block's smallest K.
void runDeEsser(DspState& state, const DeEsserSettings& settings, const double* xL, const double* xR, int frames,
                double* sL, double* sR, double* wobble, double& smallestGain);

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
