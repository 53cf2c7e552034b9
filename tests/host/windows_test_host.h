// What a Windows test program that acts as a window host needs besides the plug-in: a message pump,
// the pixels a window shows, a count of the window classes a module registers, and a check that many
// opens and closes leave the process holding no more than before (windows, handles, heap bytes).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "windows_gdiplus_spy.h"  // redirectImport

namespace lumisere::test {

// Dispatches this thread's messages for ms milliseconds; pump(0) dispatches one, if any is queued.
// The clock is read after every message: a window whose paint takes longer than its tick (the
// editor's, under Wine's GDI+ on a busy machine) never lets the queue run dry.
inline void pump(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (GetTickCount64() >= end) return;
            continue;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

// Dispatches messages until done() holds, for 3 s at most (Wine on a busy machine is slow, not lost).
inline bool pumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 300 && !done(); ++i) pump(10);
    return done();
}

// The width x height pixels of dc from (x, y) as 0x00RRGGBB, top row first, copied with BitBlt (Wine's
// PrintWindow gives nothing for a window that paints itself with GDI+). Empty when the copy failed.
inline std::vector<std::uint32_t> readPixels(HDC dc, int x, int y, int width, int height) {
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return {};
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    std::vector<std::uint32_t> pixels;
    if (BitBlt(memory, 0, 0, width, height, dc, x, y, SRCCOPY)) {
        GdiFlush();
        const auto* first = static_cast<const std::uint32_t*>(bits);
        pixels.assign(first, first + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (std::uint32_t& p : pixels) p &= 0xFFFFFFu;
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return pixels;
}

// The pixels a window's client area shows, read from its own device context.
inline std::vector<std::uint32_t> windowPixels(HWND hwnd, int width, int height) {
    HDC dc = GetDC(hwnd);
    std::vector<std::uint32_t> pixels = readPixels(dc, 0, 0, width, height);
    ReleaseDC(hwnd, dc);
    return pixels;
}

// Registrations of one window class, counted through a module's import of RegisterClassExA.
using RegisterClassExAProc = ATOM(WINAPI*)(const WNDCLASSEXA*);
inline RegisterClassExAProc gRealRegisterClassExA = nullptr;
inline const char* gCountedClassName = nullptr;
inline int gClassRegistrations = 0;

inline ATOM WINAPI countingRegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass != nullptr && windowClass->lpszClassName != nullptr &&
        lstrcmpA(windowClass->lpszClassName, gCountedClassName) == 0) {
        ++gClassRegistrations;
    }
    return gRealRegisterClassExA(windowClass);
}

// Counts module's registrations of className in gClassRegistrations, from zero. False when the module
// does not import RegisterClassExA.
inline bool countClassRegistrations(HMODULE module, const char* className) {
    void* real = redirectImport(module, "user32.dll", "RegisterClassExA",
                                reinterpret_cast<void*>(&countingRegisterClassExA));
    if (real == nullptr) return false;
    if (real != reinterpret_cast<void*>(&countingRegisterClassExA)) {
        gRealRegisterClassExA = reinterpret_cast<RegisterClassExAProc>(real);
    }
    gCountedClassName = className;
    gClassRegistrations = 0;
    return true;
}

// Gives module its own RegisterClassExA back.
inline void stopCountingClassRegistrations(HMODULE module) {
    redirectImport(module, "user32.dll", "RegisterClassExA", reinterpret_cast<void*>(gRealRegisterClassExA));
}

// Every window of this thread, top-level and child.
inline int threadWindowCount() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND top, LPARAM total) {
            ++*reinterpret_cast<int*>(total);
            EnumChildWindows(
                top, [](HWND, LPARAM n) { return ++*reinterpret_cast<int*>(n), TRUE; }, total);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

// The process's kernel handles. Wine answers GetProcessHandleCount with 0, so there they are counted
// by asking after every handle value up to 64 Ki (handles are multiples of 4 from 4).
inline DWORD handleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    DWORD flags = 0;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

// Bytes in use on every heap of the process: what GDI+ and the C++ runtimes hold.
inline std::size_t heapBytesInUse() {
    HANDLE heaps[64];
    const DWORD n = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    std::size_t bytes = 0;
    for (DWORD i = 0; i < n; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return bytes;
}

// What a process holds that a window could leak. GetGuiResources answers 0 under Wine: the user and
// GDI object counts mean something on Windows only.
struct ResourceUsage {
    int windows;
    DWORD userObjects;
    DWORD gdiObjects;
    DWORD handles;
    std::size_t heapBytes;
};

inline ResourceUsage resourceUsage() {
    return ResourceUsage{threadWindowCount(), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
                         GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), handleCount(), heapBytesInUse()};
}

// Runs cycle(0..9) for GDI+ and the system to settle their caches, then cycle(0..199), and checks that
// every cycle answered true (it opened and painted) and that the process holds no more than before
// (heapRoom bytes of heap aside).
inline void expectCyclesLeaveNothingBehind(int count, const std::function<bool(int)>& cycle,
                                           std::size_t heapRoom = 64 * 1024) {
    for (int i = 0; i < 10; ++i) cycle(i);
    const ResourceUsage before = resourceUsage();
    int done = 0;
    for (int i = 0; i < count; ++i) done += cycle(i) ? 1 : 0;
    const ResourceUsage after = resourceUsage();
    EXPECT_EQ(done, count) << "cycles that went through";
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(after.userObjects, before.userObjects);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    // Room for what the system opens or caches lazily, not for one of anything a cycle: a picture
    // left behind is 1.7 MB.
    EXPECT_LE(after.handles, before.handles + 2);
    EXPECT_LE(after.heapBytes, before.heapBytes + heapRoom);
}

}  // namespace lumisere::test
