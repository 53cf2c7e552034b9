// The library's only export: clap_entry, with the plug-in factory behind it.
#include <cstring>
#include <new>

#include "formats/clap/clap_abi.h"
#include "formats/clap/clap_plugin.h"
#include "formats/module/host_entry.h"
#include "formats/module/library.h"

namespace lumisere::clap {

namespace {


std::uint32_t CLAP_ABI pluginCount(const clap_plugin_factory_t* factory) {  // [thread-safe]
    return factory == nullptr ? 0 : 1;
}

const clap_plugin_descriptor_t* CLAP_ABI pluginDescriptor(const clap_plugin_factory_t* factory,
                                                          std::uint32_t index) {  // [thread-safe]
    return factory == nullptr || index != 0 ? nullptr : &kDescriptor;
}

// [thread-safe] Null for another id, a null host or a host of an incompatible CLAP version.
const clap_plugin_t* CLAP_ABI createPlugin(const clap_plugin_factory_t* factory, const clap_host_t* host,
                                           const char* id) {
    const HostEntryGuard masked;
    if (factory == nullptr || host == nullptr || id == nullptr || std::strcmp(id, kDescriptor.id) != 0 ||
        !clapVersionIsCompatible(host->clap_version)) {
        return nullptr;
    }
    auto* plugin = new (std::nothrow) Plugin(host);
    if (plugin == nullptr) return nullptr;
    instanceCreated();
    return plugin->record();
}

const clap_plugin_factory_t kFactory{pluginCount, pluginDescriptor, createPlugin};

// [main-thread] Nothing to set up: the library's state starts with the first instance.
bool CLAP_ABI entryInit(const char*) { return true; }

void CLAP_ABI entryDeinit() {}  // [main-thread]

const void* CLAP_ABI entryFactory(const char* id) {  // [thread-safe]
    return id != nullptr && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace

}  // namespace lumisere::clap

#if defined(_WIN32)
#define LUMISERE_EXPORT  // lumisere.def names the export
#else
#define LUMISERE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LUMISERE_EXPORT const clap_plugin_entry_t clap_entry{
    kClapVersion, lumisere::clap::entryInit, lumisere::clap::entryDeinit, lumisere::clap::entryFactory};
