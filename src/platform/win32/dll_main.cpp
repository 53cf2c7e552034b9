// The library's load and unload hook. It forwards to the module layer (platform/library_hooks.h),
// which owns the library-wide state, and on FreeLibrary first to the editor window's class
// (win32/window_class.h).
//
// Everything here runs under the loader lock: no library may be loaded or freed, no thread waited for.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/library_hooks.h"
#include "platform/win32/window_class.h"

namespace __gnu_cxx {
// libstdc++'s hook for freeing what it keeps for the life of the process; its headers do not declare it.
void __freeres() noexcept;
}  // namespace __gnu_cxx

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        lumisere::platform::onLibraryLoad(module);
        // The plug-in keeps no per-thread state: spare every host thread a call into us.
        DisableThreadLibraryCalls(module);
        break;
    case DLL_PROCESS_DETACH:
        // reserved is null for FreeLibrary and non-null when the process is ending. Freed with an editor
        // open, the library first takes down its windows and their class, whose procedure is about to
        // be unmapped, and only then lets the module layer stop the graphics runtime they draw with. At process
        // exit the system reclaims both, and other libraries may already be gone.
        if (reserved == nullptr) lumisere::platform::closeWindowsAndUnregisterClass();
        lumisere::platform::onLibraryUnload(reserved != nullptr);
        // The C++ runtime linked into the DLL mallocs a 72 KiB emergency pool for exceptions when the
        // DLL loads and never frees it; a host that loads and frees the library again and again (a
        // plug-in scanner) would lose one per cycle. Nothing of ours runs after this.
        if (reserved == nullptr) __gnu_cxx::__freeres();
        break;
    default:
        break;
    }
    return TRUE;
}
