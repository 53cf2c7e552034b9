// The window layer on X11: a child window on the editor's own Xlib connection, served by an event
// thread of its own that hands the pointer to the client, ticks every 30 ms and copies to the window
// only what the client's paint changed on the canvas the window keeps.
//
// Threads. openChildWindow and the destructor run on the host's UI thread; in between, the event
// thread is the connection's only user (the UI thread hands the connection over by starting the thread
// and takes it back after the join), so Xlib needs no locking of its own (no XInitThreads). The stop
// wakes the event thread through an eventfd it polls beside the connection: no X call ever comes from
// a foreign thread.
// Driven by the host (EventDriver::host), there is no event thread: the host's UI thread serves the
// connection in serveEvents, called from its own loop, and is then its only user.
//
// Errors. Xlib's process-wide error handler belongs to the host, and Xlib's default one ends the
// process on a BadWindow. We never touch it: our connection carries an extension record of its own
// whose error hook (XESetError) counts and swallows every protocol error of that connection, so a
// garbage parent id or a window destroyed under a paint never reaches the host's handler, and several
// editors never race each other (or the host) over XSetErrorHandler. Xlib asks that hook only about
// errors it reads while a call waits for a reply, so every batch of our requests ends with a round trip
// (XSync, or a request with a reply) before anything reads events: with no request outstanding, event
// reading cannot meet an error.
//
// A broken connection (the X server gone) is an I/O error. Xlib first calls its process-wide I/O error
// handler, whose default ends the process, then the connection's own exit handler, whose default ends
// it too. While an editor connection is open we put a handler of ours in front of the process-wide
// one: for our connections it returns, for any other it calls the handler it replaced (the host's, or
// Xlib's); the last connection to close puts that one back. Our connections' exit handler
// (XSetIOErrorExitHandler, libX11 1.7) marks the window lost and returns too, so the Xlib call returns,
// every later one on that connection does nothing, and the event thread closes the connection and ends:
// the editor goes, the host stays.
#include "platform/x11/x11_window.h"

#include <cairo.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/cairo/cairo_canvas.h"
#include "platform/window_layer.h"

// Xlib last: Xlibint.h (the extension writer's interface, for XESetError) defines min and max.
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/extensions/XShm.h>
#undef min
#undef max

namespace lumisere::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTickPeriod = std::chrono::milliseconds(30);

// A second press counts as a double-click within Windows' default time and box: 500 ms, and a box 4
// pixels wide and high centred on the first press, i.e. at most 2 pixels away on each axis.
constexpr std::uint32_t kDoubleClickMs = 500;
constexpr int kDoubleClickSlopPx = 2;

// X resource ids keep their top three bits zero; anything larger cannot be a window.
constexpr std::uintptr_t kLargestXid = 0x1FFFFFFF;
// X window sizes are 16-bit, and coordinates signed.
constexpr int kLargestSide = 32767;

constexpr long kEventMask = ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | EnterWindowMask | LeaveWindowMask;
constexpr unsigned kGrabMask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr int kNativeByteOrder = LSBFirst;
#else
constexpr int kNativeByteOrder = MSBFirst;
#endif

std::atomic<int> gOpenWindows{0};
std::atomic<int> gSwallowedErrors{0};

class X11ChildWindow;

// The windows whose event threads run, so the library can stop them before it is unmapped.
std::mutex gRunningMutex;
std::vector<X11ChildWindow*> gRunning;

// Our open connections, and the process-wide I/O error handler ours stands in front of while there are
// any; under gRunningMutex.
std::vector<Display*> gOwnDisplays;
XIOErrorHandler gReplacedIoHandler = nullptr;

int ioErrorOfAnyConnection(Display* display) {
    XIOErrorHandler replaced = nullptr;
    {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        if (std::find(gOwnDisplays.begin(), gOwnDisplays.end(), display) != gOwnDisplays.end()) return 0;
        replaced = gReplacedIoHandler;
    }
    return replaced != nullptr ? replaced(display) : 0;
}

// The error hook of our connections: the error is counted and goes no further; the call that waited
// for its reply reports failure (status 0), as it would after a handler that returns.
int swallowError(Display*, xError*, XExtCodes*, int* status) {
    gSwallowedErrors.fetch_add(1, std::memory_order_relaxed);
    *status = 0;
    return True;
}

