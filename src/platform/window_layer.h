// The window the editor lives in: a child surface of a given size inside a host's parent window, a
// 30 ms repaint tick, whole-surface repaints that merge, composition off screen with one copy to the
// window, no background erase, and the left button in client coordinates with the pointer captured
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
    bool repaint = false;  // repaint the whole surface (merged with other requests)
};

// The editor's side. Every call comes on the window's thread: the thread that opened the window on
// Win32, the window's own event thread on X11.
class WindowClient {
public:
    virtual ~WindowClient() = default;

    // Compose the whole picture for a surface of width x height pixels. The backend gives a fresh
    // off-screen canvas of that size and copies it to the window in one piece afterwards.
    virtual void paint(Canvas& canvas, int width, int height) = 0;

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

    // The 30 ms tick, just before the repaint it causes.
    virtual void tick() {}
};

// An open editor window. Destroy it on the thread that opened it (the host's UI thread); destruction
// stops the tick, frees the capture, destroys the native window (if the host has not already) and
// returns only when no call into the client can come any more.
class ChildWindow {
public:
    virtual ~ChildWindow() = default;

    // [any thread] Ask for a repaint. Merges with other requests; never touches the window system
    // from the calling thread except where that is safe (Win32's InvalidateRect is).
    virtual void requestRepaint() = 0;

    // The native handle: the HWND on Win32, the X11 Window id on X11; null once alive() is false.
    virtual void* nativeHandle() const = 0;

    // [ui thread] False once the native window is gone (destroyed together with the host's window).
    virtual bool alive() const = 0;

    // A window whose events the host's own loop serves (EventDriver::host): the descriptor to watch
    // for input (-1 where there is none), and the call that serves what is waiting, ticks when a tick
    // is due and paints. [ui thread]
    virtual int eventDescriptor() const { return -1; }
    virtual void serveEvents() {}
};

// Who serves a window's events. The Win32 window is served by the thread that opened it either way
// (the host's message loop).
enum class EventDriver {
    ownThread,  // an event thread of the window's own (X11)
    host,       // the host's UI thread, through serveEvents at least every 30 ms and when the descriptor reads
};

// [ui thread] Opens a width x height child at (0, 0) of `parent` (an HWND, or an X11 Window id cast to
// a pointer) and starts its tick. Null when parent is null, is no window, width or height is not
// positive, or the window cannot be made; nothing is left behind then. The client must outlive the
// window.
std::unique_ptr<ChildWindow> openChildWindow(void* parent, int width, int height, WindowClient& client,
                                             EventDriver driver = EventDriver::ownThread);

// How many child windows of this library are open; the tests and the unload path read it.
int openChildWindowCount();

}  // namespace lumisere::platform
