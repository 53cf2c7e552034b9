// The floating-point guard every host entry of every plug-in binary holds for the length of the call,
// whatever the format: the entry points of the VST 2.x dispatcher and parameter slots, the LV2
// descriptor's and the LV2 UI descriptor's, and those of any format to come.
//
// Hosts built for debugging often run with exceptions unmasked (feenableexcept, _controlfp) to trap
// their own mistakes. A NaN, an infinity or a huge value from the host (a rate, a parameter, a port)
// would then trap inside the plug-in. Masked, such operations give their IEEE results, which the
// plug-in is built to take; the caller gets its own mode back exactly (dsp/denormal_guard.h). Nothing
// is flushed here, so a subnormal a host sets as a parameter is stored as it came; the audio core
// flushes within its own guard.
#pragma once

#include "dsp/denormal_guard.h"

namespace lumisere {

using HostEntryGuard = dsp::FloatModeGuard<false>;

}  // namespace lumisere