void closeConnection(Display* display) {
    XCloseDisplay(display);
    std::lock_guard<std::mutex> lock(gRunningMutex);
    gOwnDisplays.erase(std::remove(gOwnDisplays.begin(), gOwnDisplays.end(), display), gOwnDisplays.end());
    if (!gOwnDisplays.empty()) return;
    // Put the replaced handler back, unless someone has put one of their own in front of ours since.
    const XIOErrorHandler current = XSetIOErrorHandler(gReplacedIoHandler);
    if (current != ioErrorOfAnyConnection) XSetIOErrorHandler(current);
    gReplacedIoHandler = nullptr;
}

// The editor's own connection to the display named by DISPLAY, with the error hook and the I/O error
// handlers in place; null when there is no display.
Display* openConnection(XIOErrorExitHandler lost, void* lostData) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        if (gOwnDisplays.empty()) {
            const XIOErrorHandler previous = XSetIOErrorHandler(ioErrorOfAnyConnection);
            gReplacedIoHandler = previous != ioErrorOfAnyConnection ? previous : nullptr;
        }
        gOwnDisplays.push_back(display);
    }
    XSetIOErrorExitHandler(display, lost, lostData);
    XExtCodes* codes = XAddExtension(display);
    if (codes == nullptr) {
        closeConnection(display);
        return nullptr;
    }
    XESetError(display, codes->extension, swallowError);
    return display;
}

// Whether a window of this visual takes Cairo's ARGB32 words as they are: TrueColor with 8-bit
// channels where Cairo keeps them, at depth 24, or 32 (whose alpha is premultiplied, as Cairo's is).
bool takesArgbWords(const Visual* visual, int depth) {
    return visual != nullptr && visual->c_class == TrueColor && (depth == 24 || depth == 32) &&
           visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
}

class X11ChildWindow final : public ChildWindow {
public:
    X11ChildWindow(WindowClient& client, int width, int height, EventDriver driver)
        : client_(client), width_(width), height_(height), driver_(driver) {
        gOpenWindows.fetch_add(1, std::memory_order_relaxed);
    }
    ~X11ChildWindow() override;

    X11ChildWindow(const X11ChildWindow&) = delete;
    X11ChildWindow& operator=(const X11ChildWindow&) = delete;

    // [ui thread] Everything or nothing: on false the destructor frees what was made.
    bool open(Window parent);

    // Stops and joins the event thread, takes the window down and closes the connection; once only.
    // The destructor calls it, and so does the library's unload for a window a host left open.
    void shutDown();

