// The audio core of one block: the per-frame chain (de-esser, hiss gate, air band, output stage) over
// a snapshot of the settings taken once at block start, and the block's meter figures.
#pragma once

#include "dsp/dsp_state.h"

namespace lumisere::dsp {

// Everything the chain needs for one block, in physical units. The plug-in's processor fills it from
// the stored parameter values at the start of the block (the parameter table maps them); nothing in
// it changes during the block.
struct BlockSettings {
    double sampleRate = kDefaultSampleRate;  // Hz, already accepted by acceptedSampleRate
    double focusHz = 0.0;                    // requested focus band-pass centre, Hz
    double deEssThresholdDb = 0.0;           // -40..0 dB
    bool listen = false;                     // output only what the de-esser removes
    double gateThresholdDb = 0.0;            // -80..-24 dB
    double gateFloorDb = 0.0;                // 0..-40 dB
    double gateSlope = 0.0;                  // dB of gain per dB below the threshold, 1..3.5
    double air = 0.0;                        // air band amount 0..1; the stage runs above 0.01
    double outputTrimDb = 0.0;               // -12..+12 dB on the processed part
    double mix = 0.0;                        // wet share of the output, 0..1
};

// The largest figures of one processed block, as 32-bit floats.
struct BlockPeaks {
    float peakL = 0.0f;     // largest |left output sample|
    float peakR = 0.0f;     // largest |right output sample|
    float deEssMax = 0.0f;  // largest de-esser reduction in dB
    float gateMax = 0.0f;   // largest gate reduction in dB
};

// The four smoothed values the editor shows.
struct MeterValues {
    float outPeakL = 0.0f;
    float outPeakR = 0.0f;
    float deEssReduction = 0.0f;
    float gateReduction = 0.0f;
};

// One block smoothing step of the meters, in 32-bit float arithmetic.
MeterValues smoothMeters(const MeterValues& previous, const BlockPeaks& block);

// The copies of the per-frame chain (dsp/core_copy.h): the generic one runs on every x86-64 CPU, the
// avx2 one only where the CPU has AVX2.
enum class CoreCopy { generic, avx2 };

// The copy processBlock runs unless told otherwise: avx2 where the CPU has it, generic elsewhere.
CoreCopy fastestCoreCopy();

// [any thread; tests and benchmarks] Has processBlock run `copy` from its next call on; avx2 on a CPU
// without it runs the generic copy. Both copies give the same output to the last bit.
void useCoreCopy(CoreCopy copy);

// Runs the chain over frameCount frames. inputs and outputs hold two channel pointers each (left,
// right); an output buffer may be the input buffer of its channel. A frameCount below 1 processes
// nothing and returns zero peaks. Flushes denormals for the duration of the call and restores the
// caller's floating-point mode.
BlockPeaks processBlock(DspState& state, const BlockSettings& settings, const float* const* inputs,
                        float* const* outputs, int frameCount);

}  // namespace lumisere::dsp
