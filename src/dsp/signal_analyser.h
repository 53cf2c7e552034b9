// A per-sample analyser of a detector signal: a self-normalised level follower with shape values, a
// decimated fourth-difference detector and a slow sine modulator. Its outputs bend the constants of
// the de-esser, the gate and the air band; it changes no audio itself.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/core_copy.h"

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

    // The modulator's sine, sin(phase + pi^2/12), is taken exactly every kModulatorAnchorSamples
    // samples and carried between those by rotating (sine, cosine) by phaseStep: a few multiplies
    // instead of a sine per sample, drifting from the exact value by well under 1e-13. configure and
    // anyone who sets `phase` by hand set modulatorLeft to 0 so the next update takes it exactly.
    double modulatorSin = 0.0;      // sin(phase + pi^2/12) as carried
    double modulatorCos = 1.0;      // cos(phase + pi^2/12) as carried
    double stepSin = 0.0;           // sin(phaseStep), from configure
    double stepCos = 1.0;           // cos(phaseStep), from configure
    std::int32_t modulatorLeft = 0; // rotations left before the next exact evaluation

    static constexpr std::int32_t kModulatorAnchorSamples = 256;

    // Writes the coefficients and decimation for a sample rate in Hz. It touches no state field; it
    // only has the modulator take its next sine exactly, since the rotation step changed.
    void configure(double rate);

    // Advances by one sample of detector value x (normally >= 0; anything else reads as silence) and
    // refreshes the readings.
    void update(double x);

    // The readings of the present state: crest and its two shapes, the modulator's sine and depth,
    // and the three powers of the level.
    void refreshReadings();
};

