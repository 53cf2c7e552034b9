// Acts as a CLAP host: loads Lumisere.clap through clap_entry and walks the factory, every extension in
// the order the format allows and some calls it does not, renders against the VST 2.x build of the
// same plug-in, and saves and loads state. Runs natively and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "clap_test_host.h"
#include "core/parameters.h"
#include "test_signals.h"

namespace lumisere {
namespace {

using namespace claptest;

class ClapHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << "LUMISERE_CLAP_PLUGIN: " << library_.error();
        plugin_ = library_.create(host_);
        ASSERT_NE(plugin_, nullptr);
        params_ = ClapLibrary::extension<clap_plugin_params_t>(plugin_, CLAP_EXT_PARAMS);
        ASSERT_NE(params_, nullptr);
    }
    void TearDown() override {
        if (plugin_ != nullptr) plugin_->destroy(plugin_);
    }

    double value(clap_id id) const {
        double v = -1.0;
        EXPECT_TRUE(params_->get_value(plugin_, id, &v));
        return v;
    }

    ClapLibrary library_{envPath("LUMISERE_CLAP_PLUGIN")};
    TestHost host_;
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* params_ = nullptr;
};

TEST_F(ClapHost, EntryFactoryAndDescriptor) {
    EXPECT_EQ(library_.entry->clap_version.major, 1u);
    EXPECT_EQ(library_.entry->get_factory("clap.no-such-factory"), nullptr);

    const clap_plugin_factory_t& factory = *library_.factory;
    EXPECT_EQ(factory.get_plugin_count(&factory), 1u);
    EXPECT_EQ(factory.get_plugin_descriptor(&factory, 1), nullptr);
    const clap_plugin_descriptor_t& d = *factory.get_plugin_descriptor(&factory, 0);
    EXPECT_STREQ(d.id, "audio.ostrel.lumisere");
    std::vector<std::string> features;
    for (const char* const* f = d.features; *f != nullptr; ++f) features.emplace_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "de-esser", "restoration", "stereo"}));

    // Another id, no host, a host of a pre-release CLAP: no instance.
    EXPECT_EQ(factory.create_plugin(&factory, &host_.record, "com.example.other"), nullptr);
    EXPECT_EQ(factory.create_plugin(&factory, nullptr, d.id), nullptr);
    TestHost old;
    old.record.clap_version = {0, 19, 0};
    EXPECT_EQ(factory.create_plugin(&factory, &old.record, d.id), nullptr);

    EXPECT_EQ(plugin_->get_extension(plugin_, nullptr), nullptr);
}

