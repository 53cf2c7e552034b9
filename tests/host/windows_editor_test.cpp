// The plug-in's editor in a Windows host, under Wine: this program loads the shipped DLL, gives it a
// top-level window of its own as the parent, and checks what a host and a user see of the editor
// through the exported entry point only. The window, its class and its repaints; the mouse, real and
// posted, changing what the host reads back and what the audio does; the pixels against the panel
// drawn for the same values; the ways a host takes things down; many opens and closes.
//
//   windows_editor_tests [GoogleTest options]    the tests
//   windows_editor_tests --screenshot FILE.png   the editor in a host window, as a picture
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "core/parameters.h"
#include "editor/editor_model.h"
#include "editor/mouse.h"
#include "editor/panel.h"
#include "platform/graphics_runtime.h"
#include "platform/win32/gdiplus_canvas.h"
#include "plugin_library.h"  // dispatch
#include "recording_host.h"
#include "windows_test_host.h"

namespace lumisere {
namespace {

using host::dispatch;
using test::gClassRegistrations;
using test::pump;
using test::pumpUntil;

// What a host sees of the editor: its class name and its size.
constexpr char kEditorClass[] = "OstrelLumisereEditorWndClass";
constexpr int kWidth = 840;
constexpr int kHeight = 520;

constexpr char kHostClass[] = "LumisereEditorTestHost";
constexpr COLORREF kHostBackground = RGB(52, 56, 62);
constexpr COLORREF kHostText = RGB(200, 204, 210);

std::string pluginPath() {
    const char* path = std::getenv("LUMISERE_PLUGIN");
    return path != nullptr ? path : "";
}

bool pluginLoaded() {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, pluginPath().c_str(), &module) != 0;
}

// The host's window: its grey, and its title in the margin above where a plug-in's frame goes.
LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcA(hwnd, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HBRUSH background = CreateSolidBrush(kHostBackground);
    FillRect(dc, &ps.rcPaint, background);
    DeleteObject(background);
    char title[64] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kHostText);
    HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TextOutA(dc, 20, 13, title, lstrlenA(title));
    SelectObject(dc, font);
    EndPaint(hwnd, &ps);
    return 0;
}

void registerHostClass() {
    WNDCLASSA host{};
    host.lpfnWndProc = &hostWindowProc;
    host.hInstance = GetModuleHandleA(nullptr);
    host.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    host.lpszClassName = kHostClass;
    RegisterClassA(&host);
}

HWND makeHostWindow(int x, int y, int width, int height, const char* title = "Test host") {
    return CreateWindowExA(0, kHostClass, title, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y, width, height,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

bool isEditorWindow(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return std::strcmp(name, kEditorClass) == 0;
}

// The editor windows of this thread, wherever they are (a bad parent could leave one at the top level).
int editorWindowCount() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND top, LPARAM total) {
            *reinterpret_cast<int*>(total) += isEditorWindow(top) ? 1 : 0;
            EnumChildWindows(
                top, [](HWND w, LPARAM n) { return *reinterpret_cast<int*>(n) += isEditorWindow(w) ? 1 : 0, TRUE; },
                total);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

// The one editor window among parent's children; null when there is none or more than one.
HWND onlyEditorIn(HWND parent) {
    const HWND first = FindWindowExA(parent, nullptr, kEditorClass, nullptr);
    return first != nullptr && FindWindowExA(parent, first, kEditorClass, nullptr) == nullptr ? first : nullptr;
}

bool editorClassRegistered(HMODULE module) {
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    return GetClassInfoExA(module, kEditorClass, &info) != 0;
}

// Records the messages that reach an editor window by subclassing it; the editor's own procedure
// still handles each of them.
class MessageWatch {
public:
    explicit MessageWatch(HWND hwnd) : hwnd_(hwnd) {
        SetPropA(hwnd_, kProperty, this);
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&watchingProc)));
    }
    ~MessageWatch() {
        if (!IsWindow(hwnd_) || GetPropA(hwnd_, kProperty) != this) return;
        SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        RemovePropA(hwnd_, kProperty);
    }
    MessageWatch(const MessageWatch&) = delete;
    MessageWatch& operator=(const MessageWatch&) = delete;

    int count(UINT message) const {
        return static_cast<int>(std::count(messages_.begin(), messages_.end(), message));
    }
    int paints() const { return count(WM_PAINT); }
    std::size_t total() const { return messages_.size(); }

