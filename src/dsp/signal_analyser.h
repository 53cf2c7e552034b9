// A per-sample analyser of a detector signal: a self-normalised level follower with shape values, a
// decimated fourth-difference detector and a slow sine modulator. Its outputs bend the constants of
// the de-esser, the gate and the air band; it changes no audio itself.
#pragma once

#include <cstdint>

namespace lumisere::dsp {

struct SignalAnalyser {
    double level = 0.0;          // normalised level follower, 0..1
    double levelCubic = 0.0;     // min(level^3 * 91/81, 1)
    double levelSquare = 0.0;    // level^2 * 81/91
    double levelPow15 = 0.0;     // level^1.5
    double laplacian = 0.0;      // smoothed, normalised fourth difference, -1..1
    double crest = 0.0;          // level / (|0.1 * slowLevel| + 0.04)
    double crestNorm = 0.0;      // min(crest / 25, 1)
    double crestWeight = 1.0;    // 1 / (2 * crestNorm^2 + 1), 1/3..1
    double wobble = 0.0;         // sine of the modulator phase
    double wobbleDepth = 0.0;    // 0.08 * wobble / (crest + 1)
    double peak = 0.001;         // decaying input peak, never below 0.001
    double slowLevel = 0.0;      // slow average of level
    double smoothInput = 0.0;    // short average of the normalised input
    double laplacianPeak = 0.02; // decaying max of |fourth difference|, never below 0.02
    double laplacianHeld = 0.0;  // last normalised fourth difference, held between decimated steps
    double phase = 0.0;          // modulator phase, radians 0..2pi
    double history[4] = {0.0, 0.0, 0.0, 0.0};  // last four decimated smoothInput values, newest first

    // Coefficients, from configure(rate).
    double peakDecay = 0.0;           // exp(-1/(1.5 s * fs))
    double attackCoef = 0.0;          // exp(-1/(1 ms * fs))
    double releaseCoef = 0.0;         // exp(-1/(60 ms * fs))
    double slowCoef = 0.0;            // 1 - exp(-1/(80 ms * fs))
    double inputCoef = 0.0;           // 1 - exp(-1/(5 ms * fs))
    double laplacianPeakDecay = 0.0;  // exp(-1/(0.5 s * fs)), per decimated step
    double laplacianCoef = 0.0;       // 1 - exp(-1/(4 ms * fs))
    double phaseStep = 0.0;           // radians per sample of the 5.8 Hz modulator
    std::int32_t decimation = 1;      // samples between fourth-difference steps (2 ms), at least 1
    std::int32_t decimationCounter = 0;

    // Writes the coefficients and decimation for a sample rate in Hz; touches no state field.
    void configure(double rate);

    // Advances by one sample of detector value x (normally >= 0; anything else reads as silence).
    void update(double x);
};

}  // namespace lumisere::dsp
