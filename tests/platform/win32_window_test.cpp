// The Win32 window layer under Wine, driven as a host drives it: a top-level window of our own as the
// parent, the editor's child in it with a client that records every call and paints a known picture,
// real and posted input, the tick asking for the picture on a kept canvas, the pixels on screen, the host
// taking its window down first, the unload path, bad parents, and many opens and closes.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/graphics_runtime.h"
#include "platform/win32/gdiplus_canvas.h"
#include "platform/win32/window_class.h"
#include "platform/window_layer.h"
#include "windows_test_host.h"

namespace lumisere::platform {
namespace {

using test::pump;
using test::pumpUntil;

constexpr int kWidth = 840;
constexpr int kHeight = 520;
constexpr UINT_PTR kTickTimerId = 1;  // the backend's tick
constexpr char kHostClassName[] = "LumisereTestHostWindow";

enum class Call { paint, press, doubleClick, move, release, captureLost };

struct Event {
    Call call;
    int x = 0;  // for a paint, the width
    int y = 0;  // for a paint, the height
    int extra = 0;  // a press's client height; a move's held button, a paint's `whole` (1 or 0)
};

// A fixed, opaque picture: flat and gradient fills, anti-aliased shapes and text, and one colour the
// test changes between paints.
void paintPicture(Canvas& canvas, int width, int height, Argb accent) {
    canvas.fillRect({0, 0, width, height}, Brush::solid(0xFF101820));
    canvas.fillRect({40, 40, 200, 120}, Brush::linear({40, 40}, 0xFFFF0000, {240, 40}, 0xFF0000FF));
    canvas.fillEllipse({300, 60, 160, 160}, Brush::solid(accent));
    canvas.strokeArc({520, 60, 200, 200}, 135.0f, 270.0f, Pen{0xFFFFFFFF, 6.0f, LineCap::round, LineCap::round});
    canvas.strokeLine(Point{0, height - 1}, Point{width - 1, 0}, Pen{0xFF40FF40, 2.0f});
    canvas.drawText("Ostrel Lumisere", PointF{60.0f, 300.0f}, Font{24.0f, FontWeight::bold}, 0xFFFFFFFF,
                    TextAlign::left);
}

// The editor's side as a knob drag uses it: a press captures, a release frees; both repaint.
class RecordingClient final : public WindowClient {
public:
    // Paints when asked for the whole picture or when the accent changed, and answers the whole surface then.
    Damage paint(Canvas& canvas, int width, int height, bool whole) override {
        events.push_back({Call::paint, width, height, whole ? 1 : 0});
        Damage damage;
        if (!whole && accent == painted) return damage;
        paintPicture(canvas, width, height, accent);
        painted = accent;
        damage.add({0, 0, width, height});
        return damage;
    }
    PointerResponse pointerPress(int x, int y, int clientHeight) override {
        events.push_back({Call::press, x, y, clientHeight});
        return {true, false, true};
    }
    PointerResponse doubleClickPress(int x, int y) override {
        events.push_back({Call::doubleClick, x, y});
        return {};
    }
    PointerResponse pointerMove(int x, int y, bool leftButtonHeld) override {
        events.push_back({Call::move, x, y, leftButtonHeld ? 1 : 0});
        return {};
    }
    PointerResponse pointerRelease(int x, int y) override {
        events.push_back({Call::release, x, y});
        return {false, true, true};
    }
    void captureLost() override { events.push_back({Call::captureLost}); }

    int count(Call call) const {
        return static_cast<int>(std::count_if(events.begin(), events.end(), [call](const Event& e) { return e.call == call; }));
    }
    // The latest event of a kind, or null.
    const Event* last(Call call) const {
        for (auto e = events.rbegin(); e != events.rend(); ++e)
            if (e->call == call) return &*e;
        return nullptr;
    }