private:
    static constexpr char kProperty[] = "LumisereTestWatch";

    static LRESULT CALLBACK watchingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* watch = static_cast<MessageWatch*>(GetPropA(hwnd, kProperty));
        if (watch == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
        watch->messages_.push_back(message);
        const WNDPROC original = watch->original_;
        if (message == WM_NCDESTROY) RemovePropA(hwnd, kProperty);
        return CallWindowProcA(original, hwnd, message, wParam, lParam);
    }

    HWND hwnd_;
    WNDPROC original_ = nullptr;
    std::vector<UINT> messages_;
};

// Left-button events through the system's input queue, at the pointer's position.
bool sendButtons(std::initializer_list<DWORD> flags) {
    std::vector<INPUT> inputs;
    for (DWORD f : flags) {
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = f;
        inputs.push_back(input);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

// Puts the pointer at (x, y) of window's client area.
bool pointerTo(HWND window, int x, int y) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    return SetCursorPos(p.x, p.y) != 0;
}

// Pixels of the editor window that differ from the panel drawn by this program's own GDI+ canvas for
// the instance's parameter values and silent meters; -1 when the window could not be read.
int pixelsUnlikeThePanel(HWND editor, AEffect* effect) {
    const std::vector<std::uint32_t> shown = test::windowPixels(editor, kWidth, kHeight);
    if (shown.empty()) return -1;
    editor::ValueEditorModel model;
    for (int i = 0; i < kNumParams; ++i) model.params[i] = effect->getParameter(effect, i);
    platform::GdiplusCanvas expected(kWidth, kHeight);
    editor::paintEditor(expected, kWidth, kHeight, model);
    int differing = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            differing += shown[static_cast<std::size_t>(y) * kWidth + x] != (expected.pixel(x, y) & 0xFFFFFFu);
    return differing;
}

// A stereo test signal with sibilant content, block by block: tones at 5.5 and 8.5 kHz, each of
// amplitude hiss, over a 300 Hz one of amplitude 0.2.
class ToneSource {
public:
    static constexpr int kFrames = 256;
    static constexpr double kRate = 44100.0;  // the plug-in's rate until a host sets one

    explicit ToneSource(double hiss = 0.3) : hiss_(hiss) {}

    void next() {
        constexpr double kTwoPi = 6.283185307179586;
        for (int i = 0; i < kFrames; ++i, ++frame_) {
            const double t = static_cast<double>(frame_) / kRate;
            const double low = 0.2 * std::sin(kTwoPi * 300.0 * t);
            const double hiss = hiss_ * (std::sin(kTwoPi * 5500.0 * t) + std::sin(kTwoPi * 8500.0 * t));
            left[i] = static_cast<float>(low + hiss);
            right[i] = static_cast<float>(low - hiss);
        }
    }

    float left[kFrames] = {};
    float right[kFrames] = {};

private:
    double hiss_;
    long long frame_ = 0;
};

struct StereoBlock {
    float left[ToneSource::kFrames];
    float right[ToneSource::kFrames];

    bool operator==(const StereoBlock& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
};

StereoBlock process(AEffect* effect, ToneSource& tone) {
    StereoBlock out{};
    float* inputs[] = {tone.left, tone.right};
    float* outputs[] = {out.left, out.right};
    effect->processReplacing(effect, inputs, outputs, ToneSource::kFrames);
    return out;
}

class WindowsEditorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gdiplus_ = platform::startGraphicsRuntime();
        registerHostClass();
    }
    static void TearDownTestSuite() { platform::stopGraphicsRuntime(gdiplus_); }

    void SetUp() override {
        ASSERT_NE(gdiplus_, 0u) << "GDI+ did not start";
        ASSERT_FALSE(pluginPath().empty()) << "LUMISERE_PLUGIN names the plug-in DLL to load";
        ASSERT_FALSE(pluginLoaded()) << "an earlier test left the library loaded";
        // The pointer away from where the host window appears: a window appearing under it gets a move.
        SetCursorPos(1200, 1000);
        ASSERT_TRUE(load());
        host_ = newHostWindow(40, 40);
        ASSERT_NE(host_, nullptr);
        pump(50);
    }

    void TearDown() override {
        for (AEffect* effect : instances_) dispatch(effect, effClose);
        instances_.clear();
        for (HWND hwnd : hosts_)
            if (IsWindow(hwnd)) DestroyWindow(hwnd);
        while (pluginLoaded()) {
            HMODULE module = GetModuleHandleA(pluginPath().c_str());
            if (module == nullptr || !FreeLibrary(module)) break;
        }
        pump(20);
    }

    // Loads the library as a host does and counts its class registrations from zero.
    bool load() {
        module_ = LoadLibraryA(pluginPath().c_str());
        if (module_ == nullptr) {
            ADD_FAILURE() << pluginPath() << ": LoadLibrary failed with error " << GetLastError();
            return false;
        }
        if (!test::countClassRegistrations(module_, kEditorClass)) {
            ADD_FAILURE() << "the DLL does not import RegisterClassExA";
            return false;
        }
        return true;
    }

    // Frees the library with whatever is still open; those instances are gone with it.
    bool unload() {
        instances_.clear();
        return FreeLibrary(module_) != 0;
    }

    AEffect* create(audioMasterCallback host = lumisere::host::stubHostCallback) {
        auto entry = reinterpret_cast<VstPluginMainProc>(
            reinterpret_cast<void*>(GetProcAddress(module_, "VSTPluginMain")));
        AEffect* effect = entry != nullptr ? entry(host) : nullptr;
        if (effect == nullptr) {
            ADD_FAILURE() << "no instance";
            return nullptr;
        }
        dispatch(effect, effOpen);
        instances_.push_back(effect);
        return effect;
    }

    VstIntPtr close(AEffect* effect) {
        instances_.erase(std::remove(instances_.begin(), instances_.end(), effect), instances_.end());
        return dispatch(effect, effClose);
    }

    HWND newHostWindow(int x, int y) {
        const HWND hwnd = makeHostWindow(x, y, 900, 600);
        hosts_.push_back(hwnd);
        return hwnd;
    }

    // Opens effect's editor in parent and returns it, or null.
    static HWND openEditor(AEffect* effect, HWND parent) {
        if (effect == nullptr || dispatch(effect, effEditOpen, 0, 0, parent) != 1) return nullptr;
        return onlyEditorIn(parent);
    }

    static std::uintptr_t gdiplus_;
    HMODULE module_ = nullptr;
    HWND host_ = nullptr;
    std::vector<AEffect*> instances_;  // still to be closed
    std::vector<HWND> hosts_;
};
std::uintptr_t WindowsEditorTest::gdiplus_ = 0;