TEST_F(ClapHost, ParametersInTheirUnitsWithTextsBothWays) {
    ASSERT_EQ(params_->count(plugin_), static_cast<std::uint32_t>(kNumParams));
    for (int i = 0; i < kNumParams; ++i) {
        clap_param_info_t info;
        ASSERT_TRUE(params_->get_info(plugin_, static_cast<std::uint32_t>(i), &info));
        EXPECT_EQ(info.id, static_cast<clap_id>(i));
        EXPECT_STREQ(info.name, kParams[i].hostName);
        EXPECT_TRUE(info.flags & CLAP_PARAM_IS_AUTOMATABLE);
        const bool isSwitch = kParams[i].kind == ParamKind::toggle;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, isSwitch) << info.name;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_BYPASS) != 0, i == kParamBypass) << info.name;
        EXPECT_EQ(value(info.id), info.default_value) << info.name;
        // The ranges users read: Focus Freq 4000 .. 11000 Hz, Noise Reduce -40 .. 0 dB.
        EXPECT_TRUE(i != kParamFocusFreq || (info.min_value == 4000.0 && info.max_value == 11000.0));
        EXPECT_TRUE(i != kParamNoiseReduce || (info.min_value == -40.0 && info.max_value == 0.0));
    }
    clap_param_info_t info;
    EXPECT_FALSE(params_->get_info(plugin_, kNumParams, &info));
    double v;
    EXPECT_FALSE(params_->get_value(plugin_, kNumParams, &v));

    char text[64];
    struct TextCase {
        clap_id id;
        double plain;
        const char* shown;
        const char* typed;  // another way a user writes it
    };
    for (const TextCase& c : {TextCase{kParamDeEssThresh, -20.0, "-20.0 dB", " -20dB "},
                              TextCase{kParamFocusFreq, 7200.0, "7.20 kHz", "7.2k"},
                              TextCase{kParamOutputTrim, 6.0, "+6.0 dB", "+6"},
                              TextCase{kParamDryWet, 40.0, "40 %", "40%"},
                              TextCase{kParamBypass, 1.0, "BYPASS", "on"}}) {
        ASSERT_TRUE(params_->value_to_text(plugin_, c.id, c.plain, text, sizeof text));
        EXPECT_STREQ(text, c.shown);
        for (const char* typed : {c.shown, c.typed}) {
            double back = -1.0;
            ASSERT_TRUE(params_->text_to_value(plugin_, c.id, typed, &back)) << typed;
            EXPECT_NEAR(back, c.plain, 1e-9) << typed;
        }
    }
    // Not values of these parameters: nothing written.
    for (const char* bad : {"", "loud", "-50 dB", "5 Hz", "nan", "inf"}) {
        v = 123.0;
        EXPECT_FALSE(params_->text_to_value(plugin_, kParamDeEssThresh, bad, &v)) << bad;
        EXPECT_EQ(v, 123.0);
    }
    EXPECT_FALSE(params_->text_to_value(plugin_, kNumParams, "0", &v));
    EXPECT_FALSE(params_->value_to_text(plugin_, kParamDeEssThresh, std::nan(""), text, sizeof text));
    EXPECT_FALSE(params_->value_to_text(plugin_, kParamDeEssThresh, 0.0, nullptr, 8));
}

