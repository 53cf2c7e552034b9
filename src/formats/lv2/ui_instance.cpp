#include "formats/lv2/ui_instance.h"

#include <cmath>
#include <cstring>

namespace lumisere::lv2 {

namespace {

// Port protocol 0 is ui:floatProtocol: one float, in the port's own unit.
constexpr std::uint32_t kFloatProtocol = 0;

constexpr std::uint32_t bitOf(int index) { return std::uint32_t{1} << index; }

}  // namespace

UiInstance::UiInstance(LV2UI_Write_Function write, LV2UI_Controller controller, EditDelivery delivery)
    : write_(write), controller_(controller), delivery_(delivery), view_(*this, this) {
    for (int i = 0; i < kNumParams; ++i) {
        params_[i].store(kParams[i].defaultValue, std::memory_order_relaxed);
        edits_[i].store(kParams[i].defaultValue, std::memory_order_relaxed);
    }
}

UiInstance::~UiInstance() {
    view_.close();
    sendPendingEdits();
}

bool UiInstance::open(void* parent) { return view_.open(parent); }

void UiInstance::portEvent(std::uint32_t port, std::uint32_t bufferSize, std::uint32_t format, const void* buffer) {
    if (format != kFloatProtocol || bufferSize != sizeof(float) || buffer == nullptr) return;
    float value;
    std::memcpy(&value, buffer, sizeof value);  // a host's buffer need not be aligned for a float
    if (std::isnan(value)) return;
    if (isParamPort(port)) {
        const int index = static_cast<int>(port - kPortFirstParam);
        params_[index].store(clampParam(portValueToNormalised(index, value)), std::memory_order_relaxed);
    } else if (port == kPortDeEssReduction) {
        deEssDb_.store(value, std::memory_order_relaxed);
    } else if (port == kPortGateReduction) {
        gateDb_.store(value, std::memory_order_relaxed);
    }
    // The editor's next tick shows it.
}

int UiInstance::idle() {
    sendPendingEdits();
    return view_.isOpen() ? 0 : 1;
}

float UiInstance::param(int index) const {
    return isParamIndex(index) ? params_[index].load(std::memory_order_relaxed) : 0.0f;
}

void UiInstance::setParam(int index, float value) {
    if (isParamIndex(index)) params_[index].store(clampParam(value), std::memory_order_relaxed);
}

void UiInstance::parameterEdited(int index, float value) {
    if (!isParamIndex(index)) return;
    if (delivery_ == EditDelivery::fromEventThread) {
        writePort(index, value);
        return;
    }
    // The value before the flag: whoever sees the flag sees this value or a later one.
    edits_[index].store(value, std::memory_order_relaxed);
    pendingEdits_.fetch_or(bitOf(index), std::memory_order_release);
}

void UiInstance::writePort(int index, float value) const {
    const auto units = static_cast<float>(paramUnits(index, value));
    write_(controller_, paramPort(index), sizeof units, kFloatProtocol, &units);
}

void UiInstance::sendPendingEdits() {
    // An edit landing after the exchange sets its flag again and goes at the next call.
    const std::uint32_t pending = pendingEdits_.exchange(0, std::memory_order_acquire);
    for (int i = 0; i < kNumParams; ++i) {
        if ((pending & bitOf(i)) != 0) writePort(i, edits_[i].load(std::memory_order_relaxed));
    }
}

}  // namespace lumisere::lv2
