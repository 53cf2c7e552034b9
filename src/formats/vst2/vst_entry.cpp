// The library's only exports: VSTPluginMain, and the same routine under the name `main` for older
// hosts (aliased by the .def file on Windows and by a symbol alias elsewhere).
#include "formats/module/host_entry.h"
#include "formats/vst2/vst2_instance.h"
#include "formats/vst2/vst_host.h"

#if defined(_WIN32)
#define LUMISERE_EXPORT
#else
#define LUMISERE_EXPORT __attribute__((visibility("default")))
#endif

// [ui thread] One call per instance the host wants; null when the callback is null.
extern "C" LUMISERE_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    const lumisere::HostEntryGuard masked;
    return lumisere::vst2::createInstance(host);
}

// A program that links the entry point in, like the command-line tool, has a main of its own.
#if !defined(_WIN32) && !defined(LUMISERE_ENTRY_WITHOUT_MAIN_ALIAS)
extern "C" LUMISERE_EXPORT AEffect* VSTCALLBACK vstPluginMainAlias(audioMasterCallback host) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
#endif
