// The tests' VST 2.x host: one instance as a test holds it, made by the plug-in's own createInstance
// (linked into the test) or by the entry point of a loaded library (plugin_library.h), and the
// library a host test loads.
#pragma once

#include <cstdlib>
#include <string>

#include "plugin_library.h"
#include "test_signals.h"

namespace lumisere::test {

using host::dispatch;
using host::PluginLibrary;
using host::stubHostCallback;
using signals::StereoSignal;

// The plug-in library named by LUMISERE_PLUGIN; empty when unset.
inline std::string pluginPathFromEnvironment() {
    const char* path = std::getenv("LUMISERE_PLUGIN");
    return path != nullptr ? path : "";
}

// An instance from `entry(host)`, closed through its dispatcher at the end unless the test closed it
// or forgot it. It stands for its AEffect pointer: effect->setParameter(effect, ...) reads as a host's.
class Vst2Effect {
public:
    template <typename Entry>
    explicit Vst2Effect(Entry entry, audioMasterCallback host = stubHostCallback) : effect_(entry(host)) {}
    ~Vst2Effect() { close(); }
    Vst2Effect(const Vst2Effect&) = delete;
    Vst2Effect& operator=(const Vst2Effect&) = delete;

    AEffect* get() const { return effect_; }
    operator AEffect*() const { return effect_; }
    AEffect* operator->() const { return effect_; }

    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) const {
        return dispatch(effect_, opcode, index, value, ptr, opt);
    }
    // effClose now; its answer, or 0 when there is no instance left to close.
    VstIntPtr close() {
        const VstIntPtr closed = effect_ != nullptr ? call(effClose) : 0;
        effect_ = nullptr;
        return closed;
    }
    // For a test that ends the instance some other way.
    void forget() { effect_ = nullptr; }

private:
    AEffect* effect_;
};

}  // namespace lumisere::test
