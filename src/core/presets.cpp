#include "core/presets.h"

namespace lumisere {

// The de-esser's threshold sits where ordinary esses cross it (lower acts sooner), the gate's where the
// hiss of a quiet or a noisy room lies, with a floor as deep as that room needs. Every value lies in
// its parameter's range.
const FactoryPreset kFactoryPresets[kNumFactoryPresets] = {
    {"podcast_voice", "Podcast voice", "spoken word in an ordinary room: firm on esses, quiet pauses", 5,
     {{kParamDeEssThresh, -28.0}, {kParamFocusFreq, 6800.0}, {kParamDipsesThresh, -52.0},
      {kParamNoiseReduce, -24.0}, {kParamAirSilk, 60.0}}},
    {"gentle_vocal", "Gentle vocal", "singing or close-miked voice: only the sharpest esses, a light gate", 4,
     {{kParamDeEssThresh, -16.0}, {kParamFocusFreq, 7500.0}, {kParamDipsesThresh, -62.0},
      {kParamNoiseReduce, -12.0}}},
    {"harsh_esses", "Harsh esses", "a bright voice or microphone: esses taken down hard, lower in the band", 3,
     {{kParamDeEssThresh, -36.0}, {kParamFocusFreq, 6000.0}, {kParamNoiseReduce, -18.0}}},
    {"noisy_room", "Noisy room", "audible hiss or fan noise: a high gate threshold and a deep floor", 3,
     {{kParamDeEssThresh, -26.0}, {kParamDipsesThresh, -42.0}, {kParamNoiseReduce, -36.0}}},
    {"air_only", "Air only", "no de-essing, no gate: only the air band's sheen", 4,
     {{kParamDeEssThresh, 0.0}, {kParamDipsesThresh, -80.0}, {kParamNoiseReduce, 0.0}, {kParamAirSilk, 100.0}}},
};

std::array<float, kNumParams> presetParams(const FactoryPreset& preset) {
    std::array<float, kNumParams> params{};
    for (int i = 0; i < kNumParams; ++i) params[i] = kParams[i].defaultValue;
    for (int v = 0; v < preset.valueCount; ++v) {
        const PresetValue& value = preset.values[v];
        params[value.param] = clampParam(static_cast<float>(unitsToNormalised(value.param, value.units)));
    }
    return params;
}

}  // namespace lumisere
