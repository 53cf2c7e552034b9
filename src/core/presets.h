// The named starting points: a handful of settings a person picks by name. This table, beside the
// parameter table, is the one place they are defined; the command-line tool (--preset NAME), the LV2
// bundle's presets (written by tools/lv2_ttl) and any format with presets read it from here. Values
// are in the parameters' own units, as their display shows them; a parameter a preset does not name
// stays at its default.
#pragma once

#include <array>

#include "core/parameters.h"

namespace lumisere {

// One setting of a preset, in the parameter's units (dB, Hz, %).
struct PresetValue {
    int param;     // ParamIndex
    double units;
};

constexpr int kMaxPresetValues = kNumParams;

struct FactoryPreset {
    const char* symbol;   // stable identifier, as the formats name it (the LV2 preset URI), e.g. "podcast_voice"
    const char* name;     // what a host lists, e.g. "Podcast voice"
    const char* summary;  // one line: what it is for
    int valueCount;
    PresetValue values[kMaxPresetValues];
};

constexpr int kNumFactoryPresets = 5;

extern const FactoryPreset kFactoryPresets[kNumFactoryPresets];

// The nine normalised values of a preset: the defaults with the preset's own values over them.
std::array<float, kNumParams> presetParams(const FactoryPreset& preset);

}  // namespace lumisere
