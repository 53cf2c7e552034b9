// Acts as an LV2 host: loads the bundle's module with dlopen, takes the plug-in from lv2_descriptor and
// drives instances through the descriptor (instantiate, connect_port, activate, run, deactivate,
// cleanup). Audio and reduction ports are checked against a Processor fed the same blocks with the
// normalised values the command-line tool sets for the same settings. First, how a port's value is read.
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "core/processor.h"
#include "formats/lv2/lv2_ports.h"
#include "lv2_test_host.h"
#include "test_signals.h"

namespace lumisere {
namespace {

using lv2::paramPort;
using lv2::portValueToNormalised;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The normalised value the command-line tool sets for a setting typed in the parameter's unit.
float toolValue(int index, const char* text) {
    if (kParams[index].kind == ParamKind::toggle) return std::strtod(text, nullptr) > 0.0 ? 1.0f : 0.0f;
    return static_cast<float>(unitsToNormalised(index, std::strtod(text, nullptr)));
}

TEST(Lv2PortValues, ReadAsTheDecimalsAUserWrites) {
    // Every setting on the grid a user types (0.1 dB, 1 Hz, 0.1 %) gives exactly the normalised value
    // the tool gives for the same text, so a render matches the tool's bit for bit. Reading the float
    // itself misses about half of them (-54.8 dB among them).
    for (int i = 0; i < kNumParams; ++i) {
        if (kParams[i].kind == ParamKind::toggle) continue;
        const double low = std::fmin(paramUnits(i, 0.0), paramUnits(i, 1.0));
        const double high = std::fmax(paramUnits(i, 0.0), paramUnits(i, 1.0));
        const double step = std::strcmp(kParams[i].label, "Hz") == 0 ? 1.0 : 0.1;
        int settings = 0, mismatches = 0;
        for (int k = 0; low + k * step <= high + step / 2; ++k, ++settings) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", low + k * step);
            if (portValueToNormalised(i, std::strtof(text, nullptr)) != toolValue(i, text)) ++mismatches;
        }
        EXPECT_EQ(mismatches, 0) << kParams[i].hostName << ", of " << settings << " settings";
        EXPECT_EQ(clampParam(portValueToNormalised(i, static_cast<float>(paramUnits(i, 0.0)))), 0.0f);
        EXPECT_EQ(portValueToNormalised(i, static_cast<float>(paramUnits(i, 1.0))), 1.0f);
    }
    // The defaults as the Turtle states them come back as the table's defaults.
    for (int i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(portValueToNormalised(i, static_cast<float>(defaultUnits(i))), kParams[i].defaultValue)
            << kParams[i].hostName;
    }
    // Switches as lv2:toggled reads them: above zero is on.
    for (float off : {0.0f, -0.0f, -1.0f, -kInf}) EXPECT_EQ(portValueToNormalised(kParamBypass, off), 0.0f) << off;
    for (float on : {1e-30f, 0.3f, 1.0f, 7.0f, kInf}) EXPECT_EQ(portValueToNormalised(kParamBypass, on), 1.0f) << on;
    // Beyond the range the clamp takes over, whichever way a parameter runs; NaN stays NaN.
    EXPECT_EQ(clampParam(portValueToNormalised(kParamDeEssThresh, 1e30f)), 1.0f);
    EXPECT_EQ(clampParam(portValueToNormalised(kParamNoiseReduce, kInf)), 0.0f);  // floors run 0 to -40 dB
    EXPECT_EQ(clampParam(portValueToNormalised(kParamNoiseReduce, -kInf)), 1.0f);
    EXPECT_TRUE(std::isnan(portValueToNormalised(kParamFocusFreq, kNaN)));
    EXPECT_TRUE(std::isnan(portValueToNormalised(kParamListenSibilance, kNaN)));
}

// An instance of the bundle's plug-in, as a host holds one.
struct HostedInstance : test::Lv2Instance {
    explicit HostedInstance(double sampleRate, const LV2_Feature* const* features = nullptr)
        : Lv2Instance(test::lv2PluginOf(LUMISERE_LV2_MODULE), sampleRate, features) {}
};

// The reference: a processor running at the rate the plug-in was asked for.
struct Reference {
    explicit Reference(double sampleRate) { processor.setSampleRate(static_cast<float>(sampleRate)); }
    void process(const float* inL, const float* inR, float* outL, float* outR, int frames) {
        const float* in[] = {inL, inR};
        float* out[] = {outL, outR};
        processor.process(in, out, frames);
    }
    Processor processor;
};

TEST(Lv2Host, OffersOnePlugInUnderItsUri) {
    const LV2_Descriptor_Function entry = test::lv2EntryOf(LUMISERE_LV2_MODULE);
    ASSERT_NE(entry, nullptr) << LUMISERE_LV2_MODULE;
    ASSERT_NE(entry(0), nullptr);
    EXPECT_STREQ(entry(0)->URI, "https://ostrel-audio.example/plugins/lumisere");
    EXPECT_EQ(entry(1), nullptr);
    EXPECT_EQ(entry(0xffffffffu), nullptr);
    EXPECT_EQ(entry(0)->extension_data("http://lv2plug.in/ns/ext/state#interface"), nullptr);
    EXPECT_EQ(entry(0)->extension_data(nullptr), nullptr);
}

TEST(Lv2Host, RunsBlockByBlockAsTheProcessorDoes) {
    // Varying block sizes (0 and 1 among them), a setting changed every few blocks as a host's
    // automation would, bypass on and off, and the buffers shared as LV2 lets a host share them: a
    // third of the blocks in place, a third with the channels' buffers crossed. Audio and reductions
    // must match the processor's to the bit.
    const signals::StereoSignal in = signals::speechLikeSignal(48000.0, 2.0, 7u);
    const int total = static_cast<int>(in.left.size());
    HostedInstance host(48000.0);
    ASSERT_NE(host.handle, nullptr);
    host.connectControls();
    host.activate();
    Reference reference(48000.0);

    struct Setting {
        int param;
        const char* units;  // as a user types it
    };
    const Setting kChanges[] = {{kParamDeEssThresh, "-36"}, {kParamDipsesThresh, "-44"}, {kParamNoiseReduce, "-40"},
                                {kParamFocusFreq, "7200"},   {kParamAirSilk, "40"},        {kParamOutputTrim, "-1.5"},
                                {kParamListenSibilance, "1"}, {kParamDryWet, "90"},         {kParamListenSibilance, "0"},
                                {kParamBypass, "1"},         {kParamFocusFreq, "9350"},    {kParamBypass, "0"},
                                {kParamDipsesThresh, "-54.8"}};
    const int kBlockSizes[] = {512, 1, 37, 128, 129, 0, 1000, 333};

    std::vector<float> lv2L(in.left.size()), lv2R(in.left.size()), refL(in.left.size()), refR(in.left.size());
    float largestDeEss = 0.0f, largestGate = 0.0f;
    int changes = 0;
    for (int at = 0, n = 0; at < total; ++n) {
        if (n % 5 == 4) {
            const Setting& s = kChanges[changes++ % std::size(kChanges)];
            host.controls[s.param] = std::strtof(s.units, nullptr);
            reference.processor.setParam(s.param, toolValue(s.param, s.units));
        }
        const int frames = std::min(kBlockSizes[n % std::size(kBlockSizes)], total - at);
        if (n % 3 == 2) {  // in place: the host's buffers carry the input and take the output
            std::copy_n(in.left.data() + at, frames, lv2L.data() + at);
            std::copy_n(in.right.data() + at, frames, lv2R.data() + at);
            host.connectAudio(lv2L.data() + at, lv2R.data() + at, lv2L.data() + at, lv2R.data() + at);
        } else if (n % 3 == 1) {  // crossed: the left output is the right input's buffer and back
            std::copy_n(in.left.data() + at, frames, lv2R.data() + at);
            std::copy_n(in.right.data() + at, frames, lv2L.data() + at);
            host.connectAudio(lv2R.data() + at, lv2L.data() + at, lv2L.data() + at, lv2R.data() + at);
        } else {
            host.connectAudio(in.left.data() + at, in.right.data() + at, lv2L.data() + at, lv2R.data() + at);
        }
        host.run(static_cast<std::uint32_t>(frames));
        reference.process(in.left.data() + at, in.right.data() + at, refL.data() + at, refR.data() + at, frames);

        const dsp::BlockPeaks block = reference.processor.lastBlock();
        ASSERT_EQ(host.deEss, block.deEssMax) << "block " << n;
        ASSERT_EQ(host.gate, block.gateMax) << "block " << n;
        largestDeEss = std::max(largestDeEss, host.deEss);
        largestGate = std::max(largestGate, host.gate);
        at += frames;
    }
    host.deactivate();

    EXPECT_GE(changes, 2 * static_cast<int>(std::size(kChanges)));
    EXPECT_GT(largestDeEss, 6.0f);  // both stages were at work
    EXPECT_GT(largestGate, 6.0f);
    EXPECT_EQ(std::memcmp(lv2L.data(), refL.data(), lv2L.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(lv2R.data(), refR.data(), lv2R.size() * sizeof(float)), 0);
}

TEST(Lv2Host, TakesAnyRateAndFallsBackAsTheProcessorDoes) {
    const signals::StereoSignal in = signals::speechLikeSignal(48000.0, 0.1, 3u);
    const int frames = static_cast<int>(in.left.size());
    const LV2_Feature* const noFeatures[] = {nullptr};
    for (double rate : {96000.0, 22050.0, 8000.0, 0.0, -48000.0, 1e300, static_cast<double>(kInf),
                        static_cast<double>(kNaN)}) {
        HostedInstance host(rate, noFeatures);
        ASSERT_NE(host.handle, nullptr) << rate;
        std::vector<float> outL(in.left.size()), outR(in.left.size()), refL(outL), refR(outR);
        host.connectControls();
        host.connectAudio(in.left.data(), in.right.data(), outL.data(), outR.data());
        host.activate();
        host.run(static_cast<std::uint32_t>(frames));
        host.deactivate();
        Reference reference(rate);
        reference.process(in.left.data(), in.right.data(), refL.data(), refR.data(), frames);
        EXPECT_TRUE(outL == refL && outR == refR) << rate << " Hz";
    }
}

TEST(Lv2Host, BadInputHasADefinedAnswer) {
    const signals::StereoSignal in = signals::speechLikeSignal(44100.0, 0.5, 11u);
    const int frames = 2048;
    HostedInstance host(44100.0);
    ASSERT_NE(host.handle, nullptr);
    std::vector<float> outL(frames), outR(frames), refL(frames), refR(frames);

    // Nothing connected, or ports the plug-in does not have: nothing happens, nothing crashes.
    host.activate();
    host.run(64);
    host.connect(lv2::kNumPorts, &host.deEss);
    host.connect(1000, &host.deEss);
    host.run(64);
    EXPECT_EQ(host.deEss, -1.0f);

    // Unconnected controls leave the defaults; unconnected reduction ports are not written.
    Reference reference(44100.0);
    const auto runBoth = [&](int n) {
        host.connectAudio(in.left.data(), in.right.data(), outL.data(), outR.data());
        host.run(static_cast<std::uint32_t>(n));
        reference.process(in.left.data(), in.right.data(), refL.data(), refR.data(), n);
        return outL == refL && outR == refR;
    };
    EXPECT_TRUE(runBoth(frames));
    EXPECT_EQ(host.deEss, -1.0f);

    // A NaN is no value: the parameter keeps the one it had. Values beyond the range take its ends.
    host.connectControls();
    host.controls[kParamDipsesThresh] = -44.0f;
    host.controls[kParamNoiseReduce] = -1e30f;
    host.controls[kParamOutputTrim] = kInf;
    host.controls[kParamListenSibilance] = kNaN;
    reference.processor.setParam(kParamDipsesThresh, toolValue(kParamDipsesThresh, "-44"));
    reference.processor.setParam(kParamNoiseReduce, 1.0f);
    reference.processor.setParam(kParamOutputTrim, 1.0f);
    EXPECT_TRUE(runBoth(frames));
    host.controls[kParamDipsesThresh] = kNaN;
    host.controls[kParamBypass] = kNaN;
    EXPECT_TRUE(runBoth(frames));
    EXPECT_EQ(host.gate, reference.processor.lastBlock().gateMax);

    // Zero frames: no audio written, no reduction reported; the stream then carries on as before.
    std::fill(outL.begin(), outL.end(), 5.0f);
    host.deEss = host.gate = -1.0f;
    host.run(0);
    EXPECT_EQ(outL[0], 5.0f);
    EXPECT_EQ(host.deEss, 0.0f);
    EXPECT_EQ(host.gate, 0.0f);
    EXPECT_TRUE(runBoth(frames));

    // An audio port unconnected: the run touches no audio and reports no reduction.
    host.deEss = host.gate = -1.0f;
    host.connect(lv2::kPortOutR, nullptr);
    host.run(frames);
    EXPECT_EQ(outL, refL);
    EXPECT_EQ(host.deEss, 0.0f);
    EXPECT_EQ(host.gate, 0.0f);
    host.deactivate();
}

TEST(Lv2Host, ActivatingAgainStartsAfresh) {
    // Deactivated, the input passes through; activated again, the instance sounds like a new one with
    // the host's settings. Before the first activate it waits, passing the input through as well.
    const signals::StereoSignal in = signals::speechLikeSignal(48000.0, 0.5, 5u);
    const auto frames = static_cast<std::uint32_t>(in.left.size());
    HostedInstance host(48000.0);
    ASSERT_NE(host.handle, nullptr);
    host.controls[kParamDeEssThresh] = -30.0f;
    host.connectControls();
    std::vector<float> outL(frames), outR(frames);
    host.connectAudio(in.left.data(), in.right.data(), outL.data(), outR.data());

    host.run(frames);
    EXPECT_TRUE(outL == in.left && outR == in.right);
    host.activate();
    host.run(frames);
    const std::vector<float> firstL = outL, firstR = outR;
    EXPECT_NE(firstL, in.left);
    host.deactivate();
    host.run(frames);
    EXPECT_TRUE(outL == in.left && outR == in.right);
    EXPECT_EQ(host.deEss, 0.0f);
    host.activate();
    host.run(frames);
    EXPECT_TRUE(outL == firstL && outR == firstR);
    host.deactivate();
}

}  // namespace
}  // namespace lumisere
