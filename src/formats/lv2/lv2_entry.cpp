// The library's only export, lv2_descriptor, and the descriptor's entries: each checks its handle
// and forwards to the instance, with floating-point exceptions masked for the call (debug builds of
// hosts unmask them; a NaN or huge rate or control value must not trap). Thread classes are LV2's (see
// lv2_instance.h).
#include <lv2/core/lv2.h>

#include <new>

#include "formats/lv2/lv2_instance.h"
#include "formats/module/host_entry.h"

namespace {

using lumisere::HostEntryGuard;
using lumisere::lv2::Lv2Instance;

Lv2Instance* instanceOf(LV2_Handle handle) { return static_cast<Lv2Instance*>(handle); }

// [instantiation] The plug-in needs no host feature, so the list is not read, and any rate is taken
// (the processor falls back for one it cannot run at). Null only when memory is short.
LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
    const HostEntryGuard masked;
    return new (std::nothrow) Lv2Instance(sampleRate);
}

// [audio]
void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    const HostEntryGuard masked;
    if (Lv2Instance* instance = instanceOf(handle)) instance->connectPort(port, data);
}

// [instantiation]
void activate(LV2_Handle handle) {
    const HostEntryGuard masked;
    if (Lv2Instance* instance = instanceOf(handle)) instance->activate();
}

// [audio]
void run(LV2_Handle handle, uint32_t sampleCount) {
    const HostEntryGuard masked;
    if (Lv2Instance* instance = instanceOf(handle)) instance->run(sampleCount);
}

// [instantiation]
void deactivate(LV2_Handle handle) {
    const HostEntryGuard masked;
    if (Lv2Instance* instance = instanceOf(handle)) instance->deactivate();
}

// [instantiation]
void cleanup(LV2_Handle handle) {
    const HostEntryGuard masked;
    delete instanceOf(handle);
}

// [discovery] No extension interface is offered, whatever the URI (null included).
const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {
    lumisere::lv2::kPluginUri, instantiate, connectPort, activate, run, deactivate, cleanup, extensionData,
};

}  // namespace

// [discovery] The library holds one plug-in, at index 0.
LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
