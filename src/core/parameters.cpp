#include "core/parameters.h"

#include <charconv>
#include <cmath>

namespace lumisere {

const ParamSpec kParams[kNumParams] = {
    // symbol, host name, caption, label, default, kind, units per step, units at 0, display, decimals, switch
    // texts, description
    {"de_ess_thresh", "De-Ess Thresh", "DE-ESS THRESH", "dB", 0.5f, ParamKind::continuous, 40.0, -40.0,
     DisplayStyle::fixed, 1, nullptr, nullptr, "Level of the focus band above which the de-esser lowers it"},
    {"focus_freq", "Focus Freq", "FOCUS FREQ", "Hz", 0.4f, ParamKind::continuous, 7000.0, 4000.0,
     DisplayStyle::kiloBelow, 0, nullptr, nullptr, "Centre of the band the de-esser listens to and lowers"},
    {"listen_sibilance", "Listen Sibilance", "LISTEN SIB", "", 0.0f, ParamKind::toggle, 0.0, 0.0,
     DisplayStyle::switchText, 0, "NORMAL", "SOLO SIB", "Outputs only what the de-esser removes, to tune it by ear"},
    {"dipses_thresh", "Dipses Thresh", "DIPSES THRESH", "dB", 0.45f, ParamKind::continuous, 56.0, -80.0,
     DisplayStyle::fixed, 1, nullptr, nullptr, "Level below which the hiss gate lowers the signal"},
    // A floor of 0 dB reads "-0.0 dB": the product at p = 0 is -0.
    {"noise_reduce", "Noise Reduce", "NOISE REDUCE", "dB", 0.6f, ParamKind::continuous, -40.0, -0.0,
     DisplayStyle::fixed, 1, nullptr, nullptr, "How far the hiss gate lowers the signal below its threshold"},
    {"air_silk", "172 Air Silk", "172 AIR SILK", "%", 0.75f, ParamKind::continuous, 100.0, -0.0, DisplayStyle::fixed, 0,
     nullptr, nullptr, "Amount of shaped high-frequency air added to the signal"},
    {"output_trim", "Output Trim", "OUTPUT TRIM", "dB", 0.5f, ParamKind::continuous, 24.0, -12.0,
     DisplayStyle::signedFixed, 1, nullptr, nullptr, "Gain of the processed signal"},
    {"dry_wet", "Dry/Wet", "DRY / WET", "%", 1.0f, ParamKind::continuous, 100.0, -0.0, DisplayStyle::fixed, 0, nullptr,
     nullptr, "Share of the processed signal in the output, the rest the unprocessed input"},
    {"bypass", "Bypass", nullptr, "", 0.0f, ParamKind::toggle, 0.0, 0.0, DisplayStyle::switchText, 0, "ACTIVE",
     "BYPASS", "Passes the input through unchanged"},
};

double paramUnits(int index, double p) {
    if (!isParamIndex(index)) return 0.0;
    const ParamSpec& row = kParams[index];
    if (row.kind == ParamKind::toggle) return p > kSwitchThreshold ? 1.0 : 0.0;
    return p * row.unitsPerStep + row.unitsAtZero;
}

double unitsToNormalised(int index, double units) {
    if (!isParamIndex(index)) return 0.0;
    const ParamSpec& row = kParams[index];
    if (row.kind == ParamKind::toggle) return units;
    return (units - row.unitsAtZero) / row.unitsPerStep;
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
    if (!isParamIndex(index)) {
        out.fixed(0.0, 2);
        out.finish();
        return;
    }
    const ParamSpec& row = kParams[index];
    const double units = paramUnits(static_cast<int>(index), p);
    switch (row.style) {
        case DisplayStyle::switchText: out.put(isSwitchOn(p) ? row.onText : row.offText); break;
        case DisplayStyle::kiloBelow:
            if (units < 1000.0) {
                out.fixed(units, row.decimals);
                out.put(" ");
            } else {
                out.fixed(units / 1000.0, 2);
                out.put(" k");
            }
            out.put(row.label);
            break;
        case DisplayStyle::signedFixed:
            if (!std::signbit(units)) out.put("+");
            [[fallthrough]];
        case DisplayStyle::fixed:
            out.fixed(units, row.decimals);
            out.put(" ");
            out.put(row.label);
            break;
    }
    out.finish();
}

}  // namespace lumisere
