// What the plug-in leaves in its host's process: no memory after many loads and unloads of any of its
// binaries (the VST 2.x library, the LV2 plug-in and its UI), no trace of a binary once it is closed,
// and the floating-point mode around a process call exactly as the
// host had it, even a host that runs with floating-point exceptions unmasked.
#include <dlfcn.h>
#include <fenv.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <malloc.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "formats/vst2/vst_host.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {

std::string pluginPath() {
    const char* path = std::getenv("LUMISERE_PLUGIN");
    return path != nullptr ? path : "";
}

VstIntPtr VSTCALLBACK silentHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstIntPtr value = 0, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, 0, value, nullptr, opt);
}

// Bytes the process has taken from malloc and not given back.
std::size_t bytesInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Loads a binary and finds its export as a host does; null (and a failure) when either fails.
template <typename Entry>
Entry loadExport(const std::string& path, const char* name, void*& library) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        ADD_FAILURE() << dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<Entry>(dlsym(library, name));
    if (entry == nullptr) ADD_FAILURE() << "no " << name << " in " << path;
    return entry;
}

// Loads the library and opens an instance as a host does; null (and a failure) when either fails.
AEffect* loadAndOpen(const std::string& path, void*& library) {
    auto entry = loadExport<VstPluginMainProc>(path, "VSTPluginMain", library);
    AEffect* effect = entry != nullptr ? entry(silentHost) : nullptr;
    if (effect == nullptr) {
        ADD_FAILURE() << "VSTPluginMain gave no instance";
        return nullptr;
    }
    dispatch(effect, effOpen);
    return effect;
}

// Cycles of a plug-in scanner, one per binary: load, open an instance, close it, unload.
void loadOpenCloseUnload(const std::string& path) {
    void* library = nullptr;
    AEffect* effect = loadAndOpen(path, library);
    ASSERT_NE(effect, nullptr);
    dispatch(effect, effClose);
    ASSERT_EQ(dlclose(library), 0);
}

void lv2InstantiateCleanup(const std::string& path) {
    void* library = nullptr;
    auto entry = loadExport<LV2_Descriptor_Function>(path, "lv2_descriptor", library);
    ASSERT_NE(entry, nullptr);
    const LV2_Descriptor* plugin = entry(0);
    ASSERT_NE(plugin, nullptr);
    LV2_Handle instance = plugin->instantiate(plugin, 48000.0, "", nullptr);
    ASSERT_NE(instance, nullptr);
    plugin->cleanup(instance);
    ASSERT_EQ(dlclose(library), 0);
}

