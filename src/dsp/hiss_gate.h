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

constexpr double kEnvelopeOffset = 0.000000001;  // keeps the ratio of a silent envelope above 0

// G for an envelope value: 1 at or above the threshold; below it the gain in dB is slope * 20 log10(
// (env + 1e-9) / threshold), raised to the floor. Taken back to a gain that is ratio^slope: one power
// instead of a logarithm and a power, none at all where the floor holds, and there exactly floorGain.
inline double gateGain(const GateSettings& settings, double env) {
    if (!(settings.threshold > env)) return 1.0;
    const double offsetEnv = env + kEnvelopeOffset;
    if (!(offsetEnv > settings.floorEnvelope)) return settings.floorGain;
    return std::pow(offsetEnv / settings.threshold, settings.slope);
}

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

// The release factor of each of `frames` followed detector frames, and the de-essed analyser's shape
// readings for the air band; wobble is the modulator's sine of each frame.
void prepareGate(const GateSettings& settings, const GateDetector& detector, const double* wobble, int frames,
                 double* releaseFactor, AirShape& shape);

// The envelope's step on detector value m with the frame's release factor: 1 ms attack while the
// detector is strictly above it, the bent release otherwise. The release factor always lies above
// the attack factor (0.998 and up against 0.978 at 44100 Hz), so the chosen step is the larger of the
// two, as for the de-esser's band envelope: no branch to guess wrong on hiss, where the choice flips
// from sample to sample.
inline double stepGateEnvelope(double env, double attack, double m, double releaseFactor) {
    const double rising = (1.0 - attack) * m + env * attack;
    const double falling = (1.0 - releaseFactor) * m + env * releaseFactor;
    return larger(rising, falling);
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
