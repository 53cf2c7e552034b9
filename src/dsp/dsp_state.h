// The signal-processing state of one instance and everything derived from the sample rate: the
// analysers' coefficients, the per-block time constants and the focus band-pass design.
//
// Threading: a DspState belongs to the audio thread. Other threads never write it; they publish the
// inputs the coefficients are derived from (the focus frequency and the sample rate) and the audio
// core re-derives the coefficients at the start of a block when those inputs changed (retune).
#pragma once

#include "dsp/biquad.h"
#include "dsp/signal_analyser.h"

namespace lumisere::dsp {

constexpr double kDefaultSampleRate = 44100.0;
constexpr double kTwoPi = 6.283185307179586;

// The audio core works through a block in chunks of at most this many frames: each stage runs over a
// whole chunk before the next takes it, so every stage loop stays short enough to keep its state in
// registers, with the chunk's intermediate signals in small arrays on the stack.
constexpr int kChunkFrames = 64;

// The readings of deEssedAnalyser that the air band takes, frame by frame over one chunk.
struct AirShape {
    double crestNorm[kChunkFrames];
    double levelCubic[kChunkFrames];
    double crestWeight[kChunkFrames];
};

// The rate rule of the sample-rate request: a request above 8000 Hz is taken, anything else (8000
// itself, 0, negative, NaN, and non-finite rates) falls back to 44100 Hz.
double acceptedSampleRate(float requested);

// Five coefficients of a band-pass biquad.
struct FocusCoefficients {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

// The centre actually designed: the requested one, kept strictly below half the rate. The limit
// (0.499 fs) lies above the 11 kHz top of the focus range for every rate from 22050 Hz up, so it only
// acts at the low rates where the design would otherwise turn unstable.
double focusCentreHz(double requestedHz, double sampleRate);

// Constant 0 dB peak-gain band-pass (Audio EQ Cookbook form), Q = 2.2, centred on focusCentreHz.
FocusCoefficients designFocusBandPass(double centreHz, double sampleRate);

// Time constants the audio core derives from the sample rate.
struct RateCoefficients {
    double bandAttack = 0.0;    // exp(-1/(0.8 ms * fs)): rising band envelope
    double bandRelease = 0.0;   // exp(-1/(40 ms * fs)): falling band envelope, both input envelopes
    double gateAttack = 0.0;    // exp(-1/(1 ms * fs)): rising gate envelope
    double gateRelease = 0.0;   // exp(-1/(35 ms * fs)): base of the falling gate envelope
    double airSmoothing = 0.0;  // one-pole low-pass factor of the air band, 0.02..0.85
};

RateCoefficients rateCoefficients(double sampleRate);

struct DspState {
    Biquad focusFilterL;   // band-pass on the left input, feeds the de-esser side-chain
    Biquad focusFilterR;   // band-pass on the right input, same coefficients as the left
    double bandEnvL = 0.0;   // envelope of the left band-pass output
    double bandEnvR = 0.0;
    double inputEnvL = 0.0;  // envelope of the left broadband input
    double inputEnvR = 0.0;
    double gateEnv = 0.0;    // hiss-gate detector envelope
    double airLowL = 0.0;    // one-pole low-pass state of the air band
    double airLowR = 0.0;
    SignalAnalyser bandAnalyser;     // fed with the focus-band output, steers the de-esser
    SignalAnalyser deEssedAnalyser;  // fed with the de-essed signal, steers the gate and the air band

    // What the coefficients were last derived from, and the rate-derived block constants.
    double tunedSampleRate = 0.0;
    double tunedFocusHz = 0.0;
    RateCoefficients rate;

    // Brings every coefficient in line with a sample rate and a requested focus centre. Reconfigures
    // the analysers and the block constants only when the rate changed, and designs the focus filters
    // only when the rate or the centre changed. No state (filter memory, envelope, analyser value) is
    // ever touched, so a running stream carries on under the new coefficients.
    void retune(double sampleRate, double focusHz);
};

// Writes the same five coefficients into both focus filters and nothing else.
void designFocusFilters(DspState& state, double focusHz, double sampleRate);

}  // namespace lumisere::dsp
