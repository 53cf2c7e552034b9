// The one parameter table. Every fact about a parameter lives in its row: symbol, host name, editor caption,
// label (which is also the unit of its physical value), default, kind, the linear mapping from the
// host's normalised 0..1 value to physical units, how its display text is written, and a one-line
// description. The audio
// snapshot, the dispatcher, the editor, the command-line tool and other plug-in formats' port
// descriptions all read it from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumisere {

enum ParamIndex : int {
    kParamDeEssThresh = 0,
    kParamFocusFreq = 1,
    kParamListenSibilance = 2,
    kParamDipsesThresh = 3,
    kParamNoiseReduce = 4,
    kParamAirSilk = 5,
    kParamOutputTrim = 6,
    kParamDryWet = 7,
    kParamBypass = 8,
    kNumParams = 9,
};

enum class ParamKind {
    continuous,  // a knob or strip: units = p * unitsPerStep + unitsAtZero
    toggle,      // on only when p is strictly above 0.5; units are 0 (off) or 1 (on)
};

// How the display text writes the physical value (the label follows after a space).
enum class DisplayStyle {
    fixed,       // the value with `decimals` decimals, e.g. "-20.0 dB", "75 %"
    signedFixed, // the same with an explicit "+" for positive values and +0, e.g. "+6.0 dB"
    kiloBelow,   // from 1000 up in thousands with two decimals and a "k", e.g. "6.80 kHz"
    switchText,  // offText or onText
};

struct ParamSpec {
    // The parameter's stable name: the LV2 port symbol, the tool's option name (with dashes for the
    // underscores) and other formats' parameter ids. Saved sessions and scripts name parameters by it,
    // so it never changes, whatever the host name becomes.
    const char* symbol;
    const char* hostName;    // effGetParamName, e.g. "Focus Freq"
    const char* caption;     // editor caption, e.g. "FOCUS FREQ"; null where the editor shows none
    const char* label;       // effGetParamLabel and the unit of the physical value: "dB", "Hz", "%", ""
    float defaultValue;      // normalised
    ParamKind kind;
    // The linear mapping of a continuous parameter. Exact in double for every stored 32-bit value: the
    // products need at most 37 significant bits. A zero start is written -0.0, the one addend that
    // leaves every product as it is, the sign of a zero product included.
    double unitsPerStep;     // physical units per unit of p
    double unitsAtZero;      // physical value at p = 0
    DisplayStyle style;
    int decimals;            // decimals of the display text
    const char* offText;     // switch texts; null for continuous parameters
    const char* onText;
    // One line for a host's help text or tooltip (the LV2 port's rdfs:comment): what the control does.
    const char* description;
};

extern const ParamSpec kParams[kNumParams];

// Whether index names a parameter; negative indices count as out of range, as hosts' do.
constexpr bool isParamIndex(std::int64_t index) { return index >= 0 && index < kNumParams; }

// Switch threshold: the two switch parameters are on only strictly above this.
constexpr float kSwitchThreshold = 0.5f;

inline bool isSwitchOn(float p) { return p > kSwitchThreshold; }

// Every write of a parameter goes through this: values below or at 0 (including -0) become 0, values
// of 1 or more become 1, and a NaN becomes 1.
inline float clampParam(float value) {
    if (value < 1.0f) return value > 0.0f ? value : 0.0f;
    return 1.0f;
}

// The physical value of parameter index at normalised value p, in its label's unit (0 or 1 for the
// switches). p is the stored 32-bit value widened, or any double for the tool's range texts.
double paramUnits(int index, double p);

// Inverse of paramUnits for the continuous parameters; switches take 0 or 1 and give it back. The
// result is not clamped: callers check it against 0..1. An unknown index gives 0.
double unitsToNormalised(int index, double units);

// The physical value at the default.
inline double defaultUnits(int index) { return paramUnits(index, kParams[index].defaultValue); }

// What the audio core takes from the stored values, each computed in double from the 32-bit value.
inline double deEssThresholdDb(float p) { return paramUnits(kParamDeEssThresh, p); }  // -40 .. 0 dB
inline double focusFrequencyHz(float p) { return paramUnits(kParamFocusFreq, p); }    // 4000 .. 11000 Hz
inline double gateThresholdDb(float p) { return paramUnits(kParamDipsesThresh, p); }  // -80 .. -24 dB
inline double gateFloorDb(float p) { return paramUnits(kParamNoiseReduce, p); }       // 0 .. -40 dB
inline double outputTrimDb(float p) { return paramUnits(kParamOutputTrim, p); }       // -12 .. +12 dB
// The percent parameters reach the audio core as the fraction p itself (their units are 100 p).
inline double airAmount(float p) { return static_cast<double>(p); }  // 0 .. 1
inline double dryWetMix(float p) { return static_cast<double>(p); }  // wet share 0 .. 1

// Noise Reduce also sets the gate's expansion ratio, 2 + 2.5 p (2 .. 4.5): the deeper the floor, the
// steeper the expander. The slope is the ratio less one, in dB of gain per dB below the threshold.
constexpr double kGateRatioAtZero = 2.0;
constexpr double kGateRatioPerStep = 2.5;
inline double gateSlope(float p) {
    return (static_cast<double>(p) * kGateRatioPerStep + kGateRatioAtZero) - 1.0;  // 1 .. 3.5
}

// Display text of one parameter at value p into buf (capacity bytes, zero-terminated, truncated to
// fit). An index outside 0..8 gives "0.00". Texts do not depend on the C locale.
void formatParamDisplay(unsigned index, float p, char* buf, std::size_t capacity);

// The whole display text capacity hosts and the editor use.
constexpr std::size_t kParamDisplayCapacity = 32;

}  // namespace lumisere