TEST_F(ClapHost, ExtensionsInALegalOrderAndIllegalCallsRefused) {
    const auto* ports = ClapLibrary::extension<clap_plugin_audio_ports_t>(plugin_, CLAP_EXT_AUDIO_PORTS);
    const auto* latency = ClapLibrary::extension<clap_plugin_latency_t>(plugin_, CLAP_EXT_LATENCY);
    ASSERT_TRUE(ports != nullptr && latency != nullptr);
    for (bool input : {true, false}) {
        ASSERT_EQ(ports->count(plugin_, input), 1u);
        clap_audio_port_info_t port;
        ASSERT_TRUE(ports->get(plugin_, 0, input, &port));
        EXPECT_EQ(port.channel_count, 2u);
        EXPECT_STREQ(port.port_type, CLAP_PORT_STEREO);
        EXPECT_EQ(port.in_place_pair, port.id);
        EXPECT_TRUE(port.flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_FALSE(ports->get(plugin_, 1, input, &port));
        EXPECT_FALSE(ports->get(plugin_, 0, input, nullptr));
    }

    // Rates the audio core cannot run at, and frame ranges that are none, are refused.
    for (double rate : {0.0, -48000.0, 8000.0, std::nan(""), HUGE_VAL, 1e300}) {
        EXPECT_FALSE(plugin_->activate(plugin_, rate, 1, 512)) << rate;
    }
    EXPECT_FALSE(plugin_->activate(plugin_, 48000.0, 1, 0));
    EXPECT_FALSE(plugin_->activate(plugin_, 48000.0, 64, 32));

    // Not active: no processing.
    std::vector<float> left(64, 0.25f), right(64, -0.25f);
    float* io[2] = {left.data(), right.data()};
    InputEvents none;
    OutputEvents sent;
    EXPECT_FALSE(plugin_->start_processing(plugin_));
    EXPECT_EQ(processBlock(plugin_, io, io, 64, none, sent), CLAP_PROCESS_ERROR);

    // Odd rates and block sizes, activated and deactivated in turn; twice active is refused.
    for (const auto& [rate, frames] : {std::pair{8001.0, 1u}, {22050.0, 17u}, {44100.0, 4099u}, {192000.0, 64u}}) {
        ASSERT_TRUE(plugin_->activate(plugin_, rate, 1, frames)) << rate;
        EXPECT_FALSE(plugin_->activate(plugin_, rate, 1, frames));
        EXPECT_EQ(latency->get(plugin_), 0u);
        ASSERT_TRUE(plugin_->start_processing(plugin_));
        std::vector<float> l(frames, 0.5f), r(frames, -0.5f);
        float* buffers[2] = {l.data(), r.data()};
        EXPECT_EQ(processBlock(plugin_, buffers, buffers, frames, none, sent), CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(processBlock(plugin_, buffers, buffers, 0, none, sent), CLAP_PROCESS_CONTINUE);
        for (float s : l) ASSERT_TRUE(std::isfinite(s));
        plugin_->reset(plugin_);
        plugin_->stop_processing(plugin_);
        plugin_->deactivate(plugin_);
    }

    // A process call without buffers, or with a mono pair, is an error; a null process record too.
    ASSERT_TRUE(plugin_->activate(plugin_, 48000.0, 1, 64));
    ASSERT_TRUE(plugin_->start_processing(plugin_));
    clap_process_t empty{-1, 64, nullptr, nullptr, nullptr, 0, 0, &none.list, &sent.list};
    EXPECT_EQ(plugin_->process(plugin_, &empty), CLAP_PROCESS_ERROR);
    EXPECT_EQ(plugin_->process(plugin_, nullptr), CLAP_PROCESS_ERROR);
    clap_audio_buffer_t mono{io, nullptr, 1, 0, 0};
    clap_process_t monoProcess{-1, 64, nullptr, &mono, &mono, 1, 1, &none.list, &sent.list};
    EXPECT_EQ(plugin_->process(plugin_, &monoProcess), CLAP_PROCESS_ERROR);
    // Destroyed while active and processing: the host broke the order, the instance still ends
    // cleanly (TearDown).
}

TEST_F(ClapHost, StateRoundTripAndGarbageRefusedWithTheInstanceUnchanged) {
    const auto* state = ClapLibrary::extension<clap_plugin_state_t>(plugin_, CLAP_EXT_STATE);
    ASSERT_NE(state, nullptr);
    InputEvents set;
    set.add(kParamFocusFreq, 9000.0);
    set.add(kParamNoiseReduce, -33.0);
    set.add(kParamBypass, 1.0);
    OutputEvents sent;
    params_->flush(plugin_, &set.list, &sent.list);  // not active: the main thread's flush
    EXPECT_TRUE(sent.seen.empty());

    MemoryStream saved;
    ASSERT_TRUE(state->save(plugin_, &saved.out));
    EXPECT_NEAR(value(kParamFocusFreq), 9000.0, 1e-3);

    const clap_plugin_t* other = library_.create(host_);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(state->load(other, &saved.in));
    for (clap_id id = 0; id < kNumParams; ++id) {
        double loaded = -1.0;
        ASSERT_TRUE(params_->get_value(other, id, &loaded));
        EXPECT_EQ(loaded, value(id)) << id;
    }

    // Garbage of every kind: empty, short, a trailing byte, another tag, a later format, a NaN value, a
    // value above 1. Refused, and the instance keeps what it had.
    const auto with = [&](std::size_t at, std::vector<unsigned char> bytes) {
        auto copy = saved.bytes;
        copy.resize(std::max(copy.size(), at + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<long>(at));
        return copy;
    };
    const std::vector<std::vector<unsigned char>> garbage{
        {}, {saved.bytes.begin(), saved.bytes.end() - 1}, with(saved.bytes.size(), {0}), with(0, {'X'}), with(4, {2}),
        with(8 + 4 * kParamDryWet, {0, 0, 0xC0, 0x7F}), with(8, {0, 0, 0xC0, 0x3F})};
    InputEvents change;
    change.add(kParamFocusFreq, 5000.0);
    params_->flush(other, &change.list, &sent.list);
    for (const auto& bytes : garbage) {
        MemoryStream stream;
        stream.bytes = bytes;
        EXPECT_FALSE(state->load(other, &stream.in));
        double f;
        ASSERT_TRUE(params_->get_value(other, kParamFocusFreq, &f));
        EXPECT_NEAR(f, 5000.0, 1e-3);
    }
    MemoryStream failing;
    failing.bytes = saved.bytes;
    failing.failRead = true;
    EXPECT_FALSE(state->load(other, &failing.in));
    EXPECT_FALSE(state->load(other, nullptr));
    other->destroy(other);
}

// The VST 2.x build's render of the same blocks, with each parameter set at the start of its block.
struct Vst2Instance {
    explicit Vst2Instance(const host::PluginLibrary& library, float rate)
        : effect(host::startEffect(library.entry(), rate, 4099)) {}
    ~Vst2Instance() { host::stopEffect(effect); }
    AEffect* effect;
};

// The plain value a CLAP host sends for a normalised value a VST 2.x host sends.
double plainFor(int index, float p) {
    if (kParams[index].kind == ParamKind::toggle) return isSwitchOn(p) ? 1.0 : 0.0;
    return paramUnits(index, p);
}

TEST_F(ClapHost, RendersWhatTheVst2BuildRendersBitForBitWithParameterEvents) {
    host::PluginLibrary vstLibrary(envPath("LUMISERE_PLUGIN"));
    ASSERT_TRUE(vstLibrary.loaded()) << "LUMISERE_PLUGIN: " << vstLibrary.error();
    const std::vector<float> signal = signals::interleaved(signals::portableSpeech(44100));
    const int frames = static_cast<int>(signal.size() / 2);

    struct Run {
        double rate;
        std::vector<std::uint32_t> blocks;  // repeated until the signal ends
        bool inPlace;
    };
    for (const Run& run : {Run{44100.0, {512}, true}, Run{48000.0, {1, 17, 300}, false}, Run{96000.0, {4099}, true}}) {
        SCOPED_TRACE(run.rate);
        Vst2Instance vst(vstLibrary, static_cast<float>(run.rate));
        const clap_plugin_t* clap = library_.create(host_);
        ASSERT_NE(clap, nullptr);
        ASSERT_TRUE(clap->activate(clap, run.rate, 1, 4099));
        ASSERT_TRUE(clap->start_processing(clap));

        // Both channels of each: input, VST 2.x output, CLAP output (in place: the input copied in first).
        std::vector<float> in[2], vst2Out[2], clapOut[2], clapIn[2];
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < frames; ++i) in[c].push_back(signal[2 * i + c]);
            vst2Out[c].resize(frames);
            clapOut[c] = run.inPlace ? in[c] : std::vector<float>(frames);
            clapIn[c] = in[c];
        }
        int start = 0;
        for (std::size_t block = 0; start < frames; ++block) {
            const int n = std::min<int>(static_cast<int>(run.blocks[block % run.blocks.size()]), frames - start);
            // A change of one parameter per block, across all nine, Bypass and Listen included; the
            // CLAP host sends a first value later in the block that the last one overrides.
            const int index = static_cast<int>(block * 7 % kNumParams);
            const float p = static_cast<float>(block * 37 % 101) / 100.0f;
            vst.effect->setParameter(vst.effect, index, p);
            InputEvents events;
            events.add(static_cast<clap_id>(index), plainFor(index, 1.0f - p), 0);
            events.add(static_cast<clap_id>(index), plainFor(index, p), static_cast<std::uint32_t>(n - 1));

            float* vin[2] = {in[0].data() + start, in[1].data() + start};
            float* vout[2] = {vst2Out[0].data() + start, vst2Out[1].data() + start};
            vst.effect->processReplacing(vst.effect, vin, vout, n);
            float* cout[2] = {clapOut[0].data() + start, clapOut[1].data() + start};
            float* cin[2] = {clapIn[0].data() + start, clapIn[1].data() + start};
            OutputEvents sent;
            ASSERT_EQ(processBlock(clap, run.inPlace ? cout : cin, cout, static_cast<std::uint32_t>(n), events, sent),
                      CLAP_PROCESS_CONTINUE);
            start += n;
        }
        for (int c = 0; c < 2; ++c) EXPECT_EQ(std::memcmp(vst2Out[c].data(), clapOut[c].data(), frames * sizeof(float)), 0);
        clap->stop_processing(clap);
        clap->deactivate(clap);
        clap->destroy(clap);
    }
}

}  // namespace
}  // namespace lumisere
