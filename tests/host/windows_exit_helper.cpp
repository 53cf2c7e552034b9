// A host that ends with an instance still open, for the Windows lifecycle test. It loads the plug-in
// named by LUMISERE_PLUGIN, watches its GDI+ calls, creates an instance and then, without effClose:
//   exit   returns from main, so the process ends with the library loaded;
//   free   frees the library.
// Exit codes: 0 done with no GDI+ shutdown after that point; 3 GdiplusShutdown was called after it;
// 2 the plug-in could not be loaded or watched; 1 bad usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin_library.h"
#include "windows_gdiplus_spy.h"

namespace {

constexpr UINT kSawShutdown = 3;

bool gEnding = false;

void failIfEnding() {
    // Leave at once: whatever the unload hook meant to do next must not hide this.
    if (gEnding) TerminateProcess(GetCurrentProcess(), kSawShutdown);
}

}  // namespace

int main(int argc, char** argv) {
    const bool freeFirst = argc == 2 && std::strcmp(argv[1], "free") == 0;
    if (argc != 2 || (!freeFirst && std::strcmp(argv[1], "exit") != 0)) {
        std::fprintf(stderr, "usage: plugin_exit_helper exit|free\n");
        return 1;
    }
    const char* path = std::getenv("LUMISERE_PLUGIN");
    HMODULE module = path != nullptr ? LoadLibraryA(path) : nullptr;
    if (module == nullptr || !lumisere::test::spyOnGdiplus(module)) {
        std::fprintf(stderr, "plugin_exit_helper: cannot load and watch %s\n", path != nullptr ? path : "(unset)");
        return 2;
    }
    auto entry = reinterpret_cast<VstPluginMainProc>(reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
    AEffect* effect = entry != nullptr ? entry(lumisere::host::stubHostCallback) : nullptr;
    if (effect == nullptr || lumisere::test::gGdiplusCalls.startups != 1) {
        std::fprintf(stderr, "plugin_exit_helper: the instance did not start GDI+\n");
        return 2;
    }
    lumisere::host::dispatch(effect, effOpen);

    lumisere::test::gOnGdiplusShutdown = failIfEnding;
    gEnding = true;
    if (freeFirst) FreeLibrary(module);
    return 0;
}