TEST_F(WindowsEditorTest, OpensOneChildOfTheHostWindowAndRegistersItsClassOnce) {
    AEffect* a = create();
    ASSERT_NE(a, nullptr);
    // Opened before its size is asked for, as some hosts do.
    const HWND child = openEditor(a, host_);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(editorWindowCount(), 1);
    EXPECT_EQ(GetParent(child), host_);
    EXPECT_TRUE(IsWindowVisible(child));
    RECT bounds{};
    GetWindowRect(child, &bounds);
    MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&bounds), 2);
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.top, 0);
    EXPECT_EQ(bounds.right - bounds.left, kWidth);
    EXPECT_EQ(bounds.bottom - bounds.top, kHeight);
    EXPECT_NE(GetWindowLongPtrA(child, GWLP_USERDATA), 0);
    EXPECT_EQ(reinterpret_cast<HMODULE>(GetWindowLongPtrA(child, GWLP_HINSTANCE)), module_);

    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(a, effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, kHeight);
    EXPECT_EQ(rect->right, kWidth);
    EXPECT_EQ(onlyEditorIn(host_), child) << "asking for the size keeps the window";

    // A second open without a close replaces the window: one editor per instance.
    const HWND replacement = openEditor(a, host_);
    EXPECT_NE(replacement, nullptr);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(editorWindowCount(), 1);

    EXPECT_EQ(dispatch(a, effEditClose), 1);
    EXPECT_EQ(editorWindowCount(), 0);
    EXPECT_EQ(dispatch(a, effEditClose), 1) << "closing a closed editor";
    EXPECT_TRUE(editorClassRegistered(module_)) << "the class stays for the next window";

    // Opened again, and beside it a second instance's editor in a second host window.
    const HWND reopened = openEditor(a, host_);
    AEffect* b = create();
    const HWND otherHost = newHostWindow(320, 420);
    const HWND other = openEditor(b, otherHost);
    ASSERT_NE(reopened, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(editorWindowCount(), 2);
    EXPECT_NE(GetWindowLongPtrA(reopened, GWLP_USERDATA), GetWindowLongPtrA(other, GWLP_USERDATA));
    EXPECT_EQ(gClassRegistrations, 1);

    // The first instance closed with its editor open: the second's editor carries on.
    MessageWatch watch(other);
    EXPECT_EQ(close(a), 1);
    EXPECT_FALSE(IsWindow(reopened));
    EXPECT_EQ(onlyEditorIn(otherHost), other);
    InvalidateRect(other, nullptr, FALSE);
    EXPECT_TRUE(pumpUntil([&] { return watch.paints() >= 1; }));
    EXPECT_EQ(gClassRegistrations, 1);
}

