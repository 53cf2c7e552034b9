// The air band and the output stage. The air band splits the gated signal with a one-pole low-pass
// and adds the part above it back, once linearly and once through a sine shaper whose depth follows
// deEssedAnalyser. The output stage applies the trim to the processed part, mixes in the dry input,
// clips hard at +-0.98 and narrows to the 32-bit output sample.
#pragma once

#include "dsp/dsp_state.h"

namespace lumisere::dsp {

// Values fixed for one block.
struct AirOutputSettings {
    double air = 0.0;          // air band amount 0..1
    bool airOn = false;        // the band runs only above 0.01
    double smoothing = 0.85;   // one-pole low-pass factor of the band split
    double shaperDepth = 0.0;  // air * 0.4, the shaper's share
    double outputGain = 1.0;   // linear trim on the processed part
    double mix = 1.0;          // wet share
    double dry = 0.0;          // 1 - mix, the raw input's share
};

inline namespace LUMISERE_CORE_COPY {

// The block values from the air amount, the trim in dB, the wet share and the rate's constants.
AirOutputSettings airOutputSettings(double air, double outputTrimDb, double mix, const RateCoefficients& rate);

// The hard output clip: full scale less about 0.18 dB of headroom. A NaN comes out as the upper limit.
constexpr double kOutputCeiling = 0.98;
inline double clipOutput(double out) {
    const double upper = out < kOutputCeiling ? out : kOutputCeiling;
    return upper > -kOutputCeiling ? upper : -kOutputCeiling;
}

// sin(t * pi) for t >= 0, the shaper's sine: a series within about 1e-14 of the library sine of the
// rounded product below t = 2^20, where the product itself carries that much, and the library sine above.
double sinPiTimes(double t);

// One step of the air band's two one-pole splits, lane 0 left: the low part carries on in `low`, the
// high part h = o - low is returned.
inline Lanes splitAirFrame(Lanes& low, Lanes o, Lanes smoothing) {
    low = low + (o - low) * smoothing;
    return o - low;
}

// The air band alone over one chunk of at most kChunkFrames frames: the gated signal o in, o with the
// band added in wet (no array may overlap another). The low-pass states in `state` carry on.
void addAirBand(DspState& state, const AirOutputSettings& settings, const double* oL, const double* oR,
                const AirShape& shape, int frames, double* wetL, double* wetR);

// Runs the air band's shaper and the output stage over `frames` frames: o is the gated signal, h its
// high part from splitAirFrame (read only while the band is on), shape the de-essed analyser's
// readings of the same frames, x the unprocessed input. Writes the 32-bit outputs; peakL and peakR
// take the largest clipped magnitudes.
void runAirOutput(const AirOutputSettings& settings, const double* oL, const double* oR, const double* hL,
                  const double* hR, const AirShape& shape, const double* xL, const double* xR, int frames,
                  float* outL, float* outR, double& peakL, double& peakR);

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
