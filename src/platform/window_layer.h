// The window the editor lives in: a child surface of a given size inside a host's parent window, a
// 30 ms tick that asks the client to bring the picture up to date, an off-screen canvas the window
// keeps for its whole life (the client draws only what changed on it, and only that is copied to the
// window), no background erase, and the left button in client coordinates with the pointer captured
// (grabbed) while it is held. Backends: win32/ (a Win32 child window drawn with the GDI+ canvas) and
// x11/ (an Xlib child window with an event thread of its own, drawn with the Cairo canvas).
//
// A backend knows nothing of the editor: it calls a WindowClient, which the editor implements.
#pragma once

#include <memory>

#include "platform/drawing_layer.h"

namespace lumisere::platform {

// What the backend carries out after a pointer event.
struct PointerResponse {
    bool capture = false;  // route every pointer event to this window until released (grab)
    bool release = false;  // end the capture
    bool repaint = false;  // bring the picture up to date now rather than at the next tick
};

// The rectangles of a surface a paint changed; none when the picture stayed as it was.
struct Damage {
    static constexpr int kMaxRects = 16;

    IntRect rects[kMaxRects];
    int count = 0;

    // Adds r (nothing when empty); once full, the last rectangle grows to cover r as well.
    void add(const IntRect& r) {
        if (r.width <= 0 || r.height <= 0) return;
        if (count < kMaxRects) {
            rects[count++] = r;
            return;
        }
        IntRect& last = rects[kMaxRects - 1];
        const int right = last.x + last.width > r.x + r.width ? last.x + last.width : r.x + r.width;
        const int bottom = last.y + last.height > r.y + r.height ? last.y + last.height : r.y + r.height;
        last.x = last.x < r.x ? last.x : r.x;
        last.y = last.y < r.y ? last.y : r.y;
        last.width = right - last.x;
        last.height = bottom - last.y;
    }
};

// The editor's side. Every call comes on the window's thread: the thread that opened the window on
// Win32, the window's own event thread on X11.
class WindowClient {
public:
    virtual ~WindowClient() = default;

    // Bring the picture on canvas, width x height pixels, up to date and answer what changed; the
    // backend copies just that to the window. The canvas is the window's own and still holds what the
    // client last painted on it, unless `whole`: a new canvas (the first paint, a new size), which the
    // client paints whole. Called every 30 ms tick and after a pointer response asking for it; with
    // nothing changed the answer is empty and the call costs next to nothing.
    virtual Damage paint(Canvas& canvas, int width, int height, bool whole) = 0;

    // Left-button press at (x, y); clientHeight is the surface's current height. The second press of
    // a double-click does not come here but to doubleClickPress.
    virtual PointerResponse pointerPress(int x, int y, int clientHeight) = 0;
    // The second press of a quick pair (the platform's double-click time and distance).
    virtual PointerResponse doubleClickPress(int x, int y) = 0;
    // Pointer moved to (x, y); leftButtonHeld tells whether the left button is down. While captured
    // the coordinates may be negative or beyond the surface.
    virtual PointerResponse pointerMove(int x, int y, bool leftButtonHeld) = 0;
    // Left-button release, wherever the pointer is.
    virtual PointerResponse pointerRelease(int x, int y) = 0;
    // The capture or grab was taken away (another window, a focus change): no release will come.
    virtual void captureLost() = 0;
};

// An open editor window. Destroy it on the thread that opened it (the host's UI thread); destruction
// stops the tick, frees the capture, destroys the native window (if the host has not already) and
// returns only when no call into the client can come any more.
class ChildWindow {
public:
    virtual ~ChildWindow() = default;

    // The native handle: the HWND on Win32, the X11 Window id on X11; null once alive() is false.
    virtual void* nativeHandle() const = 0;

    // [ui thread] False once the native window is gone (destroyed together with the host's window).
    virtual bool alive() const = 0;
};

// [ui thread] Opens a width x height child at (0, 0) of `parent` (an HWND, or an X11 Window id cast to
// a pointer) and starts its tick. Null when parent is null, is no window, width or height is not
// positive, or the window cannot be made; nothing is left behind then. The client must outlive the
// window.
std::unique_ptr<ChildWindow> openChildWindow(void* parent, int width, int height, WindowClient& client);

// How many child windows of this library are open; the tests and the unload path read it.
int openChildWindowCount();

// Whether the client's calls come on the thread that opened the window (Win32) rather than on a
// thread of the window's own (X11).
bool clientCallsOnOpeningThread();

}  // namespace lumisere::platform
