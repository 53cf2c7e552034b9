// What the plug-in leaves in its host's process: no memory after many loads and unloads, no trace of
// the library once it is closed, and the floating-point mode around a process call exactly as the
// host had it, even a host that runs with floating-point exceptions unmasked.
#include <dlfcn.h>
#include <fenv.h>
#include <gtest/gtest.h>
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

// Loads the library and opens an instance as a host does; null (and a failure) when either fails.
AEffect* loadAndOpen(const std::string& path, void*& library) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        ADD_FAILURE() << dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<VstPluginMainProc>(dlsym(library, "VSTPluginMain"));
    AEffect* effect = entry != nullptr ? entry(silentHost) : nullptr;
    if (effect == nullptr) {
        ADD_FAILURE() << "VSTPluginMain gave no instance";
        return nullptr;
    }
    dispatch(effect, effOpen);
    return effect;
}

// One cycle of a plug-in scanner: load, open an instance, close it, unload.
void loadOpenCloseUnload(const std::string& path) {
    void* library = nullptr;
    AEffect* effect = loadAndOpen(path, library);
    ASSERT_NE(effect, nullptr);
    dispatch(effect, effClose);
    ASSERT_EQ(dlclose(library), 0);
}

// A scanner loads and unloads a plug-in library hundreds of times. Each cycle once left the C++
// runtime's 72 KiB exception pool behind (and pixman's fast-path tables, 12 KiB); 300 cycles would
// then hold over 24 MiB.
TEST(HostProcess, LoadingAndUnloadingLeavesNoMemoryAndNoLibrary) {
    const std::string path = pluginPath();
    ASSERT_FALSE(path.empty()) << "LUMISERE_PLUGIN names the plug-in library to load";
    // The first cycles load what stays for the life of the process (libraries the plug-in pins).
    for (int i = 0; i < 5; ++i) loadOpenCloseUnload(path);
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library stays loaded after dlclose";

    constexpr int kCycles = 300;
    const std::size_t before = bytesInUse();
    for (int i = 0; i < kCycles; ++i) loadOpenCloseUnload(path);
    const std::size_t after = bytesInUse();
    // Allocator bookkeeping may move a little; a leak of even 1 KiB a cycle would show as 300 KiB.
    EXPECT_LT(after, before + 64 * 1024) << "grew by " << (after - before) / kCycles << " bytes a cycle";
}

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
