#include "core/parameters.h"

#include <charconv>
#include <cctype>
#include <cmath>
#include <string>

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

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// A number followed by an optional unit: "-30", "+1.5dB", "7.2 kHz". Non-finite numbers ("inf",
// "nan") are not values anyone sets a knob to and are refused.
bool splitNumber(std::string_view text, double& number, std::string_view& unit) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
    if (result.ec != std::errc() || !std::isfinite(number)) return false;
    unit = trim(text.substr(static_cast<std::size_t>(result.ptr - text.data())));
    return true;
}

bool readUnits(int index, std::string_view text, double& units) {
    const ParamSpec& row = kParams[index];
    if (row.kind == ParamKind::toggle) {
        const std::string_view word = trim(text);
        for (const char* on : {"on", "true", "yes", "1", row.onText}) {
            if (sameWord(word, on)) return units = 1.0, true;
        }
        for (const char* off : {"off", "false", "no", "0", row.offText}) {
            if (sameWord(word, off)) return units = 0.0, true;
        }
        return false;
    }
    std::string_view unit;
    if (!splitNumber(text, units, unit)) return false;
    const std::string_view label = row.label;
    if (unit.empty() || sameWord(unit, label)) return true;
    if (label == "Hz" && (sameWord(unit, "k") || sameWord(unit, "khz"))) return units *= 1000.0, true;
    return false;
}

}  // namespace

ParamTextResult parseParamText(int index, std::string_view text, double& units, double& normalised) {
    if (!isParamIndex(index) || !readUnits(index, text, units)) return ParamTextResult::notAValue;
    normalised = unitsToNormalised(index, units);
    return normalised >= 0.0 && normalised <= 1.0 ? ParamTextResult::ok : ParamTextResult::outOfRange;
}

}  // namespace lumisere