    void* nativeHandle() const override { return reinterpret_cast<void*>(window_); }
    bool alive() const override { return alive_.load(); }
    int eventDescriptor() const override { return driver_ == EventDriver::host ? ConnectionNumber(display_) : -1; }
    void serveEvents() override {
        if (driver_ == EventDriver::host) serveOnce();
    }

private:
    void wake() const {
        const std::uint64_t one = 1;
        // Fails only on a counter already near 2^64, which wakes the thread just the same.
        [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
    }

    // [event thread] The connection's exit handler: the X server is gone.
    static void connectionLost(Display*, void* window) {
        static_cast<X11ChildWindow*>(window)->lost_.store(true);
    }

    // The event thread and its parts; serveOnce is one round of its loop.
    void run();
    void serveOnce();
    void dispatchEvents();
    void waitForWork(Clock::time_point nextTick);
    void handle(const XEvent& event);
    void press(const XButtonEvent& button);
    void carryOut(const PointerResponse& response);
    void checkCapture();
    void loseCapture();
    bool makeSharedCanvas();
    void paint();

    WindowClient& client_;
    const int width_;
    const int height_;
    const EventDriver driver_;

    // Made by open() on the UI thread, then used by the event thread alone until the join.
    Display* display_ = nullptr;
    Window window_ = 0;
    GC gc_ = nullptr;
    std::unique_ptr<CairoCanvas> canvas_;
    XImage image_{};  // describes canvas_'s pixels for XPutImage and XShmPutImage; owns nothing
    XShmSegmentInfo shared_{};  // canvas_'s pixels when the server reads them from shared memory
    bool sharedCanvas_ = false;
    int wakeFd_ = -1;
    std::thread thread_;

    std::atomic<bool> stop_{false};
    std::atomic<bool> alive_{true};
    std::atomic<bool> lost_{false};  // the connection broke: every Xlib call on it does nothing now

    // The event thread's own.
    bool paintDue_ = true;       // bring the picture up to date at the next turn of the loop
    bool painted_ = false;       // the canvas holds the client's picture
    bool exposed_ = false;       // the server lost some of the window's pixels: copy the whole canvas
    bool captured_ = false;      // our active grab is in force
    bool firstOfPair_ = false;   // the last press may be the first of a double-click
    Clock::time_point nextTick_ = Clock::now() + kTickPeriod;
    Time firstPressTime_ = 0;    // server milliseconds
    int firstPressX_ = 0;
    int firstPressY_ = 0;
};

bool X11ChildWindow::open(Window parent) {
    display_ = openConnection(connectionLost, this);
    if (display_ == nullptr) return false;

    // A round trip: a parent id that is no window fails here, its error swallowed.
    XWindowAttributes parentAttributes;
    if (XGetWindowAttributes(display_, parent, &parentAttributes) == 0 || parentAttributes.c_class != InputOutput ||
        !takesArgbWords(parentAttributes.visual, parentAttributes.depth)) {
        return false;
    }

    // No background: the server erases nothing before our paint, so nothing flickers.
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;
    attributes.event_mask = kEventMask;
    window_ = XCreateWindow(display_, parent, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
    gc_ = XCreateGC(display_, window_, 0, nullptr);
    XMapWindow(display_, window_);
    // The parent may have gone between the check and the creation; then this round trip fails too.
    XWindowAttributes own;
    if (XGetWindowAttributes(display_, window_, &own) == 0) return false;

    if (!makeSharedCanvas()) canvas_ = std::make_unique<CairoCanvas>(width_, height_);
    if (!canvas_->ok()) return false;
    cairo_surface_t* surface = canvas_->surface();
    image_.width = width_;
    image_.height = height_;
    image_.format = ZPixmap;
    image_.data = reinterpret_cast<char*>(cairo_image_surface_get_data(surface));
    image_.byte_order = kNativeByteOrder;  // Cairo's words are native-endian; Xlib swaps for the server
    image_.bitmap_unit = 32;
    image_.bitmap_bit_order = kNativeByteOrder;
    image_.bitmap_pad = 32;
    image_.depth = parentAttributes.depth;
    image_.bytes_per_line = cairo_image_surface_get_stride(surface);
    image_.bits_per_pixel = 32;
    image_.red_mask = parentAttributes.visual->red_mask;
    image_.green_mask = parentAttributes.visual->green_mask;
    image_.blue_mask = parentAttributes.visual->blue_mask;
    if (sharedCanvas_) image_.obdata = reinterpret_cast<char*>(&shared_);
    if (XInitImage(&image_) == 0) return false;

    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return false;
    if (driver_ == EventDriver::host) return true;
    try {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        thread_ = std::thread(&X11ChildWindow::run, this);
        gRunning.push_back(this);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void X11ChildWindow::shutDown() {
    {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        gRunning.erase(std::remove(gRunning.begin(), gRunning.end(), this), gRunning.end());
    }
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        // The process is ending on our own thread (exit() from a handler of the host's, inside an Xlib
        // call of ours): no thread joins itself, and the connection is left to the process's end.
        thread_.detach();
        return;
    }
    if (thread_.joinable()) {
        stop_.store(true);
        wake();
        thread_.join();
    }
    if (display_ != nullptr) {
        if (gc_ != nullptr) XFreeGC(display_, gc_);
        // Gone already when the host destroyed its window first; the grab, if any, goes with ours.
        if (window_ != 0 && alive_.load()) XDestroyWindow(display_, window_);
        XSync(display_, False);
        closeConnection(display_);
        display_ = nullptr;
    }
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
    canvas_.reset();  // nothing of Cairo's outlives the window, even where its owner is never freed
    if (shared_.shmaddr != nullptr) shmdt(shared_.shmaddr);  // the server let go with the connection
    shared_.shmaddr = nullptr;
}

X11ChildWindow::~X11ChildWindow() {
    shutDown();
    gOpenWindows.fetch_sub(1, std::memory_order_relaxed);
}

// A host that unloads the library (dlclose) with an editor still open would leave its event thread
// running in code that is no longer mapped: the library's static destructors stop every such thread
// first. The window object itself stays with its owner, who will never call it again.
struct StopRunningWindowsAtUnload {
    ~StopRunningWindowsAtUnload() {
        for (;;) {
            X11ChildWindow* window = nullptr;
            {
                std::lock_guard<std::mutex> lock(gRunningMutex);
                if (gRunning.empty()) break;
                window = gRunning.back();
            }
            window->shutDown();
        }
    }
} gStopRunningWindowsAtUnload;

void X11ChildWindow::run() {
    while (!stop_.load() && !lost_.load()) {
        serveOnce();
        // The paint's round trip may have queued events: poll only with none waiting.
        if (!lost_.load() && XPending(display_) == 0) waitForWork(nextTick_);
    }
    if (lost_.load()) {
        // The window went with the server. The connection is closed on this thread, which holds the
        // display's lock if the host turned Xlib's locking on (Xlib takes it for good on an I/O error).
        alive_.store(false);
        loseCapture();
        // The GC is client memory too: freed here, its request goes nowhere on the broken connection.
        if (gc_ != nullptr) XFreeGC(display_, gc_);
        gc_ = nullptr;
        closeConnection(display_);
        display_ = nullptr;
    }
}

void X11ChildWindow::serveOnce() {
    dispatchEvents();
    if (!alive_.load() || lost_.load()) return;
    const auto now = Clock::now();
    if (now >= nextTick_) {
        if (captured_) checkCapture();
        paintDue_ = true;
        nextTick_ += kTickPeriod;
        if (nextTick_ <= now) nextTick_ = now + kTickPeriod;  // behind after a slow paint: no burst
    }
    if (paintDue_ || exposed_) paint();
    // A paint's round trip may have read events into the queue, where the descriptor no longer shows them.
    dispatchEvents();
}

void X11ChildWindow::dispatchEvents() {
    while (!lost_.load() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        handle(event);
    }
}

// Sleeps until the connection has input, the stop is asked for, or the next tick is due
// (no tick once the window is gone).
void X11ChildWindow::waitForWork(Clock::time_point nextTick) {
    int timeoutMs = -1;
    if (alive_.load()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now()).count();
        timeoutMs = static_cast<int>(left < 0 ? 0 : left);
    }
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) > 0 && (fds[1].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(wakeFd_, &count, sizeof count);
    }
}

void X11ChildWindow::handle(const XEvent& event) {
    switch (event.type) {
        case Expose:
            exposed_ = true;  // the whole canvas, so a burst of exposures copies once
            break;
        case ButtonPress:
            if (event.xbutton.button == Button1) press(event.xbutton);
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) carryOut(client_.pointerRelease(event.xbutton.x, event.xbutton.y));
            break;
        case MotionNotify:
            carryOut(client_.pointerMove(event.xmotion.x, event.xmotion.y, (event.xmotion.state & Button1Mask) != 0));
            break;
        case EnterNotify:
        case LeaveNotify:
            // Our grab ended without our XUngrabPointer while the pointer was elsewhere.
            if (event.xcrossing.mode == NotifyUngrab) loseCapture();
            break;
        case UnmapNotify:
            loseCapture();
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) {
                alive_.store(false);
                loseCapture();
            }
            break;
        default:
            break;
    }
}

