// Processing allocates nothing: this binary counts every heap allocation made while a process call
// runs, through operator new and, where the C library lets a program replace it, malloc itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "dsp/process_block.h"
#include "plugin/lv2/plugin_instance.h"
#include "plugin/vst2/plugin_instance.h"
#include "speech_like_signal.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void noteAllocation() {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
}

// Counts the allocations made while `work` runs.
template <typename Work>
long allocationsDuring(Work work) {
    gAllocations.store(0);
    gCounting.store(true);
    work();
    gCounting.store(false);
    return gAllocations.load();
}

}  // namespace

void* operator new(std::size_t size) {
    noteAllocation();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    noteAllocation();
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
// The replaced operator new takes its memory from malloc, so free is the matching release; the
// compiler cannot see that pairing across the replacement and would warn about it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// malloc and friends are replaced where glibc allows it; the sanitizers bring their own, so there only
// operator new is counted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    noteAllocation();
    return __libc_realloc(p, size);
}
}
#define LUMISERE_COUNTS_MALLOC 1
#endif

namespace lumisere {
namespace {

using namespace vst2;

VstIntPtr VSTCALLBACK silentHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

TEST(Realtime, TheCountingSeesAllocations) {
    // The counter itself works: a vector allocates.
    EXPECT_GE(allocationsDuring([] { std::vector<int> v(100); }), 1);
#ifdef LUMISERE_COUNTS_MALLOC
    EXPECT_EQ(allocationsDuring([] { std::free(std::malloc(16)); }), 1);
#endif
}

TEST(Realtime, ProcessingAllocatesNothing) {
    const bench::StereoSignal in = bench::speechLikeSignal(48000.0, 1.0, 41u);
    std::vector<float> outL(in.left.size()), outR(in.right.size());
    const int total = static_cast<int>(in.left.size());

    // The audio core itself, with a rate change and a focus change on the way.
    dsp::DspState state;
    dsp::BlockSettings settings = defaultBlockSettings();
    const long core = allocationsDuring([&] {
        for (int at = 0, n = 0; at < total; at += 512, ++n) {
            settings.sampleRate = n < 40 ? 44100.0 : 48000.0;
            settings.focusHz = n % 10 < 5 ? 6800.0 : 9000.0;
            const int frames = std::min(512, total - at);
            const float* inputs[] = {in.left.data() + at, in.right.data() + at};
            float* outputs[] = {outL.data() + at, outR.data() + at};
            dsp::processBlock(state, settings, inputs, outputs, frames);
        }
    });
    EXPECT_EQ(core, 0);

    // Through the plug-in's process entry: processing, bypass, an empty block.
    AEffect* effect = createInstance(silentHost);
    const long shell = allocationsDuring([&] {
        for (int at = 0, n = 0; at < total; at += 256, ++n) {
            effect->setParameter(effect, kParamBypass, n % 7 == 3 ? 1.0f : 0.0f);
            effect->setParameter(effect, kParamFocusFreq, static_cast<float>(n % 13) / 13.0f);
            const int frames = n % 11 == 5 ? 0 : std::min(256, total - at);
            float* inputs[] = {const_cast<float*>(in.left.data()) + at, const_cast<float*>(in.right.data()) + at};
            float* outputs[] = {outL.data() + at, outR.data() + at};
            effect->processReplacing(effect, inputs, outputs, frames);
        }
    });
    EXPECT_EQ(shell, 0);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);

    // Through the LV2 instance, with control values that change every run and so are read as the
    // decimals they name, a NaN and switches among them.
    lv2::PluginInstance lv2Instance(48000.0);
    float controls[kNumParams];
    float reductions[2];
    for (int i = 0; i < kNumParams; ++i) lv2Instance.connectPort(lv2::paramPort(i), &controls[i]);
    lv2Instance.connectPort(lv2::kPortDeEssReduction, &reductions[0]);
    lv2Instance.connectPort(lv2::kPortGateReduction, &reductions[1]);
    lv2Instance.activate();
    const long lv2Run = allocationsDuring([&] {
        for (int at = 0, n = 0; at < total; at += 256, ++n) {
            for (int i = 0; i < kNumParams; ++i) controls[i] = static_cast<float>(paramUnits(i, (n % 17) / 16.0));
            controls[kParamDipsesThresh] = n % 5 == 0 ? std::numeric_limits<float>::quiet_NaN() : -54.8f + static_cast<float>(n % 50) * 0.1f;
            controls[kParamBypass] = n % 7 == 3 ? 1.0f : 0.0f;
            const int frames = n % 11 == 5 ? 0 : std::min(256, total - at);
            lv2Instance.connectPort(lv2::kPortInL, const_cast<float*>(in.left.data()) + at);
            lv2Instance.connectPort(lv2::kPortInR, const_cast<float*>(in.right.data()) + at);
            lv2Instance.connectPort(lv2::kPortOutL, outL.data() + at);
            lv2Instance.connectPort(lv2::kPortOutR, outR.data() + at);
            lv2Instance.run(static_cast<std::uint32_t>(frames));
        }
    });
    EXPECT_EQ(lv2Run, 0);
    lv2Instance.deactivate();
}

}  // namespace
}  // namespace lumisere
