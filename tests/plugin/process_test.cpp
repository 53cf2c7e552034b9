// Audio through the plug-in instance: the figures of a fresh instance, the meters' block smoothing,
// pass-through when bypassed or suspended, and listen mode with nothing to hear.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/vst2/vst2_instance.h"
#include "vst2_test_host.h"

namespace lumisere {
namespace {

using namespace vst2;

struct Instance : ::testing::Test {
    test::Vst2Effect effect{createInstance};
    Processor& fx = vst2::Vst2Instance::fromEffect(effect)->processor;

    // One block with the given left and right samples; returns the outputs.
    std::vector<float> process(std::vector<float> left, std::vector<float> right) {
        std::vector<float> outL(left.size()), outR(right.size());
        float* in[] = {left.data(), right.data()};
        float* out[] = {outL.data(), outR.data()};
        effect->processReplacing(effect, in, out, static_cast<VstInt32>(left.size()));
        outL.insert(outL.end(), outR.begin(), outR.end());
        return outL;
    }
    std::vector<float> meters() const {
        return {fx.meter(kMeterOutPeakL), fx.meter(kMeterOutPeakR), fx.meter(kMeterDeEssReduction),
                fx.meter(kMeterGateReduction)};
    }
};

TEST_F(Instance, OneFrameOfHalfFromCreation) {
    // The de-esser and the gate leave the sample as it came; the air band adds about 0.0103.
    const std::vector<float> out = process({0.5f}, {0.5f});
    EXPECT_NEAR(out[0], 0.51029402f, 1e-8f);
    EXPECT_EQ(out[1], out[0]);
    const std::vector<float> m = meters();
    EXPECT_NEAR(m[0], 0.07654411f, 1e-8f);
    EXPECT_EQ(m[1], m[0]);
    EXPECT_EQ(m[2], 0.0f);
    EXPECT_EQ(m[3], 0.0f);
}

TEST_F(Instance, OneFrameOfHalfWithoutAir) {
    effect->setParameter(effect, kParamAirSilk, 0.0f);
    const std::vector<float> out = process({0.5f}, {0.5f});
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[1], 0.5f);
    EXPECT_EQ(meters(), (std::vector<float>{0.5f * 0.15f, 0.5f * 0.15f, 0.0f, 0.0f}));
    EXPECT_NEAR(fx.meter(kMeterOutPeakL), 0.075f, 1e-8f);
}

TEST_F(Instance, AnEmptyBlockDecaysEachMeterByItsFactor) {
    // Loud noise, which the de-esser takes for sibilance, then silence, which the gate lowers:
    // every meter moves.
    std::vector<float> left(16384, 0.0f);
    std::uint32_t noise = 99u;
    for (std::size_t i = 0; i < 2048; ++i) {
        noise = noise * 1664525u + 1013904223u;
        left[i] = 0.6f * (static_cast<float>(noise >> 8) / 8388608.0f - 1.0f);
    }
    const std::vector<float> right = left;
    effect->setParameter(effect, kParamDeEssThresh, 0.0f);
    process(left, right);
    const std::vector<float> before = meters();
    for (float m : before) ASSERT_GT(m, 0.0f);

    float untouched = 3.0f;
    float* buffer[] = {&untouched, &untouched};
    effect->processReplacing(effect, buffer, buffer, 0);
    EXPECT_EQ(untouched, 3.0f);
    const std::vector<float> after = meters();
    EXPECT_EQ(after[0], before[0] * 0.85f);
    EXPECT_EQ(after[1], before[1] * 0.85f);
    EXPECT_EQ(after[2], before[2] * 0.82f);
    EXPECT_EQ(after[3], before[3] * 0.85f);
}

TEST_F(Instance, AClippedNegativePeakCountsByItsMagnitude) {
    const std::vector<float> out = process({-1.0f}, {0.0f});
    EXPECT_EQ(out[0], -0.98f);
    EXPECT_EQ(fx.meter(kMeterOutPeakL), 0.98f * 0.15f);
    EXPECT_NEAR(fx.meter(kMeterOutPeakL), 0.147f, 1e-7f);
}

TEST_F(Instance, BypassIsOnOnlyAboveOneHalf) {
    effect->setParameter(effect, kParamBypass, 0.5f);
    EXPECT_NEAR(process({0.5f}, {0.5f})[0], 0.51029402f, 1e-8f);

    AEffect* other = createInstance(test::stubHostCallback);
    Vst2Instance& bypassed = *Vst2Instance::fromEffect(other);
    other->setParameter(other, kParamBypass, 0.5000001f);
    float left = 0.5f, right = -0.25f, outL = 0.0f, outR = 0.0f;
    float* in[] = {&left, &right};
    float* out[] = {&outL, &outR};
    other->processReplacing(other, in, out, 1);
    EXPECT_EQ(outL, 0.5f);
    EXPECT_EQ(outR, -0.25f);
    EXPECT_EQ(bypassed.processor.meter(kMeterOutPeakL), 0.0f);
    destroyInstance(&bypassed);
}

TEST_F(Instance, SuspendedLeavesInPlaceBuffersAndStateAlone) {
    process({0.3f, -0.2f}, {0.1f, 0.4f});
    const std::vector<float> metersBefore = meters();
    const double envBefore = fx.audioState().gateEnv;
    const double phaseBefore = fx.audioState().bandAnalyser.phase;

    effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
    float left[3] = {0.25f, std::nanf(""), -7.0f};
    float right[3] = {1.5f, 0.0f, -0.0f};
    unsigned char leftBits[sizeof left], rightBits[sizeof right];
    std::memcpy(leftBits, left, sizeof left);
    std::memcpy(rightBits, right, sizeof right);
    float* io[] = {left, right};
    effect->processReplacing(effect, io, io, 3);
    EXPECT_EQ(std::memcmp(leftBits, left, sizeof left), 0);
    EXPECT_EQ(std::memcmp(rightBits, right, sizeof right), 0);
    EXPECT_EQ(meters(), metersBefore);
    EXPECT_EQ(fx.audioState().gateEnv, envBefore);
    EXPECT_EQ(fx.audioState().bandAnalyser.phase, phaseBefore);
}

TEST_F(Instance, ListenWithNothingDetectedIsSilenceAndTheGateCloses) {
    // A low tone carries nothing in the focus band: the listen output is silence, the gate's input
    // with it, so its envelope decays and the gate closes to its -24 dB floor.
    effect->setParameter(effect, kParamListenSibilance, 1.0f);
    std::vector<float> tone(512);
    float largest = 0.0f;
    for (int block = 0; block < 100; ++block) {
        for (std::size_t i = 0; i < tone.size(); ++i) {
            const double t = static_cast<double>(block * 512 + static_cast<int>(i)) / 44100.0;
            tone[i] = static_cast<float>(0.5 * std::sin(6.283185307179586 * 200.0 * t));
        }
        for (float v : process(tone, tone)) largest = std::max(largest, std::fabs(v));
    }
    EXPECT_EQ(largest, 0.0f);
    EXPECT_EQ(fx.meter(kMeterDeEssReduction), 0.0f);
    EXPECT_NEAR(fx.meter(kMeterGateReduction), 24.0f, 1e-3f);
}

}  // namespace
}  // namespace lumisere
