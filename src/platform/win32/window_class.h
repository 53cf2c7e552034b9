// The editor window's class and what becomes of it when the library is unloaded.
//
// The class "OstrelLumisereEditorWndClass" is registered with this library's module at the first
// window opened; the system keeps it, with the address of our window procedure, until it is
// unregistered or the process ends. A host that frees the library therefore must not leave a window or
// the class behind: both would point into code that is no longer mapped.
#pragma once

namespace lumisere::platform {

// The window class's name, as GetClassName reports it.
inline constexpr char kEditorWindowClassName[] = "OstrelLumisereEditorWndClass";

// [the load hook, on FreeLibrary only; never at process exit] Makes the library safe to unmap. Every
// editor window still open is detached from its client and destroyed: at once when it belongs to the
// calling thread; a window of another thread (which DestroyWindow cannot reach) is handed to
// DefWindowProcA and sent WM_CLOSE, so its own thread destroys it at its next message. Then the class
// is unregistered, and the next window opened registers it again.
//
// Returns true when the class is no longer registered (or never was); false when a window of another
// thread still holds it. Runs under the loader lock: it loads and frees nothing and waits for nothing
// longer than the brief hold of the window list's lock.
bool closeWindowsAndUnregisterClass();

}  // namespace lumisere::platform
