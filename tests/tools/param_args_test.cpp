// Parameters as the command line and preset files write them.
#include "param_args.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tool_test_support.h"

namespace lumisere::cli {
namespace {

std::string display(int index, float p) {
    char text[kParamDisplayCapacity];
    formatParamDisplay(static_cast<unsigned>(index), p, text, sizeof text);
    return text;
}

// The message of the UsageError that parsing throws, or "" when it parses.
std::string refusal(int index, const std::string& text) {
    try {
        parseParamValue(index, text);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(ParamArgs, OptionNamesComeFromTheSymbols) {
    const char* expected[] = {"de-ess-thresh", "focus-freq", "listen-sibilance", "dipses-thresh", "noise-reduce",
                              "air-silk", "output-trim", "dry-wet", "bypass"};
    for (int i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(optionName(i), expected[i]);
        EXPECT_EQ(findParam(expected[i]), i);
        EXPECT_EQ(findParam(kParams[i].hostName), i) << kParams[i].hostName;
    }
    EXPECT_EQ(findParam("--172-air-silk"), kParamAirSilk);
    EXPECT_EQ(findParam("DRY/WET"), kParamDryWet);
    EXPECT_EQ(findParam("thresh"), -1);
    EXPECT_EQ(findParam(""), -1);
}

TEST(ParamArgs, EveryParameterTakesItsBoundsAndRefusesJustOutside) {
    struct Case {
        int index;
        const char *atZero, *atOne, *outsideZero, *outsideOne, *range;  // p = 0, p = 1, just beyond each
    };
    const Case cases[] = {
        {kParamDeEssThresh, "-40", "0", "-40.1", "0.1", "-40 to 0 dB"},
        {kParamFocusFreq, "4k", "11000", "3999", "11.001k", "4000 to 11000 Hz"},
        {kParamDipsesThresh, "-80dB", "-24 dB", "-80.01", "-23.99", "-80 to -24 dB"},
        {kParamNoiseReduce, "0", "-40", "0.1", "-40.1", "-40 to 0 dB"},  // a floor: 0 dB is p = 0
        {kParamAirSilk, "0%", "100%", "-1%", "100.5", "0 to 100 %"},
        {kParamOutputTrim, "-12", "+12", "-12.1", "12.01", "-12 to 12 dB"},
        {kParamDryWet, "0", "100 %", "-0.5%", "101%", "0 to 100 %"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(optionName(c.index));
        EXPECT_EQ(parseParamValue(c.index, c.atZero), 0.0f);
        EXPECT_EQ(parseParamValue(c.index, c.atOne), 1.0f);
        for (const char* outside : {c.outsideZero, c.outsideOne}) {
            EXPECT_NE(refusal(c.index, outside).find("outside the range " + std::string(c.range)), std::string::npos)
                << refusal(c.index, outside);
        }
    }
}

TEST(ParamArgs, ValuesInDisplayUnitsLandOnTheSameDisplayTexts) {
    for (const char* text : {"7200", "7200Hz", "7200 hz", "7.2k", "7.2kHz", "7.2 KHZ", "+7.2k"}) {
        EXPECT_EQ(display(kParamFocusFreq, parseParamValue(kParamFocusFreq, text)), "7.20 kHz") << text;
    }
    for (const char* text : {"-30", "-30dB", " -30 DB "}) {
        EXPECT_EQ(parseParamValue(kParamDeEssThresh, text), 0.25f) << text;
    }
    EXPECT_EQ(display(kParamDeEssThresh, parseParamValue(kParamDeEssThresh, "-30")), "-30.0 dB");
    EXPECT_EQ(display(kParamDipsesThresh, parseParamValue(kParamDipsesThresh, "-60")), "-60.0 dB");
    EXPECT_EQ(display(kParamNoiseReduce, parseParamValue(kParamNoiseReduce, "-12")), "-12.0 dB");
    EXPECT_EQ(display(kParamAirSilk, parseParamValue(kParamAirSilk, "40%")), "40 %");
    EXPECT_EQ(display(kParamOutputTrim, parseParamValue(kParamOutputTrim, "-1.5")), "-1.5 dB");
    EXPECT_EQ(display(kParamDryWet, parseParamValue(kParamDryWet, "80")), "80 %");

    for (const char* on : {"on", "ON", "true", "yes", "1"}) EXPECT_EQ(parseParamValue(kParamBypass, on), 1.0f) << on;
    for (const char* off : {"off", "False", "no", "0"}) {
        EXPECT_EQ(parseParamValue(kParamListenSibilance, off), 0.0f) << off;
    }
}

TEST(ParamArgs, TextThatIsNotAValueIsRefusedWithAnExample) {
    EXPECT_NE(refusal(kParamFocusFreq, "7.2MHz").find("not a frequency"), std::string::npos);
    EXPECT_NE(refusal(kParamFocusFreq, "fast").find("not a frequency"), std::string::npos);
    EXPECT_NE(refusal(kParamDeEssThresh, "-30Hz").find("not a level in dB"), std::string::npos);
    EXPECT_NE(refusal(kParamAirSilk, "40%%").find("not a percentage"), std::string::npos);
    EXPECT_NE(refusal(kParamBypass, "maybe").find("not on or off"), std::string::npos);
    for (const char* junk : {"", " ", "nan", "inf", "-inf", "1e999", "++3", "--3", "3 4"}) {
        EXPECT_FALSE(refusal(kParamOutputTrim, junk).empty()) << '"' << junk << '"';
    }
}

TEST(ParamArgs, PresetFileSetsValuesAndNamesTheLineOfAMistake) {
    testing::ScratchDir dir;
    const std::string good = dir / "voice.preset";
    std::ofstream(good) << "# a bright voice\n\n"
                           "focus-freq = 7.2k   # just above the default\n"
                           "De-Ess Thresh=-30dB\n"
                           "  172 Air Silk =  40 %\n"
                           "listen-sibilance = off\n";
    ParamSettings settings;
    loadPreset(good, settings);
    EXPECT_EQ(display(kParamFocusFreq, settings.values[kParamFocusFreq]), "7.20 kHz");
    EXPECT_EQ(settings.values[kParamDeEssThresh], 0.25f);
    EXPECT_EQ(settings.values[kParamAirSilk], 0.4f);
    EXPECT_EQ(settings.values[kParamDryWet], kParams[kParamDryWet].defaultValue);

    auto failure = [&](const std::string& content) {
        std::ofstream(dir / "bad.preset") << content;
        ParamSettings s;
        try {
            loadPreset(dir / "bad.preset", s);
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const std::string unknown = failure("# fine\nwarmth = 3\n");
    EXPECT_NE(unknown.find("bad.preset:2: unknown parameter \"warmth\""), std::string::npos) << unknown;
    EXPECT_NE(unknown.find(validNamesList("")), std::string::npos) << unknown;
    EXPECT_NE(failure("bypass = on\nbypass = off\n").find("bad.preset:2: bypass is already set on line 1"),
              std::string::npos);
    EXPECT_NE(failure("focus-freq 7k\n").find("bad.preset:1: expected `name = value`"), std::string::npos);
    EXPECT_NE(failure("\nnoise-reduce = -41\n").find("bad.preset:2: noise-reduce: -41 dB is outside the range"),
              std::string::npos);
    EXPECT_NE(failure("dry-wet =\n").find("bad.preset:1: dry-wet"), std::string::npos);

    ParamSettings untouched;
    EXPECT_THROW(loadPreset(dir / "missing.preset", untouched), UsageError);
}

}  // namespace
}  // namespace lumisere::cli
