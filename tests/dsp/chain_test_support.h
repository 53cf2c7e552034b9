// Small helpers shared by the audio-core tests: the kit's signals, running a whole signal through processBlock in
// blocks, and the settings that leave only the de-esser at work.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/processor.h"
#include "dsp/process_block.h"
#include "test_signals.h"

namespace lumisere::test {

using signals::StereoSignal;
using signals::speechLikeSignal;
using signals::sine;

// Mix 1, trim 0 dB, the gate and the air band off: what comes out is the input less what the
// de-esser removes.
inline dsp::BlockSettings deEsserOnly(double rate) {
    dsp::BlockSettings s = defaultBlockSettings();
    s.sampleRate = rate;
    s.gateThresholdDb = -80.0;
    s.gateFloorDb = -0.0;
    s.gateSlope = 1.0;
    s.air = 0.0;
    return s;
}

// Runs the whole of `in` through processBlock in blocks of blockFrames (the last one shorter) and
// returns the output; `blocks` receives each block's figures when given.
inline StereoSignal runInBlocks(dsp::DspState& state, const dsp::BlockSettings& settings, const StereoSignal& in,
                                int blockFrames, std::vector<dsp::BlockPeaks>* blocks = nullptr) {
    StereoSignal out;
    out.left.assign(in.left.size(), 0.0f);
    out.right.assign(in.right.size(), 0.0f);
    const int total = static_cast<int>(in.left.size());
    for (int at = 0; at < total; at += blockFrames) {
        const int frames = std::min(blockFrames, total - at);
        const float* inputs[] = {in.left.data() + at, in.right.data() + at};
        float* outputs[] = {out.left.data() + at, out.right.data() + at};
        const dsp::BlockPeaks peaks = dsp::processBlock(state, settings, inputs, outputs, frames);
        if (blocks != nullptr) blocks->push_back(peaks);
    }
    return out;
}

// The largest |a[i] - b[i]| over both channels.
inline double largestDifference(const StereoSignal& a, const StereoSignal& b) {
    double largest = 0.0;
    for (std::size_t i = 0; i < a.left.size(); ++i) {
        largest = std::max({largest, std::fabs(static_cast<double>(a.left[i]) - b.left[i]),
                            std::fabs(static_cast<double>(a.right[i]) - b.right[i])});
    }
    return largest;
}

}  // namespace lumisere::test
