// What an LV2 host knows the plug-in by: its URI and its ports. The adapter connects and reads the
// ports by these indices, and the Turtle generator (tools/lv2_ttl) describes the same ports, so the
// layout is written down once. A leaf beside the parameter table: no LV2 header is needed for it.
//
// Ports keep their index and symbol for as long as the URI stays: hosts save sessions by symbol, and
// some by index.
#pragma once

#include <cstdint>

#include "core/parameters.h"
#include "formats/module/identity.h"

namespace lumisere::lv2 {

// The plug-in's URI: the name hosts save in sessions and presets. It stands for this set of ports;
// a change to them that old sessions cannot follow needs a new URI.
inline constexpr const char* kPluginUri = kLv2Uri;

// The editor's URI (an X11 UI in the same bundle, Lumisere_ui.so), under the plug-in's.
inline constexpr const char* kUiUri = kLv2UiUri;

enum PortIndex : std::uint32_t {
    kPortInL = 0,  // audio in, left
    kPortInR = 1,
    kPortOutL = 2,  // audio out, left
    kPortOutR = 3,
    kPortFirstParam = 4,  // the nine parameters in the table's order, in their physical units
    kPortDeEssReduction = kPortFirstParam + kNumParams,  // out: the run's largest de-esser reduction, dB
    kPortGateReduction,                                  // out: the run's largest gate reduction, dB
    kNumPorts,
};

constexpr std::uint32_t paramPort(int paramIndex) { return kPortFirstParam + static_cast<std::uint32_t>(paramIndex); }

// Whether port names one of the nine control inputs; the parameter is then port - kPortFirstParam.
constexpr bool isParamPort(std::uint32_t port) { return port >= kPortFirstParam && port < kPortDeEssReduction; }

// The normalised value of a control input port's value, before the processor's clamp. A port holds a
// parameter in its physical unit as a 32-bit float, and that float is read as the shortest decimal
// that names it: the number a user typed or the Turtle file states ("-54.8"), mapped through the
// table's inverse in double, as the command-line tool maps the same text. Reading the float itself
// would land a step off for some values: -54.8 dB as a float is -54.79999924, whose inverse is
// 0.45000002 in single precision, not the default 0.45. A switch follows lv2:toggled: above zero is
// on (1), anything else off (0). Infinities map to infinities, which the clamp takes to the ends; a
// NaN gives NaN, which the adapter does not pass on.
float portValueToNormalised(int paramIndex, float portValue);

}  // namespace lumisere::lv2
