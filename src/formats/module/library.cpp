#include "formats/module/library.h"

#include <atomic>
#include <mutex>

#include "platform/graphics_runtime.h"
#include "platform/library_hooks.h"

namespace lumisere {

namespace {

// One copy per loaded library. Creation and close may come from several host threads; they are
// serialised here so the graphics runtime starts with the first live instance and stops with the
// last, whatever the interleaving.
std::mutex gLifecycleMutex;
std::atomic<int> gInstanceCount{0};
std::atomic<std::uintptr_t> gGraphicsToken{0};
std::atomic<void*> gModuleHandle{nullptr};

}  // namespace

void instanceCreated() {
    std::lock_guard<std::mutex> lock(gLifecycleMutex);
    if (gInstanceCount.fetch_add(1) == 0) gGraphicsToken.store(platform::startGraphicsRuntime());
}

void instanceDestroyed() {
    std::lock_guard<std::mutex> lock(gLifecycleMutex);
    if (gInstanceCount.fetch_sub(1) == 1) {
        const std::uintptr_t token = gGraphicsToken.exchange(0);
        if (token != 0) platform::stopGraphicsRuntime(token);
    }
}

int liveInstanceCount() { return gInstanceCount.load(); }

std::uintptr_t graphicsRuntimeToken() { return gGraphicsToken.load(); }

void* libraryModuleHandle() { return gModuleHandle.load(); }

}  // namespace lumisere

namespace lumisere::platform {

void onLibraryLoad(void* module) { gModuleHandle.store(module); }

void onLibraryUnload(bool processExiting) {
    // At process exit the loader lock is held and other libraries may already be gone: calling into
    // the graphics runtime then can deadlock or crash, and the system reclaims everything anyway.
    if (processExiting) return;
    // Unloaded with instances still open: the runtime must not outlive the code that started it.
    const std::uintptr_t token = gGraphicsToken.exchange(0);
    if (token != 0) stopGraphicsRuntime(token);
}

}  // namespace lumisere::platform
