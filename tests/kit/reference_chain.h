// A plain per-sample reading of the whole audio chain, with no rewrite of any kind: every power,
// logarithm and sine is taken where the chain defines it, every coefficient is derived afresh at every
// block start, the meters are accumulated sample by sample. It is the yardstick the optimised core is
// measured against, for speed in the benchmark and for accuracy in the tests (within 1e-6 per output
// sample). It carries the plug-in's two deliberate departures from the plain chain: non-finite input
// samples are read as silence, and the focus centre is kept below 0.499 of the rate.
#pragma once

#include <array>
#include <cstdint>

#include "core/parameters.h"

namespace lumisere::test {

struct ReferenceBiquad {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
};

struct ReferenceAnalyser {
    double level = 0.0, levelCubic = 0.0, levelSquare = 0.0, levelPow15 = 0.0, laplacian = 0.0;
    double crest = 0.0, crestNorm = 0.0, crestWeight = 1.0, wobble = 0.0, wobbleDepth = 0.0;
    double peak = 0.001, slowLevel = 0.0, smoothInput = 0.0, laplacianPeak = 0.02, laplacianHeld = 0.0;
    double phase = 0.0;
    double history[4] = {0.0, 0.0, 0.0, 0.0};
    double peakDecay = 0.0, attackCoef = 0.0, releaseCoef = 0.0, slowCoef = 0.0, inputCoef = 0.0;
    double laplacianPeakDecay = 0.0, laplacianCoef = 0.0, phaseStep = 0.0;
    std::int32_t decimation = 1;
    std::int32_t decimationCounter = 0;

    void configure(double rate);
    void update(double x);
};

struct ReferenceChain {
    // Normalised values as the host stores them, and the rate in Hz (already accepted).
    std::array<float, kNumParams> params{};
    double sampleRate = 44100.0;
    bool suspended = false;

    std::array<float, 4> meters{};  // out peak L, out peak R, de-esser reduction, gate reduction

    ReferenceBiquad focusFilterL, focusFilterR;
    double bandEnvL = 0.0, bandEnvR = 0.0, inputEnvL = 0.0, inputEnvR = 0.0, gateEnv = 0.0;
    double airLowL = 0.0, airLowR = 0.0;
    ReferenceAnalyser bandAnalyser, deEssedAnalyser;

    // Creation: parameters at their defaults, every state at its creation value, tuned to 44100 Hz.
    ReferenceChain();

    // The sample-rate request, with a rate already accepted.
    void setSampleRate(double rate);

    // One process call; outputs may be the inputs.
    void process(const float* const* inputs, float* const* outputs, int frameCount);

private:
    void designFocusFilters();
};

}  // namespace lumisere::test
