// Acts as a VST 2.x host: loads the built plug-in library through its exported entry point and walks
// what a host does in its first minute with an instance. Runs natively against the .so and, built for
// Windows, under Wine against the DLL.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vst2_test_host.h"

namespace {

using namespace lumisere::test;

int gHostCalls = 0;

VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    ++gHostCalls;
    return opcode == audioMasterVersion ? 2400 : 0;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pluginPathFromEnvironment().empty()) << "LUMISERE_PLUGIN names the plug-in library to load";
        ASSERT_TRUE(library_.loaded()) << pluginPathFromEnvironment() << ": " << library_.error();
        ASSERT_NE(library_.entry(), nullptr);
        gHostCalls = 0;
    }

    AEffect* open() {
        AEffect* effect = library_.entry()(recordingHost);
        EXPECT_NE(effect, nullptr);
        if (effect != nullptr) {
            EXPECT_EQ(dispatch(effect, effOpen), 1);
        }
        return effect;
    }

    PluginLibrary library_{pluginPathFromEnvironment()};
};

std::string text(AEffect* effect, VstInt32 opcode, VstInt32 index = 0) {
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    dispatch(effect, opcode, index, 0, buffer);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

TEST_F(HostTest, ExportsBothEntryNamesAtOneAddressAndRefusesANullCallback) {
    EXPECT_EQ(library_.mainAlias(), library_.entry());
    EXPECT_EQ(library_.entry()(nullptr), nullptr);
}

TEST_F(HostTest, FirstMinuteOfAnInstance) {
    AEffect* effect = open();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->magic, kEffectMagic);
    EXPECT_EQ(effect->uniqueID, fourCharCode('L', 'M', 'S', 'R'));
    EXPECT_EQ(effect->version, 1000);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->numParams, 9);
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->flags, effFlagsHasEditor | effFlagsCanReplacing);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->processDoubleReplacing, nullptr);
    EXPECT_EQ(effect->process, effect->processReplacing);

    EXPECT_EQ(text(effect, effGetEffectName), "Ostrel Lumisere");
    EXPECT_EQ(text(effect, effGetVendorString), "Ostrel Audio");
    EXPECT_EQ(text(effect, effGetProductString), "Ostrel Lumisere Quantum De-Esser & Denoise");
    EXPECT_EQ(dispatch(effect, effGetVendorVersion), 1000);
    EXPECT_EQ(dispatch(effect, effGetPlugCategory), kPlugCategEffect);

    const char* names[] = {"De-Ess Thresh", "Focus Freq", "Listen Sibilance", "Dipses Thresh", "Noise Reduce",
                           "172 Air Silk", "Output Trim", "Dry/Wet", "Bypass"};
    const char* labels[] = {"dB", "Hz", "", "dB", "dB", "%", "dB", "%", ""};
    const char* displays[] = {"-20.0 dB", "6.80 kHz", "NORMAL", "-54.8 dB", "-24.0 dB",
                              "75 %", "+0.0 dB", "100 %", "ACTIVE"};
    for (VstInt32 i = 0; i < 9; ++i) {
        EXPECT_EQ(text(effect, effGetParamName, i), names[i]);
        EXPECT_EQ(text(effect, effGetParamLabel, i), labels[i]);
        EXPECT_EQ(text(effect, effGetParamDisplay, i), displays[i]);
    }

    EXPECT_EQ(dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f), 1);
    EXPECT_EQ(dispatch(effect, effSetBlockSize, 0, 512), 1);
    EXPECT_EQ(dispatch(effect, effMainsChanged, 0, 1), 1);
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, const_cast<char*>("receiveVstTimeInfo")), 1);
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, const_cast<char*>("sendVstMidiEvent")), 0);
    EXPECT_EQ(dispatch(effect, effGetVstVersion), 0);
    for (VstInt32 i = -1; i <= 9; ++i) EXPECT_EQ(dispatch(effect, effCanBeAutomated, i), i >= 0 && i < 9) << i;
    EXPECT_EQ(dispatch(effect, effEditIdle), 0);

    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 520);
    EXPECT_EQ(rect->right, 840);

    effect->setParameter(effect, 0, 0.25f);
    EXPECT_EQ(effect->getParameter(effect, 0), 0.25f);
    EXPECT_EQ(text(effect, effGetParamDisplay, 0), "-30.0 dB");

    // A block through both process slots: the accumulating slot replaces too.
    std::vector<float> inL(256), inR(256), outL(256, 7.0f), outR(256, 7.0f);
    for (std::size_t i = 0; i < inL.size(); ++i) {
        inL[i] = 0.25f * std::sin(0.05f * static_cast<float>(i));
        inR[i] = -inL[i];
    }
    float* in[] = {inL.data(), inR.data()};
    float* out[] = {outL.data(), outR.data()};
    effect->processReplacing(effect, in, out, 256);
    for (float v : outL) ASSERT_TRUE(std::isfinite(v));

    EXPECT_EQ(dispatch(effect, effMainsChanged, 0, 0), 1);
    EXPECT_EQ(dispatch(effect, effClose), 1);
    EXPECT_EQ(gHostCalls, 0) << "without an edit in its editor the plug-in never calls its host";
}

TEST_F(HostTest, TwoInstancesKeepTheirOwnState) {
    AEffect* a = open();
    AEffect* b = open();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(a, b);
    a->setParameter(a, 1, 1.0f);
    EXPECT_EQ(text(a, effGetParamDisplay, 1), "11.00 kHz");
    EXPECT_EQ(text(b, effGetParamDisplay, 1), "6.80 kHz");
    EXPECT_EQ(dispatch(a, effClose), 1);
    // The second instance lives on after the first is closed.
    EXPECT_EQ(text(b, effGetParamName, 2), "Listen Sibilance");
    b->setParameter(b, 8, 1.0f);
    EXPECT_EQ(text(b, effGetParamDisplay, 8), "BYPASS");
    EXPECT_EQ(dispatch(b, effClose), 1);
}

}  // namespace