    std::vector<Event> events;
    Argb accent = 0xFF2080C0;
    Argb painted = 0;
};

// What the host saw of its new child when the system told it of the creation: the child's user data
// at that moment, before CreateWindowExA had returned to the backend.
LONG_PTR gUserDataWhenHostNotified = 0;

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PARENTNOTIFY && LOWORD(wParam) == WM_CREATE) {
        gUserDataWhenHostNotified = GetWindowLongPtrA(reinterpret_cast<HWND>(lParam), GWLP_USERDATA);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A host's top-level window, larger than the editor, at (50, 50) on the screen.
HWND makeHostWindow() {
    return CreateWindowExA(0, kHostClassName, "Test host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 50, 50, 1000, 700,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

bool editorClassRegistered() {
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    return GetClassInfoExA(GetModuleHandleA(nullptr), kEditorWindowClassName, &info) != 0;
}

class Win32WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gdiplus_ = startGraphicsRuntime();
        WNDCLASSA host{};
        host.lpfnWndProc = &hostWindowProc;
        host.hInstance = GetModuleHandleA(nullptr);
        host.lpszClassName = kHostClassName;
        RegisterClassA(&host);
    }
    static void TearDownTestSuite() { stopGraphicsRuntime(gdiplus_); }

    void SetUp() override {
        ASSERT_NE(gdiplus_, 0u) << "GDI+ did not start";
        ASSERT_EQ(openChildWindowCount(), 0) << "an earlier test left a window open";
        // The pointer away from where the host window appears: a window appearing under it gets a move.
        SetCursorPos(1200, 1000);
        host_ = makeHostWindow();
        ASSERT_NE(host_, nullptr);
        pump(50);
    }
    void TearDown() override {
        window_.reset();
        if (IsWindow(host_)) DestroyWindow(host_);
        pump(20);
    }

    std::unique_ptr<ChildWindow> open(RecordingClient& client) {
        return openChildWindow(host_, kWidth, kHeight, client);
    }

    // The editor in the host window, with client_ as its client.
    bool openEditor() {
        window_ = open(client_);
        child_ = window_ != nullptr ? static_cast<HWND>(window_->nativeHandle()) : nullptr;
        return child_ != nullptr;
    }

    static std::uintptr_t gdiplus_;
    HWND host_ = nullptr;
    RecordingClient client_;
    std::unique_ptr<ChildWindow> window_;
    HWND child_ = nullptr;
};
std::uintptr_t Win32WindowTest::gdiplus_ = 0;

TEST_F(Win32WindowTest, OpensAnAttachedChildOfTheAskedSizeAtTheHostsOrigin) {
    gUserDataWhenHostNotified = 0;
    ASSERT_TRUE(openEditor());
    ASSERT_TRUE(IsWindow(child_));
    EXPECT_TRUE(window_->alive());
    EXPECT_EQ(openChildWindowCount(), 1);
    EXPECT_EQ(GetParent(child_), host_);

    RECT bounds{};
    GetWindowRect(child_, &bounds);
    MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&bounds), 2);
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.top, 0);
    EXPECT_EQ(bounds.right - bounds.left, kWidth);
    EXPECT_EQ(bounds.bottom - bounds.top, kHeight);
    RECT client{};
    GetClientRect(child_, &client);
    EXPECT_EQ(client.right, kWidth);
    EXPECT_EQ(client.bottom, kHeight);

    // Attached from WM_CREATE on: the host's creation notice already sees the object.
    const LONG_PTR userData = GetWindowLongPtrA(child_, GWLP_USERDATA);
    EXPECT_NE(userData, 0);
    EXPECT_EQ(gUserDataWhenHostNotified, userData);

    char text[64] = {};
    GetClassNameA(child_, text, sizeof text);
    EXPECT_STREQ(text, kEditorWindowClassName);
    GetWindowTextA(child_, text, sizeof text);
    EXPECT_STREQ(text, "Ostrel Lumisere");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(child_, GWL_STYLE)) & (WS_CHILD | WS_VISIBLE | WS_POPUP),
              static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(GetWindowLongPtrA(child_, GWL_EXSTYLE), 0);

    // The class belongs to the module that holds the backend: this program here, the DLL in a host.
    const HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(reinterpret_cast<HMODULE>(GetWindowLongPtrA(child_, GWLP_HINSTANCE)), module);
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    ASSERT_NE(GetClassInfoExA(module, kEditorWindowClassName, &info), 0);
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 0);
    EXPECT_EQ(info.hIcon, nullptr);
    EXPECT_EQ(info.hIconSm, nullptr);
    EXPECT_EQ(info.hCursor, nullptr);
    EXPECT_EQ(info.hbrBackground, nullptr);
    EXPECT_EQ(info.lpszMenuName, nullptr);

    // No erase: the paint covers every pixel.
    HDC dc = GetDC(child_);
    EXPECT_EQ(SendMessageA(child_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    ReleaseDC(child_, dc);

    window_.reset();
    EXPECT_FALSE(IsWindow(child_));
    EXPECT_EQ(openChildWindowCount(), 0);
}

TEST_F(Win32WindowTest, ClassIsRegisteredOnceAndAgainAfterTheUnloadPathRemovesIt) {
    // From a clean state, whatever the tests before did.
    ASSERT_TRUE(closeWindowsAndUnregisterClass());
    EXPECT_FALSE(editorClassRegistered());
    ASSERT_TRUE(test::countClassRegistrations(GetModuleHandleA(nullptr), kEditorWindowClassName))
        << "this program does not import RegisterClassExA";

    RecordingClient other;
    {
        auto first = open(client_);
        auto second = open(other);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(openChildWindowCount(), 2);
    }
    EXPECT_TRUE(editorClassRegistered()) << "the class stays for the next window";
    auto reopened = open(client_);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(test::gClassRegistrations, 1);

    // The unload path with a window of this thread open: the window goes at once, unheard by its
    // client, and so does the class.
    pump(100);
    const auto child = static_cast<HWND>(reopened->nativeHandle());
    const std::size_t callsBefore = client_.events.size();
    EXPECT_TRUE(closeWindowsAndUnregisterClass());
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(reopened->alive());
    EXPECT_EQ(openChildWindowCount(), 0);
    EXPECT_FALSE(editorClassRegistered());
    pump(100);
    reopened.reset();
    EXPECT_EQ(client_.events.size(), callsBefore);

    // As after a reload: the next window registers the class again.
    auto again = open(client_);
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(test::gClassRegistrations, 2);
    again.reset();

    test::stopCountingClassRegistrations(GetModuleHandleA(nullptr));
}

// A host whose editor lives on a thread other than the one that frees the library.
TEST_F(Win32WindowTest, UnloadPathHandsAnotherThreadsWindowToTheSystem) {
    HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE unloaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    RecordingClient remoteClient;
    std::unique_ptr<ChildWindow> remote;
    HWND remoteChild = nullptr;
    std::size_t callsAtUnload = 0;
    bool destroyedByItsThread = false;
    std::thread ui([&] {
        HWND host = makeHostWindow();
        remote = openChildWindow(host, kWidth, kHeight, remoteClient);
        if (remote != nullptr) remoteChild = static_cast<HWND>(remote->nativeHandle());
        pump(100);
        SetEvent(opened);
        // Still while the other thread unloads, so the client cannot be in a call at that moment.
        WaitForSingleObject(unloaded, 5000);
        callsAtUnload = remoteClient.events.size();
        destroyedByItsThread = pumpUntil([&] { return !IsWindow(remoteChild); });
        pump(100);
        remote.reset();
        DestroyWindow(host);
    });
    WaitForSingleObject(opened, 5000);
    if (remoteChild == nullptr) {
        SetEvent(unloaded);
        ui.join();
        FAIL() << "the other thread's window did not open";
    }
    EXPECT_EQ(openChildWindowCount(), 1);
    const LONG_PTR procedure = GetWindowLongPtrA(remoteChild, GWLP_WNDPROC);

    // The window is not this thread's to destroy: it keeps the class until its own thread has closed it.
    EXPECT_FALSE(closeWindowsAndUnregisterClass());
    EXPECT_FALSE(remote->alive());
    EXPECT_EQ(openChildWindowCount(), 0);
    EXPECT_EQ(GetWindowLongPtrA(remoteChild, GWLP_USERDATA), 0);
    EXPECT_NE(GetWindowLongPtrA(remoteChild, GWLP_WNDPROC), procedure) << "still our procedure";
    SetEvent(unloaded);
    ui.join();
    EXPECT_TRUE(destroyedByItsThread);
    EXPECT_EQ(remoteClient.events.size(), callsAtUnload) << "the client was called after the unload";
    EXPECT_TRUE(closeWindowsAndUnregisterClass());
    EXPECT_FALSE(editorClassRegistered());
    CloseHandle(opened);
    CloseHandle(unloaded);
}

TEST_F(Win32WindowTest, EachTickAsksForThePictureOnTheOneKeptCanvas) {
    ASSERT_TRUE(openEditor());
    pump(1000);
    // 33 ticks a second at best, the machine may be busy; one more for the first showing. An update
    // that asks for the next one at once would show here as many more.
    const int paints = client_.count(Call::paint);
    EXPECT_GE(paints, 8);
    EXPECT_LE(paints, 36);
    int whole = 0;
    for (const Event& e : client_.events) {
        if (e.call != Call::paint) continue;
        EXPECT_EQ(e.x, kWidth);
        EXPECT_EQ(e.y, kHeight);
        whole += e.extra;
    }
    EXPECT_EQ(whole, 1);  // the canvas is made once and kept

    // With the tick stopped nothing is asked for.
    KillTimer(child_, kTickTimerId);
    pump(200);
    const int paintsBefore = client_.count(Call::paint);
    pump(200);
    EXPECT_EQ(client_.count(Call::paint), paintsBefore);
}

TEST_F(Win32WindowTest, ScreenShowsTheCanvasPictureOfTheLatestPaint) {
    ASSERT_TRUE(openEditor());
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::paint) > 0; }));
    client_.accent = 0xFFE0A020;
    const int paints = client_.count(Call::paint);
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::paint) > paints; }));
    UpdateWindow(child_);  // the copy of what that paint changed

    // The window's pixels, read back from its device context.
    const std::vector<std::uint32_t> pixels = test::windowPixels(child_, kWidth, kHeight);
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(kWidth) * kHeight);

    GdiplusCanvas expected(kWidth, kHeight);
    paintPicture(expected, kWidth, kHeight, client_.accent);
    int differing = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            differing += pixels[static_cast<std::size_t>(y) * kWidth + x] != (expected.pixel(x, y) & 0xFFFFFFu);
        }
    }
    EXPECT_EQ(differing, 0) << "pixels that differ from the canvas picture";
    EXPECT_EQ(pixels[140 * kWidth + 380], 0xE0A020u) << "the accent of the latest paint";
}

