// The one parameter table: host names, captions, labels, defaults, the mapping from the host's
// normalised 0..1 value to physical units, and the display texts. Everything that knows a parameter
// (dispatcher, audio snapshot, editor, command-line tool) reads it from here.
#pragma once

#include <cstddef>

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
    continuous,  // a knob or strip: physical value = toUnits(p)
    toggle,      // on only when p is strictly above 0.5
};

struct ParamSpec {
    const char* hostName;  // effGetParamName, e.g. "Focus Freq"
    const char* caption;   // editor caption, e.g. "FOCUS FREQ"; null where the editor shows none
    const char* label;     // effGetParamLabel, e.g. "Hz"; empty for the switches
    float defaultValue;    // normalised
    ParamKind kind;
    double (*toUnits)(double p);  // physical value in the display unit (dB, Hz, %, or 0/1 for switches)
    const char* unit;      // unit of toUnits: "dB", "Hz", "%", or "" for the switches
};

extern const ParamSpec kParams[kNumParams];

// Switch threshold: the two switch parameters are on only strictly above this.
constexpr float kSwitchThreshold = 0.5f;

inline bool isSwitchOn(float p) { return p > kSwitchThreshold; }

// Every write of a parameter goes through this: values below or at 0 (including -0) become 0, values
// of 1 or more become 1, and a NaN becomes 1.
inline float clampParam(float value) {
    if (value < 1.0f) return value > 0.0f ? value : 0.0f;
    return 1.0f;
}

// Physical values the audio core uses, each computed in double from the stored 32-bit value.
double deEssThresholdDb(float p);      // -40 .. 0 dB
double focusFrequencyHz(float p);      // 4000 .. 11000 Hz
double gateThresholdDb(float p);       // -80 .. -24 dB
double gateFloorDb(float p);           // 0 .. -40 dB
double gateSlope(float p);             // 1 .. 3.5 dB of gain per dB below the threshold
double airAmount(float p);             // 0 .. 1
double outputTrimDb(float p);          // -12 .. +12 dB
double dryWetMix(float p);             // wet share 0 .. 1

// Inverse of ParamSpec::toUnits for the continuous parameters (the command-line tool's mapping);
// switches take 0 or 1. The result is not clamped: callers check it against 0..1.
double unitsToNormalised(int index, double units);

// Display text of one parameter at value p into buf (capacity bytes, zero-terminated, truncated to
// fit). An index outside 0..8 gives "0.00". Texts do not depend on the C locale.
void formatParamDisplay(unsigned index, float p, char* buf, std::size_t capacity);

// The whole display text capacity hosts and the editor use.
constexpr std::size_t kParamDisplayCapacity = 32;

}  // namespace lumisere
