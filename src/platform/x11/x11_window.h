// What the X11 window backend tells beyond the window layer (platform/window_layer.h), for the tests
// and for diagnosis.
#pragma once

namespace lumisere::platform {

// How many X protocol errors the editors' own connections have taken and swallowed since the library
// was loaded: a parent id that is no window, a window the host destroyed under a paint. None of them
// reaches Xlib's process-wide error handler, which is the host's.
int x11SwallowedErrorCount();

}  // namespace lumisere::platform
