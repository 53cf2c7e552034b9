// Watches the GDI+ start and stop calls of a loaded plug-in DLL. The DLL's import entries for
// GdiplusStartup and GdiplusShutdown are pointed at recorders that note each call and pass it on to the
// real GDI+, so a test sees what the shipped DLL does, its load hook included, without a test build.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

#include <cstring>

namespace lumisere::test {

using GdiplusStartupProc = Gdiplus::Status(WINAPI*)(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                                                     Gdiplus::GdiplusStartupOutput* output);
using GdiplusShutdownProc = void(WINAPI*)(ULONG_PTR token);

struct GdiplusCalls {
    int startups = 0;
    int shutdowns = 0;
    ULONG_PTR startedToken = 0;   // returned by the latest start
    ULONG_PTR shutdownToken = 0;  // given to the latest shutdown
    // What the latest start asked for.
    UINT32 version = 0;
    bool debugCallback = false;
    bool suppressBackgroundThread = false;
    bool suppressExternalCodecs = false;
    bool outputRequested = false;
};

inline GdiplusCalls gGdiplusCalls;
inline GdiplusStartupProc gRealGdiplusStartup = nullptr;
inline GdiplusShutdownProc gRealGdiplusShutdown = nullptr;
// Called at every shutdown before it is passed on; lets a test act at the very moment of the call.
inline void (*gOnGdiplusShutdown)() = nullptr;

inline Gdiplus::Status WINAPI recordGdiplusStartup(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                                                   Gdiplus::GdiplusStartupOutput* output) {
    GdiplusCalls& calls = gGdiplusCalls;
    ++calls.startups;
    if (input != nullptr) {
        calls.version = input->GdiplusVersion;
        calls.debugCallback = input->DebugEventCallback != nullptr;
        calls.suppressBackgroundThread = input->SuppressBackgroundThread != FALSE;
        calls.suppressExternalCodecs = input->SuppressExternalCodecs != FALSE;
    }
    calls.outputRequested = output != nullptr;
    const Gdiplus::Status status = gRealGdiplusStartup(token, input, output);
    calls.startedToken = token != nullptr ? *token : 0;
    return status;
}

inline void WINAPI recordGdiplusShutdown(ULONG_PTR token) {
    ++gGdiplusCalls.shutdowns;
    gGdiplusCalls.shutdownToken = token;
    if (gOnGdiplusShutdown != nullptr) gOnGdiplusShutdown();
    gRealGdiplusShutdown(token);
}

// Points module's import of dll!function at replacement. Returns the address it held, or null when the
// module does not import that function by name.
inline void* redirectImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD oldProtection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &oldProtection)) {
                return nullptr;
            }
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
            return previous;
        }
    }
    return nullptr;
}

// Starts recording the GDI+ start and stop calls of the loaded plug-in. False when the module does not
// import both; the DLL then cannot be watched (and does not start GDI+ the way it should).
inline bool spyOnGdiplus(HMODULE plugin) {
    void* startup = redirectImport(plugin, "gdiplus.dll", "GdiplusStartup",
                                   reinterpret_cast<void*>(&recordGdiplusStartup));
    void* shutdown = redirectImport(plugin, "gdiplus.dll", "GdiplusShutdown",
                                    reinterpret_cast<void*>(&recordGdiplusShutdown));
    if (startup == nullptr || shutdown == nullptr) return false;
    gRealGdiplusStartup = reinterpret_cast<GdiplusStartupProc>(startup);
    gRealGdiplusShutdown = reinterpret_cast<GdiplusShutdownProc>(shutdown);
    return true;
}

}  // namespace lumisere::test
