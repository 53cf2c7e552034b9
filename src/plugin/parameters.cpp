#include "plugin/parameters.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace lumisere {

double deEssThresholdDb(float p) { return static_cast<double>(p) * 40.0 - 40.0; }
double focusFrequencyHz(float p) { return static_cast<double>(p) * 7000.0 + 4000.0; }
double gateThresholdDb(float p) { return static_cast<double>(p) * 56.0 - 80.0; }
double gateFloorDb(float p) { return -(static_cast<double>(p) * 40.0); }
double gateSlope(float p) { return (static_cast<double>(p) * 2.5 + 2.0) - 1.0; }
double airAmount(float p) { return static_cast<double>(p); }
double outputTrimDb(float p) { return (static_cast<double>(p) - 0.5) * 24.0; }
double dryWetMix(float p) { return static_cast<double>(p); }

namespace {

double percent(double p) { return p * 100.0; }
double switchState(double p) { return p > kSwitchThreshold ? 1.0 : 0.0; }

// toUnits takes p already widened; each reuses the audio mapping above so the two can never drift.
double deEssUnits(double p) { return deEssThresholdDb(static_cast<float>(p)); }
double focusUnits(double p) { return focusFrequencyHz(static_cast<float>(p)); }
double dipsesUnits(double p) { return gateThresholdDb(static_cast<float>(p)); }
double noiseUnits(double p) { return gateFloorDb(static_cast<float>(p)); }
double trimUnits(double p) { return outputTrimDb(static_cast<float>(p)); }

}  // namespace

const ParamSpec kParams[kNumParams] = {
    {"De-Ess Thresh", "DE-ESS THRESH", "dB", 0.5f, ParamKind::continuous, deEssUnits, "dB"},
    {"Focus Freq", "FOCUS FREQ", "Hz", 0.4f, ParamKind::continuous, focusUnits, "Hz"},
    {"Listen Sibilance", "LISTEN SIB", "", 0.0f, ParamKind::toggle, switchState, ""},
    {"Dipses Thresh", "DIPSES THRESH", "dB", 0.45f, ParamKind::continuous, dipsesUnits, "dB"},
    {"Noise Reduce", "NOISE REDUCE", "dB", 0.6f, ParamKind::continuous, noiseUnits, "dB"},
    {"172 Air Silk", "172 AIR SILK", "%", 0.75f, ParamKind::continuous, percent, "%"},
    {"Output Trim", "OUTPUT TRIM", "dB", 0.5f, ParamKind::continuous, trimUnits, "dB"},
    {"Dry/Wet", "DRY / WET", "%", 1.0f, ParamKind::continuous, percent, "%"},
    {"Bypass", nullptr, "", 0.0f, ParamKind::toggle, switchState, ""},
};

double unitsToNormalised(int index, double units) {
    switch (index) {
        case kParamDeEssThresh: return (units + 40.0) / 40.0;
        case kParamFocusFreq: return (units - 4000.0) / 7000.0;
        case kParamDipsesThresh: return (units + 80.0) / 56.0;
        case kParamNoiseReduce: return -units / 40.0;
        case kParamAirSilk:
        case kParamDryWet: return units / 100.0;
        case kParamOutputTrim: return units / 24.0 + 0.5;
        case kParamListenSibilance:
        case kParamBypass: return units;
        default: return 0.0;
    }
}

namespace {

// Appends text to a bounded buffer; the caller terminates.
struct TextOut {
    char* buf;
    std::size_t capacity;
    std::size_t length = 0;

    void put(const char* text) {
        for (; *text != '\0' && length + 1 < capacity; ++text) buf[length++] = *text;
    }
    // printf("%.Nf") without the locale: shortest correctly rounded fixed notation.
    void fixed(double value, int decimals) {
        char digits[64];
        auto result = std::to_chars(digits, digits + sizeof digits - 1, value, std::chars_format::fixed, decimals);
        *result.ptr = '\0';
        put(digits);
    }
    void finish() {
        if (capacity > 0) buf[length < capacity ? length : capacity - 1] = '\0';
    }
};

}  // namespace

void formatParamDisplay(unsigned index, float p, char* buf, std::size_t capacity) {
    if (buf == nullptr || capacity == 0) return;
    TextOut out{buf, capacity};
    const double v = static_cast<double>(p);
    switch (index) {
        case kParamDeEssThresh:
            out.fixed(v * 40.0 - 40.0, 1);
            out.put(" dB");
            break;
        case kParamFocusFreq: {
            const double f = v * 7000.0 + 4000.0;
            if (f < 1000.0) {
                out.fixed(f, 0);
                out.put(" Hz");
            } else {
                out.fixed(f / 1000.0, 2);
                out.put(" kHz");
            }
            break;
        }
        case kParamListenSibilance: out.put(isSwitchOn(p) ? "SOLO SIB" : "NORMAL"); break;
        case kParamDipsesThresh:
            out.fixed(v * 56.0 - 80.0, 1);
            out.put(" dB");
            break;
        case kParamNoiseReduce:
            // The minus sign is part of the text, so 0 shows as "-0.0 dB".
            out.put("-");
            out.fixed(v * 40.0, 1);
            out.put(" dB");
            break;
        case kParamAirSilk:
        case kParamDryWet:
            out.fixed(v * 100.0, 0);
            out.put(" %");
            break;
        case kParamOutputTrim: {
            const double db = (v - 0.5) * 24.0;
            if (!std::signbit(db)) out.put("+");
            out.fixed(db, 1);
            out.put(" dB");
            break;
        }
        case kParamBypass: out.put(isSwitchOn(p) ? "BYPASS" : "ACTIVE"); break;
        default: out.fixed(0.0, 2); break;
    }
    out.finish();
}

}  // namespace lumisere
