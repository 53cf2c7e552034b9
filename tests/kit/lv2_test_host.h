// The tests' LV2 host: a module opened as a host opens it, and one plug-in instance as a host holds
// it, with the control values it writes (the defaults, in their units) and the reductions it reads.
// Header-only: a test that hosts LV2 links the port layout (lumisere_lv2_ports) and the LV2 headers.
#pragma once

#include <lv2/core/lv2.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/parameters.h"
#include "formats/lv2/lv2_ports.h"
#include "plugin_library.h"

namespace lumisere::test {

// An LV2 module's lv2_descriptor, null when the module does not load or lacks it; each module is
// loaded once per process.
inline LV2_Descriptor_Function lv2EntryOf(const std::string& modulePath) {
    static std::map<std::string, std::unique_ptr<host::PluginLibrary>> modules;
    auto& module = modules[modulePath];
    if (!module) module = std::make_unique<host::PluginLibrary>(modulePath);
    return reinterpret_cast<LV2_Descriptor_Function>(module->symbol("lv2_descriptor"));
}

// The module's plug-in (entry 0), or null.
inline const LV2_Descriptor* lv2PluginOf(const std::string& modulePath) {
    const LV2_Descriptor_Function entry = lv2EntryOf(modulePath);
    return entry != nullptr ? entry(0) : nullptr;
}

struct Lv2Instance {
    Lv2Instance(const LV2_Descriptor* descriptor, double sampleRate, const LV2_Feature* const* features = nullptr)
        : plugin(descriptor),
          handle(plugin != nullptr ? plugin->instantiate(plugin, sampleRate, "", features) : nullptr) {
        for (int i = 0; i < kNumParams; ++i) controls[i] = static_cast<float>(defaultUnits(i));
    }
    ~Lv2Instance() {
        if (handle != nullptr) plugin->cleanup(handle);
    }
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    void connect(std::uint32_t port, const float* data) { plugin->connect_port(handle, port, const_cast<float*>(data)); }
    // The nine controls and the two reductions to this record's values.
    void connectControls() {
        for (int i = 0; i < kNumParams; ++i) connect(lv2::paramPort(i), &controls[i]);
        connect(lv2::kPortDeEssReduction, &deEss);
        connect(lv2::kPortGateReduction, &gate);
    }
    void connectAudio(const float* inL, const float* inR, float* outL, float* outR) {
        connect(lv2::kPortInL, inL);
        connect(lv2::kPortInR, inR);
        connect(lv2::kPortOutL, outL);
        connect(lv2::kPortOutR, outR);
    }
    void activate() { plugin->activate(handle); }
    void deactivate() { plugin->deactivate(handle); }
    void run(std::uint32_t frames) { plugin->run(handle, frames); }

    const LV2_Descriptor* plugin;
    LV2_Handle handle;
    float controls[kNumParams];
    float deEss = -1.0f;  // the reductions, in dB; -1 until the plug-in writes them
    float gate = -1.0f;
};

}  // namespace lumisere::test