void X11ChildWindow::press(const XButtonEvent& button) {
    // Server times are 32-bit milliseconds that wrap; the difference is taken in the same width.
    const auto sinceFirst = static_cast<std::uint32_t>(button.time - firstPressTime_);
    const bool secondOfPair = firstOfPair_ && sinceFirst <= kDoubleClickMs &&
                              std::abs(button.x - firstPressX_) <= kDoubleClickSlopPx &&
                              std::abs(button.y - firstPressY_) <= kDoubleClickSlopPx;
    if (secondOfPair) {
        firstOfPair_ = false;  // a third quick press starts a new pair, as on Windows
        carryOut(client_.doubleClickPress(button.x, button.y));
        return;
    }
    firstOfPair_ = true;
    firstPressTime_ = button.time;
    firstPressX_ = button.x;
    firstPressY_ = button.y;
    carryOut(client_.pointerPress(button.x, button.y, height_));
}

void X11ChildWindow::carryOut(const PointerResponse& response) {
    if (response.capture && !captured_) {
        // owner_events False: every pointer event comes to us, relative to our window, wherever it is.
        const int grabbed = XGrabPointer(display_, window_, False, kGrabMask, GrabModeAsync, GrabModeAsync, None, None,
                                         CurrentTime);
        captured_ = grabbed == GrabSuccess;
        if (!captured_) client_.captureLost();  // the capture asked for cannot be had (window not viewable)
    }
    if (response.release && captured_) {
        captured_ = false;  // before the NotifyUngrab crossings our own ungrab causes
        XUngrabPointer(display_, CurrentTime);
        XSync(display_, False);
    }
    if (response.repaint) paintDue_ = true;
}

