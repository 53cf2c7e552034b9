#include "formats/lv2/lv2_instance.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace lumisere::lv2 {

Lv2Instance::Lv2Instance(double sampleRate) {
    // Every rate a host can mean is an integer number of hertz well inside float; a NaN or a huge
    // double stays non-finite and takes the fallback.
    processor_.setSampleRate(static_cast<float>(sampleRate));
    processor_.setSuspended(true);
}

void Lv2Instance::connectPort(std::uint32_t port, void* data) {
    auto* buffer = static_cast<float*>(data);
    switch (port) {
        case kPortInL: audioIn_[0] = buffer; break;
        case kPortInR: audioIn_[1] = buffer; break;
        case kPortOutL: audioOut_[0] = buffer; break;
        case kPortOutR: audioOut_[1] = buffer; break;
        case kPortDeEssReduction: deEssReduction_ = buffer; break;
        case kPortGateReduction: gateReduction_ = buffer; break;
        default:
            if (isParamPort(port)) controls_[port - kPortFirstParam] = buffer;
            break;
    }
}

void Lv2Instance::activate() {
    processor_.forgetHistory();
    processor_.setSuspended(false);
}

void Lv2Instance::deactivate() { processor_.setSuspended(true); }

void Lv2Instance::takeControlValues() {
    for (int i = 0; i < kNumParams; ++i) {
        if (controls_[i] == nullptr) continue;
        const float value = *controls_[i];
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        if (taken_[i] && bits == takenBits_[i]) continue;
        taken_[i] = true;
        takenBits_[i] = bits;
        if (!std::isnan(value)) processor_.setParam(i, portValueToNormalised(i, value));
    }
}

void Lv2Instance::run(std::uint32_t sampleCount) {
    takeControlValues();

    const bool audioConnected = audioIn_[0] != nullptr && audioIn_[1] != nullptr && audioOut_[0] != nullptr &&
                                audioOut_[1] != nullptr;
    dsp::BlockPeaks block;
    if (audioConnected) {
        // No buffer of 2^31 frames or more exists; the cap only keeps the count an int.
        const int frames = sampleCount > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(sampleCount);
        processor_.process(audioIn_, audioOut_, frames);
        block = processor_.lastBlock();
    }
    if (deEssReduction_ != nullptr) *deEssReduction_ = block.deEssMax;
    if (gateReduction_ != nullptr) *gateReduction_ = block.gateMax;
}

}  // namespace lumisere::lv2
