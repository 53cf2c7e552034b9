// What the platform's library load and unload notifications call into. The module layer
// (formats/module/library.cpp) implements these; the platform layer (the Windows load hook) only
// calls them.
#pragma once

namespace lumisere::platform {

// The library was mapped into the process; module is the platform's handle of it.
void onLibraryLoad(void* module);

// The library is about to be unmapped. processExiting is true when the whole process is ending (the
// loader lock is held and other threads are gone): then no other library may be called.
void onLibraryUnload(bool processExiting);

}  // namespace lumisere::platform