TEST_F(WindowsEditorTest, TimerRepaintsShowTheHostsChangesWithoutIdleCalls) {
    AEffect* effect = create();
    const HWND child = openEditor(effect, host_);
    ASSERT_NE(child, nullptr);
    pump(300);  // shown and painted
    MessageWatch watch(child);
    pump(1000);
    // 33 ticks a second at best, on a busy machine fewer. No idle call is ever made here: the editor
    // keeps its own time. With nothing changed no tick repaints (an expose of the host's aside).
    EXPECT_GE(watch.count(WM_TIMER), 5);
    EXPECT_LE(watch.count(WM_TIMER), 40);
    EXPECT_LE(watch.paints(), 1);
    EXPECT_EQ(pixelsUnlikeThePanel(child, effect), 0) << "at the defaults";

    // The host's automation thread moves parameters; the picture follows at the next ticks.
    std::thread([effect] {
        effect->setParameter(effect, kParamDeEssThresh, 0.8f);
        effect->setParameter(effect, kParamFocusFreq, 0.9f);
        effect->setParameter(effect, kParamListenSibilance, 1.0f);
        effect->setParameter(effect, kParamNoiseReduce, 0.1f);
        effect->setParameter(effect, kParamOutputTrim, 0.25f);
        effect->setParameter(effect, kParamDryWet, 0.3f);
        effect->setParameter(effect, kParamBypass, 1.0f);
    }).join();
    ASSERT_TRUE(pumpUntil([&] { return watch.paints() >= 1; }));
    EXPECT_EQ(pixelsUnlikeThePanel(child, effect), 0) << "after the host's changes";
}

