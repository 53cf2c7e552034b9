// Loads a plug-in library the way a host does and finds its entry points (VST 2.x's by name), and
// the host callback of a host that offers nothing. Host-side code only: used by the probe, the
// benchmarks, the command-line tool and the tests (tests/kit).
#pragma once

#include <string>

#include "formats/vst2/vst_host.h"

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
        entry_ = lookup("VSTPluginMain");
        mainAlias_ = lookup("main");
    }

    ~PluginLibrary() { unload(); }

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    VstPluginMainProc entry() const { return entry_; }
    VstPluginMainProc mainAlias() const { return mainAlias_; }

    // Any other exported symbol, such as an LV2 module's lv2_descriptor; null when absent.
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

private:
    // Through void* so the function-pointer cast stays quiet.
    VstPluginMainProc lookup(const char* name) const { return reinterpret_cast<VstPluginMainProc>(symbol(name)); }

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

}  // namespace lumisere::host
