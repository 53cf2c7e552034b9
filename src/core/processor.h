// The plug-in's processor, the same under every plug-in format: the nine normalised parameters, the
// sample rate, the suspended switch, the meters and the last block's figures, the audio core's state
// and the process call. It knows no plug-in format; each format's adapter owns one and forwards to it.
//
// Threads: a host's user-interface thread configures (rate, suspended); the audio thread calls
// process; parameters may be set and read on any thread; an editor reads parameters and meters.
// Every value that crosses threads is one lock-free atomic word (relaxed: no value needs to be
// consistent with another). The audio thread alone owns the DSP state: at each block start it takes
// one snapshot of the shared values and re-derives every coefficient from that snapshot, so no
// coefficient is ever written by one thread while another reads it, and the audio thread never waits.
#pragma once

#include <atomic>

#include "core/parameters.h"
#include "dsp/dsp_state.h"
#include "dsp/process_block.h"

namespace lumisere {

enum MeterIndex : int {
    kMeterOutPeakL = 0,
    kMeterOutPeakR = 1,
    kMeterDeEssReduction = 2,
    kMeterGateReduction = 3,
    kNumMeters = 4,
};

// What the audio core needs for one block, in physical units, from nine stored normalised values and
// an accepted sample rate.
dsp::BlockSettings blockSettingsFor(const float (&params)[kNumParams], double sampleRate);

// The block settings at the parameters' defaults.
dsp::BlockSettings defaultBlockSettings(double sampleRate = dsp::kDefaultSampleRate);

class Processor {
public:
    // Parameters at their defaults, 44100 Hz, running, meters at 0, coefficients designed.
    Processor();

    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    // [any thread] The stored normalised value; 0 for an index outside 0..8.
    float param(int index) const {
        return isParamIndex(index) ? params_[index].load(std::memory_order_relaxed) : 0.0f;
    }

    // [any thread] Clamps (NaN becomes 1) and stores; an index outside 0..8 is ignored. A new focus
    // value reaches the band-pass design at the next block start.
    void setParam(int index, float value) {
        if (isParamIndex(index)) params_[index].store(clampParam(value), std::memory_order_relaxed);
    }

    // [ui thread] A host's rate request: rates of 8000 Hz or less, and non-finite ones, fall back to
    // 44100 Hz. Filter and envelope states carry on under the new coefficients.
    void setSampleRate(float requested);
    // [any thread] The rate the audio core runs at.
    double sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }

    // [ui thread] Suspended, the process call passes the input through and the meters hold.
    void setSuspended(bool suspended) { suspended_.store(suspended, std::memory_order_relaxed); }
    bool suspended() const { return suspended_.load(std::memory_order_relaxed); }

    // [audio thread] One block of frameCount frames; inputs and outputs hold two channel pointers
    // each, and an output may share the buffer of either input. Null buffers skip the block. Suspended
    // or bypassed, the input is copied through (buffers shared in place are left alone) and the
    // block's figures are zero; otherwise the chain runs over one snapshot of the settings and the
    // meters move.
    void process(const float* const* inputs, float* const* outputs, int frameCount);

    // [any thread] One smoothed meter value, as the editor shows it.
    float meter(int index) const {
        return index >= 0 && index < kNumMeters ? meters_[index].load(std::memory_order_relaxed) : 0.0f;
    }

    // [any thread] The last processed block's own figures, unsmoothed: largest output magnitudes and
    // largest reductions in dB.
    dsp::BlockPeaks lastBlock() const;

    // [while no process call runs] Forgets the signal's history, as a fresh instance has none: filter,
    // envelope and analyser states, the meters and the last block's figures start again from zero.
    // Parameters, rate and the suspended switch stay. For hosts that restart an instance (LV2's
    // activate after a deactivate).
    void forgetHistory();

    // [audio thread] The snapshot of the shared values one block runs on.
    dsp::BlockSettings takeBlockSettings() const;

    // [audio thread] The audio core's state, for the tests that look inside it.
    dsp::DspState& audioState() { return dsp_; }
    const dsp::DspState& audioState() const { return dsp_; }

private:
    std::atomic<float> params_[kNumParams];
    std::atomic<double> sampleRate_{dsp::kDefaultSampleRate};
    std::atomic<bool> suspended_{false};
    std::atomic<float> meters_[kNumMeters];
    std::atomic<float> lastBlock_[kNumMeters];  // indexed like the meters

    dsp::DspState dsp_;  // audio thread only
};

static_assert(std::atomic<float>::is_always_lock_free && std::atomic<double>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "values shared with the audio thread must be lock-free");

}  // namespace lumisere
