// The hiss gate: a broadband downward expander on the de-essed signal. One envelope follows the
// louder channel; below the threshold both channels are lowered by one gain that falls with a fixed
// slope (dB of gain per dB below the threshold) down to a floor. deEssedAnalyser, which this stage
// advances, bends the release time.
#pragma once

#include <cmath>

#include "dsp/dsp_state.h"

namespace lumisere::dsp {

// Values fixed for one block.
struct GateSettings {
    double threshold = 0.0;   // linear envelope threshold (-80..-24 dB)
    double slope = 1.0;       // dB of gain per dB below the threshold, 1..3.5
    double floorGain = 1.0;   // 10^(floor dB / 20): the gain once the slope reaches the floor
    double floorEnvelope = 0.0;  // envelope + 1e-9 at which the slope reaches the floor
    double attack = 0.0;      // rising envelope, per-sample decay factor (1 ms)
    double release = 0.0;     // base of the falling envelope (35 ms)
};

inline namespace LUMISERE_CORE_COPY {

// The block values from the threshold and floor in dB, the slope (at least 1) and the rate's constants.
GateSettings gateSettings(double thresholdDb, double floorDb, double slope, const RateCoefficients& rate);

// G for an envelope value: 1 at or above the threshold; below it the gain in dB is slope * 20 log10(
// (env + 1e-9) / threshold), raised to the floor. Taken back to a gain that is ratio^slope: one power
// instead of a logarithm and a power, none at all where the floor holds, and there exactly floorGain.
double gateGain(const GateSettings& settings, double env);

// One chunk of the gate's detector: the louder de-essed channel, and the de-essed analyser's level
// state after each frame, from which the readings are formed together.
struct GateDetector {
    double m[kChunkFrames];
    double level[kChunkFrames];
    double slowLevel[kChunkFrames];
};

// The detector of frame i of the de-essed signal s: the louder channel. deEssedAnalyser follows it;
// its modulator is not turned for that, it is the band analyser's (takeModulator).
inline double detectorOf(const double* sL, const double* sR, int i) {
    return larger(std::fabs(sL[i]), std::fabs(sR[i]));
}

// Runs the gate over `frames` frames of the de-essed signal s, in place, once the detector has been
// followed over them. wobble is the modulator's sine of each frame. For each frame it also keeps the
// de-essed analyser's shape readings for the air band. The envelope in `state` carries on;
// smallestGain takes the block's smallest G.
void runHissGate(DspState& state, const GateSettings& settings, double* sL, double* sR, const GateDetector& detector,
                 const double* wobble, int frames, AirShape& shape, double& smallestGain);

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
