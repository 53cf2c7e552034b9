// State shared by every instance of this library, whatever plug-in format created it: the number of
// live instances, the graphics runtime the editors draw with (started with the first live instance,
// shut down with the last), and the platform's handle of the library.
#pragma once

#include <cstdint>

namespace lumisere {

// [ui thread] An instance came to life / is gone. Serialised (never on the audio path), so the
// graphics runtime starts and stops in pairs whatever threads a host creates and closes instances on.
void instanceCreated();
void instanceDestroyed();

// Number of live instances of this library.
int liveInstanceCount();

// The token of the running graphics runtime, 0 when none runs.
std::uintptr_t graphicsRuntimeToken();

// The platform's handle of this library, saved by the load hook; null where the platform has none.
void* libraryModuleHandle();

}  // namespace lumisere
