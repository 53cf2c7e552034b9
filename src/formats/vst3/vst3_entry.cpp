// The module's exports: GetPluginFactory, which every host calls first, and the module's own
// load and unload calls (ModuleEntry and ModuleExit on Linux, InitDll and ExitDll on Windows).
// The factory lists one class, the effect, and makes its instances.
#include <cstring>

#include "formats/module/host_entry.h"
#include "formats/vst3/vst3_plugin.h"
#include "formats/module/identity.h"
#include "formats/module/version.h"

#if defined(_WIN32)
#define LUMISERE_EXPORT
#else
#define LUMISERE_EXPORT __attribute__((visibility("default")))
#endif

namespace lumisere::vst3 {

namespace {

constexpr char kVendorUrl[] = "https://ostrel-audio.example";
constexpr char kSdkVersion[] = "VST 3.7.14";

template <std::size_t N>
void copyField(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

// One factory for the life of the module; hosts' references to it count nothing.
class Factory final : public IPluginFactory2 {
public:
    tresult LUMISERE_VST3_CALL queryInterface(const char* iid, void** object) override {
        if (object == nullptr) return kInvalidArgument;
        *object = nullptr;
        if (!(kIidFUnknown == iid || kIidIPluginFactory == iid || kIidIPluginFactory2 == iid)) return kNoInterface;
        *object = static_cast<IPluginFactory2*>(this);
        return kResultOk;
    }
    uint32 LUMISERE_VST3_CALL addRef() override { return 1; }
    uint32 LUMISERE_VST3_CALL release() override { return 1; }

    tresult LUMISERE_VST3_CALL getFactoryInfo(PFactoryInfo* info) override {
        if (info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        copyField(info->vendor, kVendorName);
        copyField(info->url, kVendorUrl);
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }
    int32 LUMISERE_VST3_CALL countClasses() override { return 1; }
    tresult LUMISERE_VST3_CALL getClassInfo(int32 index, PClassInfo* info) override {
        return describe(index, info);
    }
    tresult LUMISERE_VST3_CALL getClassInfo2(int32 index, PClassInfo2* info) override {
        const tresult result = describe(index, info);
        if (result == kResultOk) {
            copyField(info->subCategories, kEffectSubCategories);
            copyField(info->vendor, kVendorName);
            copyField(info->version, kVersionText);
            copyField(info->sdkVersion, kSdkVersion);
        }
        return result;
    }
    tresult LUMISERE_VST3_CALL createInstance(FIDString cid, FIDString iid, void** object) override {
        const HostEntryGuard masked;
        if (object == nullptr) return kInvalidArgument;
        *object = nullptr;
        if (!(kEffectClassId == cid)) return kNoInterface;
        Effect* effect = createEffect();
        if (effect == nullptr) return kOutOfMemory;
        const tresult result = effect->queryInterface(iid, object);
        effect->release();
        return result;
    }

private:
    // The fields both kinds of class information share.
    template <typename Info>
    static tresult describe(int32 index, Info* info) {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kEffectClassId.bytes, 16);
        info->cardinality = kManyInstances;
        copyField(info->category, kAudioEffectClass);
        copyField(info->name, kEffectName);
        return kResultOk;
    }
};

Factory gFactory;

}  // namespace

}  // namespace lumisere::vst3

extern "C" {

LUMISERE_EXPORT lumisere::vst3::IPluginFactory* LUMISERE_VST3_CALL GetPluginFactory() {
    return &lumisere::vst3::gFactory;
}

// Nothing to set up or take down beyond what the module's loader hooks do.
#if defined(_WIN32)
LUMISERE_EXPORT bool InitDll() { return true; }
LUMISERE_EXPORT bool ExitDll() { return true; }
#else
LUMISERE_EXPORT bool ModuleEntry(void*) { return true; }
LUMISERE_EXPORT bool ModuleExit() { return true; }
#endif
}
