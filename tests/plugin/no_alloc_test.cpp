// The format entries allocate nothing while they process: the VST 2.x process entry and the LV2
// instance's run, and a long session through the VST 2.x entry (the allocation counter of tests/kit;
// the audio core's own check is in tests/dsp/process_block_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "allocation_counter.h"
#include "formats/lv2/lv2_instance.h"
#include "formats/vst2/vst2_instance.h"
#include "test_random.h"
#include "vst2_test_host.h"

namespace lumisere {
namespace {

using namespace vst2;
using test::allocationsDuring;

TEST(Realtime, ProcessingAllocatesNothing) {
    const signals::StereoSignal in = signals::speechLikeSignal(48000.0, 1.0, 41u);
    std::vector<float> outL(in.left.size()), outR(in.right.size());
    const int total = static_cast<int>(in.left.size());

    // Through the plug-in's process entry: processing, bypass, an empty block.
    test::Vst2Effect effect(createInstance);
    const long vst2 = allocationsDuring([&] {
        for (int at = 0, n = 0; at < total; at += 256, ++n) {
            effect->setParameter(effect, kParamBypass, n % 7 == 3 ? 1.0f : 0.0f);
            effect->setParameter(effect, kParamFocusFreq, static_cast<float>(n % 13) / 13.0f);
            const int frames = n % 11 == 5 ? 0 : std::min(256, total - at);
            float* inputs[] = {const_cast<float*>(in.left.data()) + at, const_cast<float*>(in.right.data()) + at};
            float* outputs[] = {outL.data() + at, outR.data() + at};
            effect->processReplacing(effect, inputs, outputs, frames);
        }
    });
    EXPECT_EQ(vst2, 0);

    // Through the LV2 instance, with control values that change every run and so are read as the
    // decimals they name, a NaN and switches among them.
    lv2::Lv2Instance lv2Instance(48000.0);
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

// A long run as a session in a host goes: speech and digital silence by turns, every parameter
// automated, rate changes, suspend and resume, bypass, block sizes from 1 to 2048 frames. Throughout:
// no allocation, every processed sample finite and within the clip, every pass-through exact, the
// meters finite; and the meters are never stuck: silence lets the peaks and the de-esser's meter fall
// away, speech brings the peaks back. LUMISERE_SOAK_SECONDS sets the audio time (300 s by default;
// the native check also runs two hours).
namespace lumisere {
namespace {

using test::allocationsDuring;

TEST(Soak, HoursOfAutomatedAudioStayBoundedAllocationFreeAndAlive) {
    const char* wanted = std::getenv("LUMISERE_SOAK_SECONDS");
    const double seconds = wanted != nullptr ? std::atof(wanted) : 300.0;
    ASSERT_GT(seconds, 0.0);
    const signals::StereoSignal speech = signals::speechLikeSignal(48000.0, 20.0, 77u);
    const std::size_t loop = speech.left.size();
    constexpr int kSegmentSeconds = 10;  // speech and silence take turns
    const float kRates[] = {44100.0f, 48000.0f, 96000.0f, 88200.0f, 22050.0f, 192000.0f};

    test::Vst2Effect effect(vst2::createInstance);
    ASSERT_NE(effect.get(), nullptr);
    const Processor& fx = *vst2::processorOf(effect);
    test::TestRandom random{2024u};
    std::vector<float> inL(2048), inR(2048), outL(2048), outR(2048);
    float rate = 48000.0f;
    bool suspended = false;
    double audioSeconds = 0.0;
    std::size_t at = 0;
    long badSamples = 0, badPassThrough = 0, badMeters = 0, stuckSilences = 0, deadSpeeches = 0;
    long silences = 0, speeches = 0;
    int segment = 0;
    double segmentStart = 0.0;
    bool segmentActive = true;  // processing ran through the segment's last seconds

    const long allocations = allocationsDuring([&] {
        while (audioSeconds < seconds) {
            // Automation: a parameter or two move every block; now and then the rate, the mains, bypass.
            for (int n = random.below(3); n > 0; --n) {
                const int index = random.below(kParamBypass);
                effect->setParameter(effect, index, random.unit());
            }
            const int event = random.below(400);
            if (event == 0) {
                rate = kRates[random.below(6)];
                effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, rate);
            } else if (event == 1) {
                suspended = !suspended;
                effect->dispatcher(effect, effMainsChanged, 0, suspended ? 0 : 1, nullptr, 0.0f);
            } else if (event == 2) {
                effect->setParameter(effect, kParamBypass, effect->getParameter(effect, kParamBypass) > 0.5f ? 0.0f : 1.0f);
            }
            const bool bypass = isSwitchOn(effect->getParameter(effect, kParamBypass));
            const bool processing = !suspended && !bypass;

            const bool speaking = segment % 2 == 0;
            const int frames = 1 + random.below(2048);
            for (int i = 0; i < frames; ++i) {
                inL[static_cast<std::size_t>(i)] = speaking ? speech.left[at] : 0.0f;
                inR[static_cast<std::size_t>(i)] = speaking ? speech.right[at] : 0.0f;
                at = (at + 1) % loop;
            }
            float* in[] = {inL.data(), inR.data()};
            float* out[] = {outL.data(), outR.data()};
            effect->processReplacing(effect, in, out, frames);
            for (int i = 0; i < frames; ++i) {
                const auto k = static_cast<std::size_t>(i);
                if (processing) {
                    badSamples += !(std::fabs(outL[k]) <= 0.98f) + !(std::fabs(outR[k]) <= 0.98f);
                } else {
                    badPassThrough += (outL[k] != inL[k]) + (outR[k] != inR[k]);
                }
            }
            for (int m = 0; m < kNumMeters; ++m) badMeters += !std::isfinite(fx.meter(m));

            audioSeconds += frames / static_cast<double>(fx.sampleRate());
            // The last two seconds of a segment must have been processed for its verdict to count.
            if (audioSeconds - segmentStart > kSegmentSeconds - 2 && !processing) segmentActive = false;
            if (audioSeconds - segmentStart >= kSegmentSeconds) {
                if (segmentActive && speaking) {
                    ++speeches;
                    deadSpeeches += !(fx.meter(kMeterOutPeakL) > 0.001f || fx.meter(kMeterOutPeakR) > 0.001f);
                } else if (segmentActive) {
                    ++silences;
                    stuckSilences += !(fx.meter(kMeterOutPeakL) < 1e-6f && fx.meter(kMeterOutPeakR) < 1e-6f &&
                                       fx.meter(kMeterDeEssReduction) < 1e-6f);
                }
                ++segment;
                segmentStart = audioSeconds;
                segmentActive = true;
            }
        }
    });
    effect.close();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(badSamples, 0);
    EXPECT_EQ(badPassThrough, 0);
    EXPECT_EQ(badMeters, 0);
    EXPECT_EQ(stuckSilences, 0) << "of " << silences << " silences";
    EXPECT_EQ(deadSpeeches, 0) << "of " << speeches << " speech segments";
    EXPECT_GT(silences, 0);
    EXPECT_GT(speeches, 0);
    std::printf("soak: %.0f s of audio, %ld speech and %ld silent segments judged\n", audioSeconds, speeches, silences);
}

}  // namespace
}  // namespace lumisere