TEST_F(Win32WindowTest, RealInputArrivesInClientCoordinatesWithTheButtonCaptured) {
    ASSERT_TRUE(openEditor());
    pump(100);
    auto button = [](DWORD flags) {
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flags;
        return SendInput(1, &input, sizeof input) == 1;
    };
    auto moveTo = [&](int x, int y) {  // x, y in the child's client coordinates
        POINT p{x, y};
        ClientToScreen(child_, &p);
        return SetCursorPos(p.x, p.y) != 0;
    };
    auto moveArrived = [&](int x, int y) {
        return pumpUntil([&] {
            const Event* m = client_.last(Call::move);
            return m != nullptr && m->x == x && m->y == y;
        });
    };

    ASSERT_TRUE(moveTo(100, 200));
    EXPECT_TRUE(moveArrived(100, 200));
    EXPECT_EQ(client_.last(Call::move)->extra, 0) << "button not held";
    ASSERT_TRUE(button(MOUSEEVENTF_LEFTDOWN));
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::press) == 1; }));
    const Event press = *client_.last(Call::press);
    EXPECT_EQ(press.x, 100);
    EXPECT_EQ(press.y, 200);
    EXPECT_EQ(press.extra, kHeight);
    EXPECT_EQ(GetCapture(), child_);

    ASSERT_TRUE(moveTo(300, 250));
    EXPECT_TRUE(moveArrived(300, 250));
    EXPECT_EQ(client_.last(Call::move)->extra, 1) << "button held";
    // Beyond the host window, on the bare screen: captured, the moves still come, in negative coordinates.
    ASSERT_TRUE(moveTo(-30, -20));
    EXPECT_TRUE(moveArrived(-30, -20));
    ASSERT_TRUE(button(MOUSEEVENTF_LEFTUP));
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::release) == 1; }));
    EXPECT_EQ(client_.last(Call::release)->x, -30);
    EXPECT_EQ(client_.last(Call::release)->y, -20);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(client_.count(Call::captureLost), 0) << "a release asked for is no loss";

    // A double-click elsewhere: one press, then the second press as a double-click press.
    ASSERT_TRUE(moveTo(400, 300));
    EXPECT_TRUE(moveArrived(400, 300));
    INPUT clicks[4] = {};
    const DWORD flags[4] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 4; ++i) {
        clicks[i].type = INPUT_MOUSE;
        clicks[i].mi.dwFlags = flags[i];
    }
    ASSERT_EQ(SendInput(4, clicks, sizeof clicks[0]), 4u);
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::release) == 3; }));
    EXPECT_EQ(client_.count(Call::press), 2);
    ASSERT_EQ(client_.count(Call::doubleClick), 1);
    EXPECT_EQ(client_.last(Call::doubleClick)->x, 400);
    EXPECT_EQ(client_.last(Call::doubleClick)->y, 300);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(Win32WindowTest, PostedMessagesArriveAsTheyAreAndALostCaptureIsTold) {
    ASSERT_TRUE(openEditor());
    auto at = [](int x, int y) { return static_cast<LPARAM>(MAKELONG(static_cast<WORD>(x), static_cast<WORD>(y))); };
    PostMessageA(child_, WM_LBUTTONDOWN, MK_LBUTTON, at(10, 20));
    PostMessageA(child_, WM_MOUSEMOVE, MK_LBUTTON, at(-5, 600));
    PostMessageA(child_, WM_LBUTTONUP, 0, at(-5, 600));
    PostMessageA(child_, WM_MOUSEMOVE, 0, at(7, 8));
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::release) == 1; }));
    pump(50);
    std::vector<Event> pointer;
    for (const Event& e : client_.events)
        if (e.call != Call::paint) pointer.push_back(e);
    ASSERT_EQ(pointer.size(), 4u);
    EXPECT_EQ(pointer[0].call, Call::press);
    EXPECT_EQ(pointer[0].x, 10);
    EXPECT_EQ(pointer[0].y, 20);
    EXPECT_EQ(pointer[0].extra, kHeight);
    EXPECT_EQ(pointer[1].call, Call::move);
    EXPECT_EQ(pointer[1].x, -5);
    EXPECT_EQ(pointer[1].y, 600);
    EXPECT_EQ(pointer[1].extra, 1);
    EXPECT_EQ(pointer[2].call, Call::release);
    EXPECT_EQ(pointer[2].x, -5);
    EXPECT_EQ(pointer[3].call, Call::move);
    EXPECT_EQ(pointer[3].extra, 0);

    // Another window takes the capture in the middle of a drag.
    PostMessageA(child_, WM_LBUTTONDOWN, MK_LBUTTON, at(30, 40));
    ASSERT_TRUE(pumpUntil([&] { return client_.count(Call::press) == 2; }));
    EXPECT_EQ(GetCapture(), child_);
    SetCapture(host_);
    pump(50);
    EXPECT_EQ(client_.count(Call::captureLost), 1);
    ReleaseCapture();
    pump(50);
    EXPECT_EQ(client_.count(Call::captureLost), 1);
}

