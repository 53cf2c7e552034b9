// The LV2 adapter's instance: the buffers the host connected to the ports, the control values last
// handed to the processor, and the format-neutral processor that does the work.
//
// Threads, in LV2's classes: the constructor, activate, deactivate and the destructor ("instantiation")
// never overlap another call on the instance; connectPort and run ("audio") come one at a time,
// usually on the host's audio thread.
#pragma once

#include <cstdint>

#include "core/processor.h"
#include "formats/lv2/lv2_ports.h"

namespace lumisere::lv2 {

class Lv2Instance {
public:
    // [instantiation] The host's rate goes to the processor, which falls back to 44100 Hz for one it
    // cannot run at (8000 Hz or less, non-finite). The instance waits suspended for activate.
    explicit Lv2Instance(double sampleRate);

    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    // [audio] Keeps the buffer a port reads or writes; null disconnects it, an unknown index is ignored.
    void connectPort(std::uint32_t port, void* data);

    // [instantiation] Starts processing with no history: a host that deactivates and activates again
    // gets an instance that sounds like a fresh one. Parameters stay.
    void activate();
    // [instantiation] Stops processing; runs until the next activate pass the input through.
    void deactivate();

    // [audio] One run of sampleCount frames: takes the control inputs that changed since the last run
    // over to the processor (a NaN is no value and leaves its parameter as it is), processes the audio
    // (outputs may share the inputs' buffers in any arrangement), and writes the run's largest
    // reductions in dB to the reduction ports. A run with an audio port unconnected processes nothing
    // and reports no reduction, as does a run of zero frames; an unconnected control port is skipped.
    void run(std::uint32_t sampleCount);

    const Processor& processor() const { return processor_; }

private:
    void takeControlValues();

    const float* audioIn_[2] = {nullptr, nullptr};
    float* audioOut_[2] = {nullptr, nullptr};
    const float* controls_[kNumParams] = {};
    float* deEssReduction_ = nullptr;
    float* gateReduction_ = nullptr;

    // The bit pattern of each control value the processor last took (or last refused, for a NaN), so
    // a host that writes the same value every run costs one comparison.
    std::uint32_t takenBits_[kNumParams] = {};
    bool taken_[kNumParams] = {};

    Processor processor_;
};

}  // namespace lumisere::lv2
