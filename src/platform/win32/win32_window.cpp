// The window layer on Win32: a child window of the host's HWND, drawn with a GDI+ canvas the window
// keeps for its life, ticked by a 30 ms WM_TIMER, with the left button captured while held. The tick
// lets the client bring the canvas up to date and invalidates only what it changed. ANSI entry points
// throughout.
//
// Threads: a window belongs to the thread that opened it (the host's UI thread); the system delivers
// its messages there, so every call into the client comes on that thread. Only the count may be
// asked for from elsewhere.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/win32/gdiplus_canvas.h"
#include "platform/win32/window_class.h"
#include "platform/window_layer.h"

namespace lumisere::platform {
namespace {

constexpr char kWindowTitle[] = LUMISERE_PRODUCT_NAME;  // from the top-level CMakeLists.txt
// Double-clicks are asked for; the window is repainted whole when its size changes.
constexpr UINT kClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
constexpr UINT_PTR kTickTimerId = 1;
constexpr UINT kTickMs = 30;

LRESULT CALLBACK editorWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class Win32ChildWindow;

// Library-wide, guarded by gWindowsMutex: the windows attached to their objects, and the module the
// class is registered with (null while it is not).
std::mutex gWindowsMutex;
std::vector<Win32ChildWindow*> gOpenWindows;
HMODULE gClassModule = nullptr;

// Mouse coordinates are signed 16-bit words in lParam: negative left of or above the window while
// the pointer is captured.
int pointerX(LPARAM lParam) { return static_cast<short>(lParam & 0xFFFF); }
int pointerY(LPARAM lParam) { return static_cast<short>((lParam >> 16) & 0xFFFF); }

class Win32ChildWindow final : public ChildWindow {
public:
    explicit Win32ChildWindow(WindowClient& client) : client_(client) {}
    ~Win32ChildWindow() override;

    Win32ChildWindow(const Win32ChildWindow&) = delete;
    Win32ChildWindow& operator=(const Win32ChildWindow&) = delete;

    void* nativeHandle() const override { return hwnd_.load(); }
    bool alive() const override { return hwnd_.load() != nullptr; }

    // [WM_CREATE] Ties the new window to this object. False when it could not be listed.
    bool attach(HWND hwnd) {
        try {
            std::lock_guard<std::mutex> lock(gWindowsMutex);
            gOpenWindows.push_back(this);
        } catch (...) {
            return false;
        }
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        hwnd_.store(hwnd);
        return true;
    }

    // Unties the window: no message reaches the client afterwards. Returns the window it had, null
    // when it was already detached.
    HWND detach() {
        const HWND hwnd = hwnd_.exchange(nullptr);
        if (hwnd == nullptr) return nullptr;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        std::lock_guard<std::mutex> lock(gWindowsMutex);
        gOpenWindows.erase(std::remove(gOpenWindows.begin(), gOpenWindows.end(), this), gOpenWindows.end());
        return hwnd;
    }

    LRESULT handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // [window thread] Frees the canvas while GDI+ still runs (the library's unload stops it next).
    void dropCanvas() { canvas_.reset(); }

private:
    void update(HWND hwnd);
    void paint(HWND hwnd);
    void carryOut(HWND hwnd, PointerResponse response);