// The server ends our grab without telling us when the window becomes unviewable because the host
// unmaps an ancestor (no crossing event comes: the pointer is still "in" our window then). So while
// captured, each tick asks whether the window is still viewable; a round trip every 30 ms of a drag.
void X11ChildWindow::checkCapture() {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0 || attributes.map_state != IsViewable) {
        loseCapture();
    }
}

void X11ChildWindow::loseCapture() {
    if (!captured_) return;
    captured_ = false;
    client_.captureLost();
}

void X11ChildWindow::paint() {
    // The client brings the canvas it painted last time up to date off screen (the first time whole,
    // on the canvas Cairo made cleared); only the rectangles it changed go to the server.
    paintDue_ = false;
    Damage damage = client_.paint(*canvas_, width_, height_, !painted_);
    painted_ = true;
    cairo_surface_flush(canvas_->surface());
    if (exposed_) {
        exposed_ = false;
        damage = Damage{};
        damage.add({0, 0, width_, height_});
    }
    if (damage.count == 0) return;
    for (int i = 0; i < damage.count; ++i) {
        // Within the surface: a client's rectangle may reach past its edges.
        const IntRect& r = damage.rects[i];
        const int x = std::max(r.x, 0);
        const int y = std::max(r.y, 0);
        const int right = std::min(r.x + r.width, width_);
        const int bottom = std::min(r.y + r.height, height_);
        if (right <= x || bottom <= y) continue;
        const auto w = static_cast<unsigned>(right - x);
        const auto h = static_cast<unsigned>(bottom - y);
        if (sharedCanvas_) {
            XShmPutImage(display_, window_, gc_, &image_, x, y, x, y, w, h, False);
        } else {
            XPutImage(display_, window_, gc_, &image_, x, y, x, y, w, h);
        }
    }
    // A window destroyed under the copy reports here, to our hook; and the server has read a shared
    // canvas before the next paint draws into it.
    XSync(display_, False);
}

// The canvas in a segment of shared memory the server reads the rectangles from (MIT-SHM): no pixel
// crosses the connection. Only where the server offers the extension and can attach our segment (it
// runs on this machine and may see it); false otherwise, and nothing is left behind.
bool X11ChildWindow::makeSharedCanvas() {
    if (XShmQueryExtension(display_) == False) return false;
    const int stride = CairoCanvas::cairoStride(width_);
    shared_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_),
                           IPC_CREAT | 0600);
    if (shared_.shmid < 0) return false;
    void* pixels = shmat(shared_.shmid, nullptr, 0);
    if (pixels == reinterpret_cast<void*>(-1)) {
        shmctl(shared_.shmid, IPC_RMID, nullptr);
        return false;
    }
    shared_.shmaddr = static_cast<char*>(pixels);
    shared_.readOnly = True;
    // A server that cannot attach it answers with an error, which our hook counts during the round trip.
    const int errorsBefore = gSwallowedErrors.load();
    const bool attached = XShmAttach(display_, &shared_) != 0 && XSync(display_, False) != 0 &&
                          gSwallowedErrors.load() == errorsBefore;
    shmctl(shared_.shmid, IPC_RMID, nullptr);  // removed once both sides have let go of it
    if (attached) {
        // A new segment is zero-filled: the canvas starts cleared, as Cairo's own would.
        canvas_ = std::make_unique<CairoCanvas>(width_, height_, static_cast<unsigned char*>(pixels), stride);
        sharedCanvas_ = canvas_->ok();
        if (sharedCanvas_) return true;
        canvas_.reset();
        XShmDetach(display_, &shared_);
        XSync(display_, False);
    }
    shmdt(pixels);
    shared_.shmaddr = nullptr;
    return false;
}

}  // namespace

std::unique_ptr<ChildWindow> openChildWindow(void* parent, int width, int height, WindowClient& client,
                                             EventDriver driver) {
    const auto parentId = reinterpret_cast<std::uintptr_t>(parent);
    if (parentId == 0 || parentId > kLargestXid || width <= 0 || height <= 0 || width > kLargestSide ||
        height > kLargestSide) {
        return nullptr;
    }
    auto window = std::make_unique<X11ChildWindow>(client, width, height, driver);
    if (!window->open(static_cast<Window>(parentId))) return nullptr;
    return window;
}

int openChildWindowCount() { return gOpenWindows.load(std::memory_order_relaxed); }

bool clientCallsOnOpeningThread() { return false; }

int x11SwallowedErrorCount() { return gSwallowedErrors.load(std::memory_order_relaxed); }

}  // namespace lumisere::platform