TEST_F(Win32WindowTest, HostDestroyingItsWindowFirstDetachesTheClient) {
    ASSERT_TRUE(openEditor());
    pump(100);
    DestroyWindow(host_);
    EXPECT_FALSE(IsWindow(child_));
    EXPECT_FALSE(window_->alive());
    EXPECT_EQ(window_->nativeHandle(), nullptr);
    EXPECT_EQ(openChildWindowCount(), 0);
    const std::size_t calls = client_.events.size();
    pump(200);
    window_.reset();
    pump(50);
    EXPECT_EQ(client_.events.size(), calls) << "the client was called after its window was gone";
}

TEST_F(Win32WindowTest, BadParentsAndSizesGiveNoWindow) {
    HWND stale = makeHostWindow();
    DestroyWindow(stale);
    const void* parents[] = {nullptr, reinterpret_cast<void*>(0x4242), reinterpret_cast<void*>(~std::uintptr_t{0}),
                             stale};
    for (const void* parent : parents) {
        EXPECT_EQ(openChildWindow(const_cast<void*>(parent), kWidth, kHeight, client_), nullptr) << parent;
    }
    EXPECT_EQ(openChildWindow(host_, 0, kHeight, client_), nullptr);
    EXPECT_EQ(openChildWindow(host_, kWidth, -1, client_), nullptr);
    pump(100);
    EXPECT_EQ(openChildWindowCount(), 0);
    EXPECT_EQ(FindWindowExA(host_, nullptr, kEditorWindowClassName, nullptr), nullptr);
    EXPECT_EQ(FindWindowExA(nullptr, nullptr, kEditorWindowClassName, nullptr), nullptr);
    EXPECT_TRUE(client_.events.empty());
}

TEST_F(Win32WindowTest, ManyOpensAndClosesLeaveNothingBehind) {
    test::expectCyclesLeaveNothingBehind(200, [&](int) {
        RecordingClient client;
        auto window = openChildWindow(host_, kWidth, kHeight, client);
        return window != nullptr && pumpUntil([&] { return client.count(Call::paint) > 0; });
    });
    EXPECT_EQ(openChildWindowCount(), 0);
}

}  // namespace
}  // namespace lumisere::platform