    WindowClient& client_;
    std::atomic<HWND> hwnd_{nullptr};
    // [window thread] The picture, kept from paint to paint; remade (and painted whole) when the client
    // size changes. Freed with the window, before the library can stop GDI+.
    std::unique_ptr<GdiplusCanvas> canvas_;
    bool releasing_ = false;  // our own ReleaseCapture is under way: its WM_CAPTURECHANGED is no loss
};

Win32ChildWindow::~Win32ChildWindow() {
    // Detached first, so not even the capture loss below reaches the client.
    const HWND hwnd = detach();
    if (hwnd == nullptr || !IsWindow(hwnd)) return;  // the host destroyed it first, or it never opened
    KillTimer(hwnd, kTickTimerId);
    if (GetCapture() == hwnd) ReleaseCapture();
    DestroyWindow(hwnd);
}

// BeginPaint and its EndPaint, which must come even when the picture fails: an update region left
// valid would be asked for again and again.
struct PaintScope {
    explicit PaintScope(HWND w) : hwnd(w) { dc = BeginPaint(hwnd, &ps); }
    ~PaintScope() { EndPaint(hwnd, &ps); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HWND hwnd;
    PAINTSTRUCT ps{};
    HDC dc = nullptr;
};

// Lets the client bring the kept canvas up to date and invalidates what it changed.
void Win32ChildWindow::update(HWND hwnd) {
    RECT client{};
    GetClientRect(hwnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    bool whole = false;
    if (canvas_ == nullptr || canvas_->width() != width || canvas_->height() != height) {
        canvas_.reset();  // the old one's GDI+ objects go before the new one's are made
        canvas_.reset(new (std::nothrow) GdiplusCanvas(width, height));
        whole = true;
    }
    if (canvas_ == nullptr) return;
    const Damage damage = client_.paint(*canvas_, width, height, whole);
    for (int i = 0; i < damage.count; ++i) {
        const IntRect& r = damage.rects[i];
        const RECT area{r.x, r.y, r.x + r.width, r.y + r.height};
        InvalidateRect(hwnd, &area, FALSE);
    }
}

void Win32ChildWindow::paint(HWND hwnd) {
    // The first paint, or one after a size change, comes before the tick could bring the canvas up to date.
    RECT client{};
    GetClientRect(hwnd, &client);
    if (canvas_ == nullptr || canvas_->width() != client.right || canvas_->height() != client.bottom) update(hwnd);
    PaintScope scope(hwnd);
    if (scope.dc == nullptr || canvas_ == nullptr) return;
    // Only the invalid part, from the finished picture off screen: the window never shows a half-drawn frame.
    const RECT& invalid = scope.ps.rcPaint;
    canvas_->copyTo(scope.dc, {invalid.left, invalid.top, invalid.right - invalid.left, invalid.bottom - invalid.top});
}

void Win32ChildWindow::carryOut(HWND hwnd, PointerResponse response) {
    if (response.release && GetCapture() == hwnd) {
        releasing_ = true;
        ReleaseCapture();
        releasing_ = false;
    }
    if (response.capture) SetCapture(hwnd);
    if (response.repaint) update(hwnd);
}

LRESULT Win32ChildWindow::handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint(hwnd);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel; an erase before it would only flicker
    case WM_TIMER:
        if (wParam != kTickTimerId) break;
        update(hwnd);
        return 0;
    case WM_LBUTTONDOWN: {
        RECT client{};
        GetClientRect(hwnd, &client);
        carryOut(hwnd, client_.pointerPress(pointerX(lParam), pointerY(lParam), client.bottom - client.top));
        return 0;
    }
    case WM_LBUTTONDBLCLK:
        // The second press of a pair: the class asks for CS_DBLCLKS, so no WM_LBUTTONDOWN comes for it.
        carryOut(hwnd, client_.doubleClickPress(pointerX(lParam), pointerY(lParam)));
        break;
    case WM_MOUSEMOVE:
        carryOut(hwnd, client_.pointerMove(pointerX(lParam), pointerY(lParam), (wParam & MK_LBUTTON) != 0));
        return 0;
    case WM_LBUTTONUP:
        carryOut(hwnd, client_.pointerRelease(pointerX(lParam), pointerY(lParam)));
        return 0;
    case WM_CAPTURECHANGED:
        // lParam is the window that takes the capture: a SetCapture of our own while we hold it is no loss.
        if (!releasing_ && reinterpret_cast<HWND>(lParam) != hwnd) client_.captureLost();
        return 0;
    case WM_DESTROY:
    case WM_NCDESTROY:
        // Also when the host destroys its own window first, taking ours with it.
        detach();
        dropCanvas();
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK editorWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may cross the system's frames back to the host's message loop.
    try {
        if (message == WM_CREATE) {
            // The creation parameter is the window's object: attached before CreateWindowExA returns.
            auto* window = static_cast<Win32ChildWindow*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
            return window != nullptr && window->attach(hwnd) ? 0 : -1;
        }
        auto* window = reinterpret_cast<Win32ChildWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (window != nullptr) return window->handle(hwnd, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The module that holds this code: the plug-in DLL, or a test program linked with it.
HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&editorWindowProc), &module);
    return module;
}

// [gWindowsMutex held] Registers the class with module unless this load of the library already has.
bool registerClassLocked(HMODULE module) {
    if (gClassModule != nullptr) return true;
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(module, kEditorWindowClassName, &existing) != 0) {
        // Left by an earlier load of this library at the same address, whose unload could not remove it
        // (a window of another thread held it): its procedure is this one, mapped again, so it serves.
        if (existing.lpfnWndProc == &editorWindowProc) {
            gClassModule = module;
            return true;
        }
        // Any other procedure is not ours to call: the class is replaced, or, if that fails, no window opens.
        UnregisterClassA(kEditorWindowClassName, module);
    }
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = &editorWindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kEditorWindowClassName;
    // No icon, cursor, background brush or menu: a child window needs none, and the paint covers it.
    if (RegisterClassExA(&windowClass) == 0) return false;
    gClassModule = module;
    return true;
}

}  // namespace

std::unique_ptr<ChildWindow> openChildWindow(void* parent, int width, int height, WindowClient& client) {
    const auto parentWindow = static_cast<HWND>(parent);
    // IsWindow answers for any value, a stale or made-up handle too, without touching it.
    if (parentWindow == nullptr || !IsWindow(parentWindow) || width <= 0 || height <= 0) return nullptr;
    const HMODULE module = thisModule();
    if (module == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> lock(gWindowsMutex);
        if (!registerClassLocked(module)) return nullptr;
    }
    std::unique_ptr<Win32ChildWindow> window(new (std::nothrow) Win32ChildWindow(client));
    if (window == nullptr) return nullptr;
    const HWND hwnd = CreateWindowExA(0, kEditorWindowClassName, kWindowTitle, WS_CHILD | WS_VISIBLE, 0, 0, width,
                                      height, parentWindow, nullptr, module, window.get());
    // Without its tick the window is not what was asked for: the destructor takes it down again.
    if (hwnd == nullptr || SetTimer(hwnd, kTickTimerId, kTickMs, nullptr) == 0) return nullptr;
    return window;
}

bool clientCallsOnOpeningThread() { return true; }

int openChildWindowCount() {
    std::lock_guard<std::mutex> lock(gWindowsMutex);
    return static_cast<int>(gOpenWindows.size());
}

bool closeWindowsAndUnregisterClass() {
    const DWORD thisThread = GetCurrentThreadId();
    for (;;) {
        Win32ChildWindow* window = nullptr;
        {
            std::lock_guard<std::mutex> lock(gWindowsMutex);
            if (gOpenWindows.empty()) break;
            window = gOpenWindows.back();
        }
        // Detaching takes it off the list; its object stays with its owner, who can no longer run.
        const HWND hwnd = window->detach();
        if (hwnd == nullptr) continue;
        if (GetWindowThreadProcessId(hwnd, nullptr) == thisThread) {
            window->dropCanvas();
            DestroyWindow(hwnd);
        } else {
            // Only its own thread may destroy it. From now on its messages go to the system's procedure
            // instead of ours, which is about to be unmapped; WM_CLOSE makes that procedure destroy it.
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
        }
    }
    std::lock_guard<std::mutex> lock(gWindowsMutex);
    if (gClassModule == nullptr) return true;
    if (UnregisterClassA(kEditorWindowClassName, gClassModule) == 0) return false;
    gClassModule = nullptr;
    return true;
}

}  // namespace lumisere::platform
