#include "core/parameters.h"
#include "core/presets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "formats/module/identity.h"

namespace lumisere {
namespace {

std::string display(unsigned index, float p) {
    char buf[kParamDisplayCapacity];
    formatParamDisplay(index, p, buf, sizeof buf);
    return buf;
}

// Saved sessions, presets and scripts name the plug-in by its URI and ids and each parameter by its
// index and symbol; a change to any of them loses what users saved.
TEST(Parameters, SymbolsIndicesAndIdsStayAsReleased) {
    const char* const symbols[kNumParams] = {"de_ess_thresh", "focus_freq",  "listen_sibilance",
                                             "dipses_thresh", "noise_reduce", "air_silk",
                                             "output_trim",   "dry_wet",      "bypass"};
    for (int i = 0; i < kNumParams; ++i) EXPECT_STREQ(kParams[i].symbol, symbols[i]) << "index " << i;
    EXPECT_STREQ(kLv2Uri, "https://ostrel-audio.example/plugins/lumisere");
    EXPECT_STREQ(kLv2UiUri, "https://ostrel-audio.example/plugins/lumisere#ui");
    EXPECT_STREQ(kVst2UniqueId, "LMSR");
    EXPECT_STREQ(kPluginId, "audio.ostrel.lumisere");
}

TEST(Parameters, DisplayTextsAtDefaultsAndAtBothEnds) {
    const char* atDefault[] = {"-20.0 dB", "6.80 kHz", "NORMAL", "-54.8 dB", "-24.0 dB",
                               "75 %", "+0.0 dB", "100 %", "ACTIVE"};
    const char* atZero[] = {"-40.0 dB", "4.00 kHz", "NORMAL", "-80.0 dB", "-0.0 dB",
                            "0 %", "-12.0 dB", "0 %", "ACTIVE"};
    const char* atOne[] = {"0.0 dB", "11.00 kHz", "SOLO SIB", "-24.0 dB", "-40.0 dB",
                           "100 %", "+12.0 dB", "100 %", "BYPASS"};
    for (unsigned i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(display(i, kParams[i].defaultValue), atDefault[i]) << "index " << i;
        EXPECT_EQ(display(i, 0.0f), atZero[i]) << "index " << i;
        EXPECT_EQ(display(i, 1.0f), atOne[i]) << "index " << i;
    }
}

TEST(Parameters, SwitchesAreOnlyOnStrictlyAboveOneHalf) {
    EXPECT_EQ(display(kParamListenSibilance, 0.5f), "NORMAL");
    EXPECT_EQ(display(kParamBypass, 0.5f), "ACTIVE");
    EXPECT_EQ(display(kParamListenSibilance, std::nextafter(0.5f, 1.0f)), "SOLO SIB");
    EXPECT_EQ(display(kParamBypass, 0.5000001f), "BYPASS");
    EXPECT_FALSE(isSwitchOn(0.5f));
    EXPECT_TRUE(isSwitchOn(0.5000001f));
}

TEST(Parameters, DisplayRoundsLikePrintfAndIgnoresTheLocale) {
    EXPECT_EQ(display(kParamDeEssThresh, 0.25f), "-30.0 dB");
    EXPECT_EQ(display(kParamFocusFreq, 0.5f), "7.50 kHz");
    EXPECT_EQ(display(kParamOutputTrim, 0.75f), "+6.0 dB");
    EXPECT_EQ(display(kParamOutputTrim, 0.25f), "-6.0 dB");
    EXPECT_EQ(display(kParamAirSilk, 0.004f), "0 %");
    EXPECT_EQ(display(kParamDryWet, 0.505f), "50 %");  // 50.4999995..., the float nearest 0.505
}

TEST(Parameters, UnknownIndexShowsZeroAndBuffersAreBounded) {
    EXPECT_EQ(display(9, 0.5f), "0.00");
    EXPECT_EQ(display(static_cast<unsigned>(-1), 0.5f), "0.00");

    char small[5];
    std::memset(small, '#', sizeof small);
    formatParamDisplay(kParamFocusFreq, 0.4f, small, sizeof small);
    EXPECT_STREQ(small, "6.80");  // cut to fit, still terminated

    char one[1] = {'#'};
    formatParamDisplay(kParamFocusFreq, 0.4f, one, sizeof one);
    EXPECT_EQ(one[0], '\0');
    formatParamDisplay(kParamFocusFreq, 0.4f, nullptr, 32);  // nothing to write to: no crash
    formatParamDisplay(kParamFocusFreq, 0.4f, one, 0);
}

TEST(Parameters, ClampMapsEveryFloatIntoTheUnitRange) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(clampParam(1.5f), 1.0f);
    EXPECT_EQ(clampParam(-0.2f), 0.0f);
    EXPECT_EQ(clampParam(std::nanf("")), 1.0f);
    EXPECT_EQ(clampParam(inf), 1.0f);
    EXPECT_EQ(clampParam(-inf), 0.0f);
    EXPECT_FALSE(std::signbit(clampParam(-0.0f)));
    EXPECT_EQ(clampParam(0.3f), 0.3f);
    EXPECT_EQ(clampParam(1.0f), 1.0f);
}

TEST(Parameters, PhysicalMappingsAreComputedInDoubleFromTheStoredFloat) {
    EXPECT_DOUBLE_EQ(focusFrequencyHz(0.4f), 6800.000041723251);
    EXPECT_EQ(focusFrequencyHz(0.0f), 4000.0);
    EXPECT_EQ(focusFrequencyHz(1.0f), 11000.0);
    EXPECT_NEAR(gateThresholdDb(0.45f), -54.8, 1e-6);
    EXPECT_EQ(gateFloorDb(0.6f), -24.000000953674316);  // 0.6f is slightly above 0.6
    EXPECT_EQ(gateSlope(0.0f), 1.0);
    EXPECT_EQ(gateSlope(1.0f), 3.5);
    EXPECT_EQ(outputTrimDb(0.5f), 0.0);
    EXPECT_EQ(deEssThresholdDb(1.0f), 0.0);
}

TEST(Parameters, UnitsMapBackToTheNormalisedValue) {
    for (int i = 0; i < kNumParams; ++i) {
        if (kParams[i].kind != ParamKind::continuous) continue;
        for (float p : {0.0f, 0.125f, 0.4f, 0.75f, 1.0f}) {
            EXPECT_NEAR(unitsToNormalised(i, paramUnits(i, p)), p, 1e-12) << kParams[i].hostName;
        }
    }
    EXPECT_EQ(unitsToNormalised(kParamBypass, 1.0), 1.0);
    EXPECT_EQ(unitsToNormalised(kNumParams, 3.0), 0.0);
}

// Every named preset sets continuous parameters, each at most once, to values inside their ranges
// (presetParams would otherwise clamp a typing slip silently), and no two share a name or a symbol.
TEST(Parameters, NamedPresetsStayInsideTheTable) {
    for (int i = 0; i < kNumFactoryPresets; ++i) {
        const FactoryPreset& preset = kFactoryPresets[i];
        bool seen[kNumParams] = {};
        for (int v = 0; v < preset.valueCount; ++v) {
            const PresetValue& value = preset.values[v];
            ASSERT_TRUE(isParamIndex(value.param)) << preset.name;
            EXPECT_EQ(kParams[value.param].kind, ParamKind::continuous) << preset.name;
            EXPECT_FALSE(seen[value.param]) << preset.name << " sets " << kParams[value.param].hostName << " twice";
            seen[value.param] = true;
            const double p = unitsToNormalised(value.param, value.units);
            EXPECT_TRUE(p >= 0.0 && p <= 1.0) << preset.name << ": " << kParams[value.param].hostName;
            EXPECT_NEAR(paramUnits(value.param, presetParams(preset)[value.param]), value.units, 1e-3);
        }
        for (int j = 0; j < i; ++j) {
            EXPECT_STRNE(preset.name, kFactoryPresets[j].name);
            EXPECT_STRNE(preset.symbol, kFactoryPresets[j].symbol);
        }
    }
}

}  // namespace
}  // namespace lumisere