// Every gesture also reaches the host at once, from the window procedure on the host's thread, as
// begin, automate, end.
TEST_F(WindowsEditorTest, RealAndPostedMouseInputSetTheParametersTheHostReadsAndIsTold) {
    AEffect* effect = create(test::recordingHost);
    const HWND child = openEditor(effect, host_);
    ASSERT_NE(child, nullptr);
    MessageWatch watch(child);
    pump(100);
    auto param = [effect](int index) { return effect->getParameter(effect, index); };
    auto closeTo = [](float a, float b) { return std::fabs(a - b) < 1e-6f; };
    test::takeHostCalls();
    auto expectToldOnThisThread = [](const std::vector<std::string>& expected) {
        const test::HostCalls calls = test::takeHostCalls();
        EXPECT_EQ(calls.calls, expected);
        for (const auto& thread : calls.threads) EXPECT_EQ(thread, std::this_thread::get_id());
    };

    // De-Ess Thresh from its default, half way: 100 px up in five moves cover the other half.
    ASSERT_EQ(param(kParamDeEssThresh), 0.5f);
    ASSERT_TRUE(pointerTo(child, 85, 270));
    ASSERT_TRUE(sendButtons({MOUSEEVENTF_LEFTDOWN}));
    ASSERT_TRUE(pumpUntil([&] { return GetCapture() == child; }));
    for (int rise = 20; rise <= 100; rise += 20) {
        ASSERT_TRUE(pointerTo(child, 85, 270 - rise));
        EXPECT_TRUE(pumpUntil([&] { return closeTo(param(kParamDeEssThresh), 0.5f + static_cast<float>(rise) / 200.0f); })) << rise;
    }
    ASSERT_TRUE(sendButtons({MOUSEEVENTF_LEFTUP}));
    ASSERT_TRUE(pumpUntil([&] { return GetCapture() == nullptr; }));
    EXPECT_EQ(param(kParamDeEssThresh), 1.0f);
    expectToldOnThisThread(test::dragCalls(kParamDeEssThresh, 0.5f, 100, 20, editor::kDragPerPixel));

    // A double-click on Bypass switches it once: the second press of the pair is no second toggle.
    ASSERT_EQ(param(kParamBypass), 0.0f);
    ASSERT_TRUE(pointerTo(child, 277, kHeight - 30));
    ASSERT_TRUE(sendButtons({MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    ASSERT_TRUE(pumpUntil([&] { return watch.count(WM_LBUTTONUP) == 3; }));
    EXPECT_EQ(watch.count(WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(param(kParamBypass), 1.0f);
    expectToldOnThisThread(test::clickCalls(kParamBypass, 1.0f));

    // A click on the dry/wet strip sets the mix from where it lands: 105 px into the 140 px strip.
    ASSERT_TRUE(pointerTo(child, 165, kHeight - 40));
    ASSERT_TRUE(sendButtons({MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    ASSERT_TRUE(pumpUntil([&] { return watch.count(WM_LBUTTONUP) == 4; }));
    EXPECT_EQ(param(kParamDryWet), 105.0f / 140.0f);
    expectToldOnThisThread(test::clickCalls(kParamDryWet, 105.0f / 140.0f));

    // Posted, as some hosts forward input: a click on Listen Sib switches it on; a drag of Air Silk
    // ends when another window takes the capture, so a later move with the button held changes nothing.
    auto at = [](int x, int y) { return MAKELPARAM(x, y); };
    PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at(305, 270));
    PostMessageA(child, WM_LBUTTONUP, 0, at(305, 270));
    EXPECT_TRUE(pumpUntil([&] { return param(kParamListenSibilance) == 1.0f; }));
    expectToldOnThisThread(test::clickCalls(kParamListenSibilance, 1.0f));
    PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at(645, 270));
    PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, at(645, 250));
    EXPECT_TRUE(pumpUntil([&] { return closeTo(param(kParamAirSilk), 0.75f + 20 / 200.0f); }));
    SetCapture(host_);
    const int moves = watch.count(WM_MOUSEMOVE);
    PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, at(645, 200));
    EXPECT_TRUE(pumpUntil([&] { return watch.count(WM_MOUSEMOVE) > moves; }));
    ReleaseCapture();
    EXPECT_TRUE(closeTo(param(kParamAirSilk), 0.75f + 20 / 200.0f));
    expectToldOnThisThread(test::dragCalls(kParamAirSilk, 0.75f, 20, 20, editor::kDragPerPixel));

    // A drag under way when the host closes the editor ends with the close; when it closes the
    // instance, the host is told nothing more.
    const float noise = param(kParamNoiseReduce);
    PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at(535, 270));
    PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, at(535, 260));
    EXPECT_TRUE(pumpUntil([&] { return param(kParamNoiseReduce) != noise; }));
    EXPECT_EQ(dispatch(effect, effEditClose), 1);
    expectToldOnThisThread(test::dragCalls(kParamNoiseReduce, noise, 10, 10, editor::kDragPerPixel));
    const HWND again = openEditor(effect, host_);
    ASSERT_NE(again, nullptr);
    PostMessageA(again, WM_LBUTTONDOWN, MK_LBUTTON, at(535, 270));
    EXPECT_TRUE(pumpUntil([&] { return GetCapture() == again; }));
    EXPECT_EQ(test::takeHostCalls().calls, std::vector<std::string>{"begin 4"});
    EXPECT_EQ(close(effect), 1);
    EXPECT_TRUE(test::takeHostCalls().calls.empty());
}

TEST_F(WindowsEditorTest, FocusDragRetunesTheAudioFromTheNextBlockOnEveryMove) {
    // Three instances take the same signal: one dragged in its editor, one that the host sets to each
    // value the drag reaches, one left alone.
    AEffect* dragged = create();
    AEffect* reference = create();
    AEffect* unmoved = create();
    const HWND child = openEditor(dragged, host_);
    ASSERT_NE(child, nullptr);
    ASSERT_NE(unmoved, nullptr);
    pump(100);
    ToneSource tone;
    struct Outputs {
        StereoBlock dragged, reference, unmoved;
    };
    auto block = [&] {
        tone.next();
        return Outputs{process(dragged, tone), process(reference, tone), process(unmoved, tone)};
    };
    for (int i = 0; i < 8; ++i) block();  // the de-esser at work on the tones

    ASSERT_TRUE(pointerTo(child, 195, 270));
    ASSERT_TRUE(sendButtons({MOUSEEVENTF_LEFTDOWN}));
    ASSERT_TRUE(pumpUntil([&] { return GetCapture() == child; }));
    for (int step = 1; step <= 6; ++step) {
        const float before = dragged->getParameter(dragged, kParamFocusFreq);
        ASSERT_TRUE(pointerTo(child, 195, 270 - 8 * step));
        ASSERT_TRUE(pumpUntil([&] { return dragged->getParameter(dragged, kParamFocusFreq) > before; })) << step;
        reference->setParameter(reference, kParamFocusFreq, dragged->getParameter(dragged, kParamFocusFreq));
        const Outputs out = block();
        // Bit for bit what the host's setting gives, and not what the old design gives.
        EXPECT_TRUE(out.dragged == out.reference) << "move " << step;
        EXPECT_FALSE(out.dragged == out.unmoved) << "move " << step;
    }
    ASSERT_TRUE(sendButtons({MOUSEEVENTF_LEFTUP}));
    EXPECT_TRUE(pumpUntil([&] { return GetCapture() == nullptr; }));
}

TEST_F(WindowsEditorTest, ClosingFirstOrLosingTheParentLeavesNoWindowAndBadParentsGiveNone) {
    // effClose with the editor open: the window goes with the instance, and no message reaches it after.
    AEffect* a = create();
    HWND child = openEditor(a, host_);
    ASSERT_NE(child, nullptr);
    {
        MessageWatch watch(child);
        pump(100);
        EXPECT_EQ(close(a), 1);
        EXPECT_FALSE(IsWindow(child));
        const std::size_t seen = watch.total();
        pump(300);  // ten ticks
        EXPECT_EQ(watch.total(), seen);
    }

    // The host destroys its window first, the editor with it; then it changes a parameter, closes the
    // editor, opens it in another window and closes the instance.
    AEffect* b = create();
    const HWND doomed = newHostWindow(320, 420);
    child = openEditor(b, doomed);
    ASSERT_NE(child, nullptr);
    pump(100);
    DestroyWindow(doomed);
    EXPECT_FALSE(IsWindow(child));
    b->setParameter(b, kParamAirSilk, 0.2f);
    pump(200);
    EXPECT_EQ(dispatch(b, effEditClose), 1);
    EXPECT_NE(openEditor(b, host_), nullptr);
    EXPECT_EQ(close(b), 1);
    EXPECT_EQ(editorWindowCount(), 0);

    // Parents that are no window: no editor anywhere, the answer 0, no crash; a good one still works.
    AEffect* c = create();
    const HWND stale = makeHostWindow(0, 0, 100, 100);
    DestroyWindow(stale);
    for (void* parent : {static_cast<void*>(nullptr), reinterpret_cast<void*>(0x4242),
                         reinterpret_cast<void*>(~std::uintptr_t{0}), static_cast<void*>(stale)}) {
        EXPECT_EQ(dispatch(c, effEditOpen, 0, 0, parent), 0) << parent;
        pump(50);
        EXPECT_EQ(editorWindowCount(), 0) << parent;
        EXPECT_EQ(dispatch(c, effEditClose), 1) << parent;
    }
    EXPECT_NE(openEditor(c, host_), nullptr);
    EXPECT_EQ(close(c), 1);
}

TEST_F(WindowsEditorTest, FreeingTheLibraryWithTheEditorOpenTakesWindowAndClassAlong) {
    AEffect* effect = create();
    const HWND child = openEditor(effect, host_);
    ASSERT_NE(child, nullptr);
    pump(100);
    ASSERT_EQ(gClassRegistrations, 1);

    // The host frees the library without effEditClose or effClose.
    const HMODULE freed = module_;
    ASSERT_TRUE(unload());
    ASSERT_FALSE(pluginLoaded());
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(editorWindowCount(), 0);
    EXPECT_FALSE(editorClassRegistered(freed)) << "the class went with the library";
    // The host window lives on and is repainted where the editor was, with nothing of the library left to call.
    InvalidateRect(host_, nullptr, TRUE);
    pump(300);
    EXPECT_TRUE(IsWindow(host_));

    // Loaded again, the library registers its class afresh and shows its editor as before.
    ASSERT_TRUE(load());
    AEffect* again = create();
    const HWND reopened = openEditor(again, host_);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(gClassRegistrations, 1);
    EXPECT_TRUE(editorClassRegistered(module_));
    MessageWatch watch(reopened);
    ASSERT_TRUE(pumpUntil([&] { return watch.paints() >= 1; }));
    EXPECT_EQ(pixelsUnlikeThePanel(reopened, again), 0);
}

TEST_F(WindowsEditorTest, AThousandOpensAndClosesLeaveNothingBehind) {
    // An instance that lives throughout keeps GDI+ started, as in a host with other plug-ins open.
    ASSERT_NE(create(), nullptr);
    AEffect* effect = create();
    auto cycle = [&](int i) {
        const HWND child = openEditor(effect, host_);
        // Every fifth waits for its first paint, which leaves nothing of the window to update; the
        // others close before it.
        const bool painted = child != nullptr &&
                             (i % 5 != 0 || pumpUntil([child] { return !GetUpdateRect(child, nullptr, FALSE); }));
        // Every tenth editor goes with its instance, the others with effEditClose.
        if (i % 10 == 9) {
            close(effect);
            effect = create();
        } else {
            dispatch(effect, effEditClose);
        }
        return painted;
    };
    test::expectCyclesLeaveNothingBehind(1000, cycle);
    EXPECT_EQ(editorWindowCount(), 0);
}

// A host that rescans or reloads: 100 loads and frees, every other one with an instance whose editor
// is open and that the host never closes. Each free takes the window and the class along and leaves
// the library out of the process; no window, object or handle is left, and the heap grows by no more
// than the records the host never closed.
TEST_F(WindowsEditorTest, AHundredLoadsAndFreesWithAndWithoutAnOpenEditorLeaveNothingBehind) {
    ASSERT_TRUE(unload());
    auto cycle = [&](int i) {
        if (!load()) return false;
        AEffect* effect = create();
        if (effect == nullptr) return false;
        const bool leftOpen = i % 2 == 1;
        if (leftOpen) {
            if (openEditor(effect, host_) == nullptr) return false;
            pump(5);
        } else {
            close(effect);
        }
        const HMODULE freed = module_;
        return unload() && !pluginLoaded() && editorWindowCount() == 0 && !editorClassRegistered(freed);
    };
    // The odd cycles free the library under an open editor, so the host can never close that instance:
    // its record (about 1.3 KB) stays behind 50 times, as it would in such a host.
    test::expectCyclesLeaveNothingBehind(100, cycle, 96 * 1024);
    ASSERT_TRUE(load());  // as the fixture expects to find it
}

// The picture for the README: the editor in an 880 x 580 host window with a title margin above it,
// after half a second of the tones so its meters are at work, read from the screen as a user sees it.
bool writeScreenshot(const char* path) {
    constexpr int kFrameWidth = 880;
    constexpr int kFrameHeight = 580;
    const std::uintptr_t gdiplus = platform::startGraphicsRuntime();
    registerHostClass();
    HMODULE module = LoadLibraryA(pluginPath().c_str());
    auto entry = module == nullptr ? nullptr
                                   : reinterpret_cast<VstPluginMainProc>(
                                         reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
    AEffect* effect = entry != nullptr ? entry(lumisere::host::stubHostCallback) : nullptr;
    if (gdiplus == 0 || effect == nullptr) {
        std::fprintf(stderr, "windows_editor_tests: cannot load %s\n", pluginPath().c_str());
        return false;
    }
    SetCursorPos(1200, 1000);
    const HWND frame = makeHostWindow(40, 40, kFrameWidth, kFrameHeight, "Ostrel Lumisere  -  Insert 1");
    const HWND slot = CreateWindowExA(0, kHostClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 20, 40, kWidth,
                                      kHeight, frame, nullptr, GetModuleHandleA(nullptr), nullptr);
    dispatch(effect, effOpen);
    dispatch(effect, effEditOpen, 0, 0, slot);
    ToneSource tone(0.15);
    for (int i = 0; i < 86; ++i) {
        tone.next();
        process(effect, tone);
    }
    pump(500);

    RECT bounds{};
    GetWindowRect(frame, &bounds);
    HDC screen = GetDC(nullptr);
    std::vector<std::uint32_t> pixels = test::readPixels(screen, bounds.left, bounds.top, kFrameWidth, kFrameHeight);
    ReleaseDC(nullptr, screen);
    bool written = false;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (!pixels.empty() &&
        Gdiplus::DllExports::GdipCreateBitmapFromScan0(kFrameWidth, kFrameHeight, kFrameWidth * 4,
                                                       PixelFormat32bppRGB,
                                                       reinterpret_cast<BYTE*>(pixels.data()), &bitmap) == Gdiplus::Ok) {
        written = platform::writeBitmapPng(bitmap, path);
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    }
    if (!written) std::fprintf(stderr, "windows_editor_tests: %s was not written\n", path);

    dispatch(effect, effEditClose);
    dispatch(effect, effClose);
    DestroyWindow(frame);
    FreeLibrary(module);
    platform::stopGraphicsRuntime(gdiplus);
    return written;
}

}  // namespace
}  // namespace lumisere

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) return lumisere::writeScreenshot(argv[2]) ? 0 : 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
