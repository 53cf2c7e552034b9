// The per-frame chain over a whole block, chunk by chunk: de-esser, hiss gate, air band and output
// stage. processBlock derives the block's settings and picks the copy of the chain the CPU runs best.
#pragma once

#include "dsp/air_output.h"
#include "dsp/de_esser.h"
#include "dsp/dsp_state.h"
#include "dsp/hiss_gate.h"

namespace lumisere::dsp {

// Every stage's values for one block.
struct ChainSettings {
    DeEsserSettings deEsser;
    GateSettings gate;
    AirOutputSettings output;
};

// The block's running extremes: the smallest gains (1 at most) and the largest output magnitudes.
struct ChainExtremes {
    double smallestDeEssGain = 1.0;
    double smallestGateGain = 1.0;
    double peakL = 0.0;
    double peakR = 0.0;
};

inline namespace LUMISERE_CORE_COPY {

// Runs the chain over frameCount (1 or more) frames; inputs and outputs hold two channel pointers each,
// an output may be its channel's input. The state carries on; extremes takes the block's figures.
void runChain(DspState& state, const ChainSettings& settings, const float* const* inputs, float* const* outputs,
              int frameCount, ChainExtremes& extremes);

}  // namespace LUMISERE_CORE_COPY

// The AVX2 copy, for processBlock to call where the CPU has AVX2. (Compiled as that copy, this file
// has declared it above already, in its inline namespace.)
#ifndef LUMISERE_CORE_COPY_IS_AVX2
namespace avx2 {
void runChain(DspState& state, const ChainSettings& settings, const float* const* inputs, float* const* outputs,
              int frameCount, ChainExtremes& extremes);
}  // namespace avx2
#endif

}  // namespace lumisere::dsp