inline namespace LUMISERE_CORE_COPY {

constexpr double kImplausibleInput = 1000000.0;  // a detector value this large reads as silence
constexpr double kPeakFloor = 0.001;             // -60 dBFS: quieter input is not normalised up
constexpr double kLaplacianPeakFloor = 0.02;     // keeps a quiet fourth difference from reading full
constexpr double kModulatorWrap = 6.283185307179586;    // 2pi rad, where the phase wraps
constexpr double kModulatorOffset = 0.8224670334241132;  // pi^2/12 rad

// Every `decimation` samples: the fourth difference of the decimated smoothInput (history holds the
// last four, newest first), normalised by its own decaying peak. This and the modulator's anchoring
// are inline though rare, so the block loops can keep the whole analyser in registers.
inline void stepFourthDifference(double smoothInput, double* history, double& laplacianPeak, double laplacianPeakDecay,
                                 double& laplacianHeld) {
    const double d = smoothInput - 4.0 * history[0] + 6.0 * history[1] - 4.0 * history[2] + history[3];
    history[3] = history[2];
    history[2] = history[1];
    history[1] = history[0];
    history[0] = smoothInput;
    // The peak decays once per decimated step and never falls below 0.02, so q is always defined.
    laplacianPeak = larger(kLaplacianPeakFloor, larger(laplacianPeak * laplacianPeakDecay, std::fabs(d)));
    const double q = d / laplacianPeak;
    laplacianHeld = !(q < 1.0) ? 1.0 : larger(q, -1.0);
}

inline void stepFourthDifference(SignalAnalyser& a) {
    a.decimationCounter = 0;
    stepFourthDifference(a.smoothInput, a.history, a.laplacianPeak, a.laplacianPeakDecay, a.laplacianHeld);
}

// Takes sin and cos of phase + pi^2/12 exactly and restarts the rotation count.
inline void anchorModulator(SignalAnalyser& a) {
    const double angle = a.phase + kModulatorOffset;
    a.modulatorSin = std::sin(angle);
    a.modulatorCos = std::cos(angle);
    a.modulatorLeft = SignalAnalyser::kModulatorAnchorSamples - 1;
}

// The part of an update that carries state from sample to sample, but for the modulator: the peak,
// the level followers, the fourth-difference detector and the laplacian glide. The readings are pure
// functions of that state and the modulator's sine, so a reader that needs them only now and then
// advances every sample and takes them when it reads; the result is the same as updating every
// sample. x is a magnitude (0 or more, never NaN); values of a million and more read as silence.
inline void advanceFollowers(SignalAnalyser& a, double x) {
    const double xs = x < kImplausibleInput ? x : 0.0;
    a.peak = larger(a.peak * a.peakDecay, larger(kPeakFloor, xs));
    // min(xs / peak, 1): the peak never falls below the input, so the quotient never exceeds 1 and
    // reaches it exactly on a new peak.
    const double n = xs / a.peak;

    // Attack while the input is above the level, release otherwise (equality releases). The attack
    // (1 ms) moves further toward n than the release (60 ms), so the step taken is the larger of the
    // two whichever way n lies: no comparison for the level to wait on and no branch to guess wrong
    // on noise.
    const double rising = (1.0 - a.attackCoef) * n + a.level * a.attackCoef;
    const double falling = (1.0 - a.releaseCoef) * n + a.level * a.releaseCoef;
    a.level = larger(rising, falling);
    a.slowLevel = a.slowLevel + (a.level - a.slowLevel) * a.slowCoef;
    a.smoothInput = a.smoothInput + (n - a.smoothInput) * a.inputCoef;

    if (++a.decimationCounter >= a.decimation) stepFourthDifference(a);
    a.laplacian = a.laplacian + (a.laplacianHeld - a.laplacian) * a.laplacianCoef;
}

// The modulator's step: the phase, and its sine carried by rotation or taken anew at an anchor.
inline void advanceModulator(SignalAnalyser& a) {
    a.phase = a.phase + a.phaseStep;
    if (a.phase > kModulatorWrap) a.phase = a.phase - kModulatorWrap;
    if (a.modulatorLeft > 0) {
        const double s = a.modulatorSin * a.stepCos + a.modulatorCos * a.stepSin;
        a.modulatorCos = a.modulatorCos * a.stepCos - a.modulatorSin * a.stepSin;
        a.modulatorSin = s;
        --a.modulatorLeft;
    } else {
        anchorModulator(a);
    }
}

// Two analysers' followers stepped together, one in each lane of a 128-bit register: every operation
// of advanceFollowers, lane by lane, so each lane takes exactly the values it would alone, at about
// half the instructions of stepping the two one after the other. Lane 0 is the first analyser.
struct FollowerPair {
    Lanes peak, level, slowLevel, smoothInput, laplacian, laplacianPeak, laplacianHeld;
    Lanes peakDecay, attackCoef, releaseCoef, slowCoef, inputCoef, laplacianPeakDecay, laplacianCoef;
    std::int32_t decimation[2];
    std::int32_t decimationCounter[2];
    double history[2][4];
};

inline FollowerPair pairFollowers(const SignalAnalyser& a, const SignalAnalyser& b) {
    FollowerPair p;
    p.peak = Lanes{a.peak, b.peak};
    p.level = Lanes{a.level, b.level};
    p.slowLevel = Lanes{a.slowLevel, b.slowLevel};
    p.smoothInput = Lanes{a.smoothInput, b.smoothInput};
    p.laplacian = Lanes{a.laplacian, b.laplacian};
    p.laplacianPeak = Lanes{a.laplacianPeak, b.laplacianPeak};
    p.laplacianHeld = Lanes{a.laplacianHeld, b.laplacianHeld};
    p.peakDecay = Lanes{a.peakDecay, b.peakDecay};
    p.attackCoef = Lanes{a.attackCoef, b.attackCoef};
    p.releaseCoef = Lanes{a.releaseCoef, b.releaseCoef};
    p.slowCoef = Lanes{a.slowCoef, b.slowCoef};
    p.inputCoef = Lanes{a.inputCoef, b.inputCoef};
    p.laplacianPeakDecay = Lanes{a.laplacianPeakDecay, b.laplacianPeakDecay};
    p.laplacianCoef = Lanes{a.laplacianCoef, b.laplacianCoef};
    p.decimation[0] = a.decimation;
    p.decimation[1] = b.decimation;
    p.decimationCounter[0] = a.decimationCounter;
    p.decimationCounter[1] = b.decimationCounter;
    for (int k = 0; k < 4; ++k) {
        p.history[0][k] = a.history[k];
        p.history[1][k] = b.history[k];
    }
    return p;
}

// Writes lane `lane` of the pair's state back into its analyser.
inline void unpairFollowers(const FollowerPair& p, int lane, SignalAnalyser& a) {
    a.peak = p.peak[lane];
    a.level = p.level[lane];
    a.slowLevel = p.slowLevel[lane];
    a.smoothInput = p.smoothInput[lane];
    a.laplacian = p.laplacian[lane];
    a.laplacianPeak = p.laplacianPeak[lane];
    a.laplacianHeld = p.laplacianHeld[lane];
    a.decimationCounter = p.decimationCounter[lane];
    for (int k = 0; k < 4; ++k) a.history[k] = p.history[lane][k];
}

inline void stepFourthDifferenceLane(FollowerPair& p, int lane) {
    p.decimationCounter[lane] = 0;
    double laplacianPeak = p.laplacianPeak[lane];
    double laplacianHeld = p.laplacianHeld[lane];
    stepFourthDifference(p.smoothInput[lane], p.history[lane], laplacianPeak, p.laplacianPeakDecay[lane], laplacianHeld);
    p.laplacianPeak[lane] = laplacianPeak;
    p.laplacianHeld[lane] = laplacianHeld;
}

// advanceFollowers on both lanes; x holds the two magnitudes.
inline void advanceFollowerPair(FollowerPair& p, Lanes x) {
    const Lanes zero = {0.0, 0.0};
    const Lanes one = {1.0, 1.0};
    const Lanes implausible = {kImplausibleInput, kImplausibleInput};
    const Lanes peakFloor = {kPeakFloor, kPeakFloor};
    const Lanes xs = x < implausible ? x : zero;
    p.peak = largerLanes(p.peak * p.peakDecay, largerLanes(peakFloor, xs));
    const Lanes n = xs / p.peak;
    const Lanes rising = (one - p.attackCoef) * n + p.level * p.attackCoef;
    const Lanes falling = (one - p.releaseCoef) * n + p.level * p.releaseCoef;
    p.level = largerLanes(rising, falling);
    p.slowLevel = p.slowLevel + (p.level - p.slowLevel) * p.slowCoef;
    p.smoothInput = p.smoothInput + (n - p.smoothInput) * p.inputCoef;
    if (++p.decimationCounter[0] >= p.decimation[0]) stepFourthDifferenceLane(p, 0);
    if (++p.decimationCounter[1] >= p.decimation[1]) stepFourthDifferenceLane(p, 1);
    p.laplacian = p.laplacian + (p.laplacianHeld - p.laplacian) * p.laplacianCoef;
}

// One whole sample: the followers, then the modulator.
inline void advanceAnalyser(SignalAnalyser& a, double x) {
    advanceFollowers(a, x);
    advanceModulator(a);
}

// The modulator alone depends on nothing but the rate and the number of samples taken since the
// analyser was configured. The chain's two analysers are configured together and advance one sample
// each per frame, so their modulators agree sample for sample: the second takes the first's
// (phase, sine, cosine, rotations left) instead of turning its own.
inline void takeModulator(SignalAnalyser& a, const SignalAnalyser& from) {
    a.phase = from.phase;
    a.modulatorSin = from.modulatorSin;
    a.modulatorCos = from.modulatorCos;
    a.modulatorLeft = from.modulatorLeft;
}

}  // namespace LUMISERE_CORE_COPY