// The UI without a display: asked for an editor with no parent window, it refuses (the editor's
// windows are the X11 tests' concern), so the cycle holds what every load of the module brings.
void lv2UiRefusedWithoutParent(const std::string& path) {
    void* library = nullptr;
    auto entry = loadExport<LV2UI_DescriptorFunction>(path, "lv2ui_descriptor", library);
    ASSERT_NE(entry, nullptr);
    const LV2UI_Descriptor* ui = entry(0);
    ASSERT_NE(ui, nullptr);
    const LV2UI_Write_Function write = [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
    LV2UI_Widget widget = nullptr;
    const LV2_Feature* const noFeatures[] = {nullptr};
    EXPECT_EQ(ui->instantiate(ui, "https://ostrel-audio.example/plugins/lumisere", "", write, nullptr, &widget,
                              noFeatures),
              nullptr);
    ASSERT_EQ(dlclose(library), 0);
}

struct ScannedBinary {
    const char* name;
    std::string path;
    void (*cycle)(const std::string& path);
};

std::vector<ScannedBinary> scannedBinaries() {
    return {{"vst2", pluginPath(), loadOpenCloseUnload},
            {"lv2_plugin", LUMISERE_LV2_PLUGIN_PATH, lv2InstantiateCleanup},
            {"lv2_ui", LUMISERE_LV2_UI_PATH, lv2UiRefusedWithoutParent}};
}

void PrintTo(const ScannedBinary& binary, std::ostream* out) { *out << binary.name; }

class ScannedBinaryTest : public testing::TestWithParam<ScannedBinary> {};

// A scanner loads and unloads a plug-in binary hundreds of times. Each cycle once left the C++
// runtime's 72 KiB exception pool behind (and pixman's fast-path tables, 12 KiB); 300 cycles would
// then hold over 24 MiB.
TEST_P(ScannedBinaryTest, LoadingAndUnloadingLeavesNoMemoryAndNoLibrary) {
    const ScannedBinary& binary = GetParam();
    ASSERT_FALSE(binary.path.empty()) << "LUMISERE_PLUGIN names the plug-in library to load";
    // The first cycles load what stays for the life of the process (libraries the binary pins).
    for (int i = 0; i < 5; ++i) binary.cycle(binary.path);
    EXPECT_EQ(dlopen(binary.path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the binary stays loaded after dlclose";

    constexpr int kCycles = 300;
    const std::size_t before = bytesInUse();
    for (int i = 0; i < kCycles; ++i) binary.cycle(binary.path);
    const std::size_t after = bytesInUse();
    // Allocator bookkeeping may move a little; a leak of even 1 KiB a cycle would show as 300 KiB.
    EXPECT_LT(after, before + 64 * 1024) << "grew by " << (after - before) / kCycles << " bytes a cycle";
}

INSTANTIATE_TEST_SUITE_P(EveryBinary, ScannedBinaryTest, testing::ValuesIn(scannedBinaries()),
                         [](const testing::TestParamInfo<ScannedBinary>& param) { return param.param.name; });

// The caller's floating-point environment as far as the plug-in could change it.
struct FloatingPointMode {
    fenv_t env;
    int flags;
#if defined(__x86_64__) || defined(__i386__)
    unsigned mxcsr;
    unsigned short x87Control;
#endif

    static FloatingPointMode read() {
        FloatingPointMode mode{};
        fegetenv(&mode.env);
        mode.flags = fetestexcept(FE_ALL_EXCEPT);
#if defined(__x86_64__) || defined(__i386__)
        mode.mxcsr = _mm_getcsr();
        asm volatile("fnstcw %0" : "=m"(mode.x87Control));
#endif
        return mode;
    }
};

void expectSameMode(const FloatingPointMode& a, const FloatingPointMode& b) {
    EXPECT_EQ(a.flags, b.flags);
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(a.mxcsr, b.mxcsr);
    EXPECT_EQ(a.x87Control, b.x87Control);
#else
    EXPECT_EQ(std::memcmp(&a.env, &b.env, sizeof a.env), 0);
#endif
}

// A debug build of a host unmasks the exceptions that flag its own mistakes. Audio at the extremes
// must not trap inside the plug-in, and the host's mode must come back exactly, flags included.
TEST(HostProcess, ProcessingTrapsNothingAndRestoresTheCallersFloatingPointMode) {
    const std::string path = pluginPath();
    ASSERT_FALSE(path.empty()) << "LUMISERE_PLUGIN names the plug-in library to load";
    void* library = nullptr;
    AEffect* effect = loadAndOpen(path, library);
    ASSERT_NE(effect, nullptr);
    dispatch(effect, effSetSampleRate, 0, 44100.0f);
    dispatch(effect, effSetBlockSize, 64);
    dispatch(effect, effMainsChanged, 1);

    constexpr float kInf = std::numeric_limits<float>::infinity();
    const std::vector<float> extremes = {std::nanf(""), kInf, -kInf, 1e36f, -1e36f, FLT_MAX, -FLT_MAX,
                                         1e-40f, -FLT_MIN / 4, FLT_MIN, 0.0f, 1.0f, -1.0f, 0.5f};
    std::vector<float> inL(64), inR(64), outL(64), outR(64);
    for (std::size_t i = 0; i < inL.size(); ++i) {
        inL[i] = extremes[i % extremes.size()];
        inR[i] = extremes[(i * 5 + 3) % extremes.size()];
    }
    float* inputs[] = {inL.data(), inR.data()};
    float* outputs[] = {outL.data(), outR.data()};

    // Every exception but inexact unmasked, rounding toward zero, and a flag of the caller's own.
    feclearexcept(FE_ALL_EXCEPT);
    const int trapping = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
    const bool unmasked = feenableexcept(trapping) != -1;
    fesetround(FE_TOWARDZERO);
    feraiseexcept(FE_INEXACT);
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() & ~0x0100u);  // the denormal-operand exception too
#endif
    const FloatingPointMode caller = FloatingPointMode::read();
    // Several settings, so the wet and dry paths, the trim and the shaper all see the extremes.
    for (const float setting : {0.0f, 0.5f, 1.0f}) {
        for (VstInt32 i = 0; i < effect->numParams; ++i) {
            if (i != effect->numParams - 1) effect->setParameter(effect, i, setting);  // bypass stays off
        }
        for (int block = 0; block < 8; ++block) {
            effect->processReplacing(effect, inputs, outputs, 64);
            expectSameMode(FloatingPointMode::read(), caller);
        }
    }
    fesetround(FE_TONEAREST);
    if (unmasked) fedisableexcept(trapping);
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() | 0x0100u);
#endif
    feclearexcept(FE_ALL_EXCEPT);

    dispatch(effect, effMainsChanged, 0);
    dispatch(effect, effClose);
    dlclose(library);
}

}  // namespace
