// GDI+ as the process-wide graphics runtime: started with the library's first live instance, shut
// down with its last (the module layer counts the instances).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

#include "platform/graphics_runtime.h"

namespace lumisere::platform {

// [ui thread] Never from the load hook: GdiplusStartup creates a thread and must not run under the
// loader lock.
std::uintptr_t startGraphicsRuntime() {
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;  // GDI+ runs its own background thread
    input.SuppressExternalCodecs = FALSE;
    ULONG_PTR token = 0;
    // The status is not examined: if GDI+ did not start, the editor's drawing calls fail one by one and
    // the audio is unaffected. The token stays 0 then, and stopGraphicsRuntime does nothing with it.
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    return token;
}

// [ui thread] With the last instance's close; also from the unload hook when a host frees the library
// with instances still open. Never at process exit (the module layer's unload hook returns before that).
void stopGraphicsRuntime(std::uintptr_t token) {
    if (token != 0) Gdiplus::GdiplusShutdown(token);
}

}  // namespace lumisere::platform
