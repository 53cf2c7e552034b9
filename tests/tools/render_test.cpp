// What the tool renders is what a host renders, and its report reads the known reductions of
// synthetic signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

#include "param_args.h"
#include "plugin_library.h"
#include "render.h"
#include "tool_test_support.h"

namespace lumisere::cli {
namespace {

using testing::Audio;
using testing::ScratchDir;

// The de-esser's gain never goes below 0.05: 20 log10(1 / 0.05) dB.
constexpr double kDeEssFloorDb = 26.0206;

FileReport render(const ScratchDir& dir, const Audio& audio,
                  std::initializer_list<std::pair<int, const char*>> settings = {}) {
    testing::writeAudio(dir / "in.wav", audio);
    ParamSettings params;
    for (const auto& [index, text] : settings) params.set(index, text, "test");
    RenderOptions options;
    options.params = params.values;
    options.replace = true;
    RenderProgress progress;
    const std::atomic<bool> stop{false};
    return renderFile(dir / "in.wav", dir / "out.wav", options, progress, stop);
}

TEST(Report, SibilantBurstIsReducedDownToTheDeEssersFloor) {
    ScratchDir dir;
    // Half a second of a 7 kHz tone at -6 dBFS, 14 dB over the default -20 dB threshold, then half a
    // second of 300 Hz at the same level, where the focus band holds almost nothing.
    Audio audio = testing::sine(7000.0, 0.5, 0.5);
    append(audio, testing::sine(300.0, 0.5, 0.5));

    const FileReport report = render(dir, audio);
    EXPECT_NEAR(report.deEss.maxDb(), kDeEssFloorDb, 0.01);
    // The burst's half of the file, and the band envelope's 40 ms release after it.
    EXPECT_GT(report.deEss.shareAudible(), 0.48);
    EXPECT_LT(report.deEss.shareAudible(), 0.6);
    EXPECT_NEAR(report.deEss.meanDb(), kDeEssFloorDb * report.deEss.shareAudible(), 2.0);
    EXPECT_FALSE(report.bypassed);
    EXPECT_EQ(report.frames, audio.frames());

    // With the threshold at its 0 dB top the burst stays below it.
    EXPECT_EQ(render(dir, audio, {{kParamDeEssThresh, "0"}}).deEss.maxDb(), 0.0);
    // A loud tone far below the focus band is never reduced, whatever the threshold.
    EXPECT_EQ(render(dir, testing::sine(300.0, 0.5, 0.5), {{kParamDeEssThresh, "-40"}}).deEss.maxDb(), 0.0);
}

TEST(Report, HissBelowTheGateThresholdIsHeldAtTheNoiseReduceFloor) {
    ScratchDir dir;
    // Peaks at -80 dBFS: 25 dB under the default -54.8 dB threshold, deep enough for the floor.
    const Audio hiss = testing::noise(0.0001, 1.0);

    const FileReport byDefault = render(dir, hiss);
    EXPECT_NEAR(byDefault.gate.maxDb(), 24.0, 0.01);
    EXPECT_NEAR(byDefault.gate.meanDb(), 24.0, 0.01);
    EXPECT_EQ(byDefault.gate.shareAudible(), 1.0);
    EXPECT_EQ(byDefault.deEss.maxDb(), 0.0);
    EXPECT_LT(byDefault.outputPeak, 0.0001 * 0.1) << "the hiss comes out more than 20 dB lower";

    const FileReport twelve = render(dir, hiss, {{kParamNoiseReduce, "-12"}});
    EXPECT_NEAR(twelve.gate.maxDb(), 12.0, 0.01);
    EXPECT_NEAR(twelve.gate.meanDb(), 12.0, 0.01);

    const FileReport off = render(dir, hiss, {{kParamNoiseReduce, "0"}});
    EXPECT_LT(off.gate.maxDb(), 1e-6);
    EXPECT_EQ(off.gate.shareAudible(), 0.0);
}

TEST(Report, BypassWritesTheInputAndItsPeak) {
    ScratchDir dir;
    Audio audio = testing::sine(7000.0, 0.5, 0.3);
    audio.samples[101] = -0.75f;
    const FileReport report = render(dir, audio, {{kParamBypass, "on"}});
    EXPECT_TRUE(report.bypassed);
    EXPECT_EQ(report.outputPeak, 0.75);
    EXPECT_EQ(report.deEss.maxDb(), 0.0);
    EXPECT_EQ(report.gate.maxDb(), 0.0);
    EXPECT_EQ(testing::readAudio(dir / "out.wav").samples, audio.samples);

    const nlohmann::json json = reportJson(report);
    EXPECT_NEAR(json["outputPeakDbfs"].get<double>(), -2.4988, 1e-4);
    EXPECT_NE(reportText(report).find("bypassed"), std::string::npos);
}

// A host of its own: loads the built plug-in library and renders through its exported entry point
// with the same calls in the same order, block by block.
std::vector<float> hostRender(const Audio& in, const std::array<float, kNumParams>& params, int block) {
    host::PluginLibrary library(LUMISERE_PLUGIN_PATH);
    AEffect* effect = host::startEffect(library.entry(), in.rate, block);
    if (effect == nullptr) throw std::runtime_error(library.error());
    for (VstInt32 i = 0; i < kNumParams; ++i) effect->setParameter(effect, i, params[i]);
    // Dual mono in, the left output written for a mono file.
    const auto channels = static_cast<std::size_t>(in.channels);
    signals::StereoSignal stereo;
    for (std::size_t at = 0; at < in.samples.size(); at += channels) {
        stereo.left.push_back(in.samples[at]);
        stereo.right.push_back(in.samples[at + channels - 1]);
    }
    const signals::StereoSignal rendered = host::renderInBlocks(effect, stereo, block);
    host::stopEffect(effect);
    std::vector<float> out;
    for (std::size_t i = 0; i < rendered.left.size(); ++i) {
        out.push_back(rendered.left[i]);
        if (channels == 2) out.push_back(rendered.right[i]);
    }
    return out;
}

TEST(Render, ToolOutputEqualsAHostsOutputBitForBit) {
    ScratchDir dir;
    // Speech-like material: a sibilant burst, a voiced tone, and hiss between them.
    Audio stereo = testing::noise(0.3, 0.25, 2, 48000, 11);
    append(stereo, testing::sine(220.0, 0.4, 0.5, 2, 48000));
    append(stereo, testing::noise(0.0005, 0.5, 2, 48000, 12));
    append(stereo, testing::sine(6500.0, 0.6, 0.3, 2, 48000));
    testing::writeAudio(dir / "stereo.wav", stereo);

    const testing::ToolRun run = testing::runTool(
        dir, {"process", "stereo.wav", "-o", "stereo-out.wav", "--block", "300", "--de-ess-thresh", "-30",
              "--focus-freq", "7.5k", "--dipses-thresh", "-52", "--noise-reduce", "-30", "--air-silk", "50%",
              "--output-trim", "+6", "--dry-wet", "80%"});
    ASSERT_EQ(run.status, 0) << run.err;
    // The same settings as normalised values: each lands exactly on a float.
    const std::array<float, kNumParams> settings = {0.25f, 0.5f, 0.0f, 0.5f, 0.75f, 0.5f, 0.75f, 0.8f, 0.0f};
    EXPECT_EQ(testing::readAudio(dir / "stereo-out.wav").samples, hostRender(stereo, settings, 300));

    // Mono at the defaults and the default block: dual mono in, the left output written.
    Audio mono = testing::noise(0.2, 0.4, 1, 44100, 13);
    append(mono, testing::noise(0.0002, 0.4, 1, 44100, 14));
    testing::writeAudio(dir / "mono.wav", mono);
    ASSERT_EQ(testing::runTool(dir, {"process", "mono.wav", "-o", "mono-out.wav"}).status, 0);
    std::array<float, kNumParams> defaults{};
    for (int i = 0; i < kNumParams; ++i) defaults[i] = kParams[i].defaultValue;
    const Audio monoOut = testing::readAudio(dir / "mono-out.wav");
    EXPECT_EQ(monoOut.channels, 1);
    EXPECT_EQ(monoOut.samples, hostRender(mono, defaults, 512));
}

}  // namespace
}  // namespace lumisere::cli