// What an analyser shows, as a pure function of the three state values it comes from. A reader that
// takes readings for many samples at once keeps those three per sample and forms these together.
struct AnalyserReadings {
    double crest = 0.0;
    double crestNorm = 0.0;
    double crestWeight = 1.0;
    double wobbleDepth = 0.0;
    double levelSquare = 0.0;
    double levelCubic = 0.0;
    double levelPow15 = 0.0;
};

inline namespace LUMISERE_CORE_COPY {

// The crest compares the level with a tenth of its slow average (plus a floor for silence); it reads
// "full" at 25. The modulator's depth shrinks as the crest grows. The level's square and cube are
// scaled by 81/91 and 91/81, the cube capped at 1.
constexpr double kCrestSlowShare = 0.1;
constexpr double kCrestFloor = 0.04;
constexpr double kCrestFull = 25.0;
constexpr double kWobbleDepth = 0.08;
constexpr double kLevelSquareScale = 81.0 / 91.0;
constexpr double kLevelCubicScale = 91.0 / 81.0;

inline AnalyserReadings readingsOf(double level, double slowLevel, double wobble) {
    AnalyserReadings r;
    r.crest = level / (std::fabs(kCrestSlowShare * slowLevel) + kCrestFloor);
    r.crestNorm = smaller(r.crest * (1.0 / kCrestFull), 1.0);
    r.crestWeight = 1.0 / ((r.crestNorm + r.crestNorm) * r.crestNorm + 1.0);
    r.wobbleDepth = kWobbleDepth * wobble / (std::fabs(r.crest) + 1.0);
    r.levelSquare = level * level * kLevelSquareScale;
    r.levelCubic = smaller(level * level * level * kLevelCubicScale, 1.0);
    r.levelPow15 = level * std::sqrt(level);  // level^1.5 for level >= 0
    return r;
}

// Writes the readings of the analyser's present state into its reading fields.
inline void refreshAnalyserReadings(SignalAnalyser& a) {
    const AnalyserReadings r = readingsOf(a.level, a.slowLevel, a.modulatorSin);
    a.crest = r.crest;
    a.crestNorm = r.crestNorm;
    a.crestWeight = r.crestWeight;
    a.wobble = a.modulatorSin;
    a.wobbleDepth = r.wobbleDepth;
    a.levelSquare = r.levelSquare;
    a.levelCubic = r.levelCubic;
    a.levelPow15 = r.levelPow15;
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
