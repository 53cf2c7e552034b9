// The library's only exports: VSTPluginMain, and the same routine as `main` for older hosts.
#include "platform/vst_host.h"
#include "plugin/plugin_instance.h"

#if defined(_WIN32)
#define LUMISERE_EXPORT
#else
#define LUMISERE_EXPORT __attribute__((visibility("default")))
#endif

// [ui thread] One call per instance the host wants; null when the callback is null.
extern "C" LUMISERE_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    return lumisere::createInstance(host);
}

#if !defined(_WIN32)
// Older Linux hosts look the entry point up as `main`; the .def file aliases it on Windows.
extern "C" LUMISERE_EXPORT AEffect* VSTCALLBACK vstPluginMainAlias(audioMasterCallback host) __asm__("main");
extern "C" AEffect* VSTCALLBACK vstPluginMainAlias(audioMasterCallback host) { return lumisere::createInstance(host); }
#endif
