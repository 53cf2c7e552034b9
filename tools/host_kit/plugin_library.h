// Loads a plug-in library the way a host does and finds its entry points (VST 2.x's by name); the
// host callback of a host that offers nothing, and an instance started, played block by block and
// stopped as a host does it. Host-side code only: used by the probe, the
// benchmarks, the command-line tool and the tests (tests/kit).
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "formats/vst2/vst_host.h"
#include "test_signals.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace lumisere::host {

class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
        if (handle_ == nullptr) {
            error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
            return;
        }
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* why = dlerror();
            error_ = why != nullptr ? why : "dlopen failed";
            return;
        }
#endif
        entry_ = lookup<VstPluginMainProc>("VSTPluginMain");
        mainAlias_ = lookup<VstPluginMainProc>("main");
    }

    ~PluginLibrary() { unload(); }

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    VstPluginMainProc entry() const { return entry_; }
    VstPluginMainProc mainAlias() const { return mainAlias_; }

    // Any other exported symbol, such as an LV2 module's lv2_descriptor or a CLAP library's
    // clap_entry; null when absent.
    void* symbol(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(handle_, name));
#else
        return dlsym(handle_, name);
#endif
    }

    // Unloads now; returns whether the system reported success.
    bool unload() {
        if (handle_ == nullptr) return true;
#if defined(_WIN32)
        const bool ok = FreeLibrary(handle_) != 0;
#else
        const bool ok = dlclose(handle_) == 0;
#endif
        handle_ = nullptr;
        entry_ = mainAlias_ = nullptr;
        return ok;
    }

    // An exported function by name, null when there is none (or nothing is loaded).
    template <typename Function>
    Function lookup(const char* name) const {
        // Through void* so the function-pointer cast stays quiet.
        return handle_ == nullptr ? nullptr : reinterpret_cast<Function>(symbol(name));
    }

private:
#if defined(_WIN32)
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    VstPluginMainProc entry_ = nullptr;
    VstPluginMainProc mainAlias_ = nullptr;
    std::string error_;
};

// The host callback of a host that offers nothing: it answers the version question as any 2.4 host
// would and 0 to everything else. The plug-in never calls its host.
inline VstIntPtr VSTCALLBACK stubHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// Shorthand for a dispatcher call.
inline VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                          void* ptr = nullptr, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

// An instance from entry brought to running as a host brings it: open, the rate, the block size,
// mains on. Null when the entry gives no effect with a replacing process call.
inline AEffect* startEffect(VstPluginMainProc entry, double sampleRate, int blockFrames,
                            audioMasterCallback host = stubHostCallback) {
    AEffect* effect = entry != nullptr ? entry(host) : nullptr;
    if (effect == nullptr || effect->magic != kEffectMagic || effect->processReplacing == nullptr) return nullptr;
    dispatch(effect, effOpen);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effect, effSetBlockSize, 0, blockFrames);
    dispatch(effect, effMainsChanged, 0, 1);
    return effect;
}

// Mains off and close: the instance is gone.
inline void stopEffect(AEffect* effect) {
    dispatch(effect, effMainsChanged, 0, 0);
    dispatch(effect, effClose);
}

// `in` through the replacing process call in blocks of blockFrames (the last one shorter), as a host
// plays it from its own buffers.
inline signals::StereoSignal renderInBlocks(AEffect* effect, const signals::StereoSignal& in, int blockFrames) {
    const std::size_t frames = in.left.size(), block = static_cast<std::size_t>(blockFrames);
    signals::StereoSignal out{std::vector<float>(frames), std::vector<float>(frames)};
    std::vector<float> inL(block), inR(block), outL(block), outR(block);
    float* inputs[] = {inL.data(), inR.data()};
    float* outputs[] = {outL.data(), outR.data()};
    for (std::size_t start = 0; start < frames; start += block) {
        const std::size_t n = std::min(block, frames - start);
        std::copy_n(in.left.begin() + static_cast<std::ptrdiff_t>(start), n, inL.begin());
        std::copy_n(in.right.begin() + static_cast<std::ptrdiff_t>(start), n, inR.begin());
        effect->processReplacing(effect, inputs, outputs, static_cast<VstInt32>(n));
        std::copy_n(outL.begin(), n, out.left.begin() + static_cast<std::ptrdiff_t>(start));
        std::copy_n(outR.begin(), n, out.right.begin() + static_cast<std::ptrdiff_t>(start));
    }
    return out;
}

}  // namespace lumisere::host
