// The X11 window backend driven as a host drives it. The program starts an Xvfb of its own (the server
// picks a free display number), makes parent windows on its own connection, opens editor windows in
// them with a client that records what reaches it and paints a known picture, and moves the pointer
// through XTest. The host's error handler stays installed throughout and must see no error of the
// editors' connections.
#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/cairo/cairo_canvas.h"
#include "platform/window_layer.h"
#include "platform/x11/x11_window.h"
#include "x11_test_support.h"

namespace lumisere::platform {
namespace {

using namespace lumisere::x11test;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new PrivateXServer);

// Whether the host can grab the pointer, i.e. no other client holds it.
bool pointerFree() {
    const int grabbed = XGrabPointer(gHost, DefaultRootWindow(gHost), False, ButtonPressMask, GrabModeAsync,
                                     GrabModeAsync, None, None, CurrentTime);
    if (grabbed != GrabSuccess) return false;
    XUngrabPointer(gHost, CurrentTime);
    XSync(gHost, False);
    return true;
}

// The known picture: an opaque gradient, a translucent disc and a translucent line with one round cap.
void paintPicture(Canvas& canvas, int width, int height) {
    canvas.fillRect({0, 0, width, height}, Brush::linear({0, 0}, 0xFF102030, {width, height}, 0xFFE0C0A0));
    canvas.fillEllipse({width / 4, height / 4, width / 2, height / 2}, Brush::solid(0xC000E6FF));
    canvas.strokeLine(Point{2, height - 3}, Point{width - 3, 2}, Pen{0x80FF2020, 3.0f, LineCap::round, LineCap::flat});
}

enum class Kind { press, doubleClick, move, release, lost };

struct Seen {
    Kind kind;
    int x = 0;
    int y = 0;
    bool held = false;
    bool operator==(const Seen& o) const { return kind == o.kind && x == o.x && y == o.y && held == o.held; }
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    static const char* const kNames[] = {"press", "doubleClick", "move", "release", "lost"};
    return out << kNames[static_cast<int>(s.kind)] << "(" << s.x << ", " << s.y << (s.held ? ", held)" : ")");
}

// The editor's side as the tests see it: records pointer calls, counts ticks and paints, answers as
// the editor's mouse handling does (every press captures, every release frees), and can hold a paint.
class FakeClient final : public WindowClient {
public:
    explicit FakeClient(int width = 0, int height = 0) : width_(width), height_(height) {}

    // Paints only when asked for the whole picture: the canvas keeps it.
    Damage paint(Canvas& canvas, int width, int height, bool whole) override {
        noteThread();
        ticks.fetch_add(1);
        if ((width_ != 0 && width != width_) || (height_ != 0 && height != height_)) wrongSizes.fetch_add(1);
        if (whole) paintPicture(canvas, width, height);
        std::unique_lock<std::mutex> lock(gateMutex_);
        paintHeld_ = holding_;
        gateChanged_.notify_all();
        gateChanged_.wait(lock, [this] { return !holding_; });
        paintHeld_ = false;
        paints.fetch_add(1);
        Damage damage;
        if (whole) damage.add({0, 0, width, height});
        return damage;
    }
    PointerResponse pointerPress(int x, int y, int clientHeight) override {
        if (height_ != 0 && clientHeight != height_) wrongSizes.fetch_add(1);
        record({Kind::press, x, y});
        return {true, false, true};
    }
    PointerResponse doubleClickPress(int x, int y) override {
        record({Kind::doubleClick, x, y});
        return {};
    }
    PointerResponse pointerMove(int x, int y, bool leftButtonHeld) override {
        record({Kind::move, x, y, leftButtonHeld});
        return {false, false, leftButtonHeld};
    }
    PointerResponse pointerRelease(int x, int y) override {
        record({Kind::release, x, y});
        return {false, true, true};
    }
    void captureLost() override { record({Kind::lost}); }

    std::vector<Seen> seen(bool withMoves = true) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Seen> result;
        for (const Seen& s : seen_) {
            if (withMoves || s.kind != Kind::move) result.push_back(s);
        }
        return result;
    }

    // Holds the next paint until releasePaints(); true once a paint is waiting.
    bool holdPaints() {
        std::unique_lock<std::mutex> lock(gateMutex_);
        holding_ = true;
        return gateChanged_.wait_for(lock, 5s, [this] { return paintHeld_; });
    }
    void releasePaints() {
        std::lock_guard<std::mutex> lock(gateMutex_);
        holding_ = false;
        gateChanged_.notify_all();
    }

    // Every call came on one thread, and not on the test's (the host's UI thread).
    bool calledOnOneForeignThread() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return !strayThread_ && caller_ != std::thread::id{} && caller_ != testThread_;
    }

    std::atomic<int> ticks{0};
    std::atomic<int> paints{0};
    std::atomic<int> wrongSizes{0};

private:
    void noteThread() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (caller_ == std::thread::id{}) caller_ = std::this_thread::get_id();
        if (caller_ != std::this_thread::get_id()) strayThread_ = true;
    }
    void record(const Seen& s) {
        noteThread();
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(s);
    }

    const int width_;
    const int height_;
    mutable std::mutex mutex_;
    std::vector<Seen> seen_;
    const std::thread::id testThread_ = std::this_thread::get_id();
    std::thread::id caller_{};
    bool strayThread_ = false;
    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    bool holding_ = false;
    bool paintHeld_ = false;
};

class X11Window : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(gHost, nullptr); }

    void TearDown() override {
        EXPECT_EQ(openChildWindowCount(), 0);
        EXPECT_EQ(gStrayErrors.load(), 0) << "an error of an editor's connection reached the host's handler";
        // Still the host's handler: installing it again hands back the one in place.
        EXPECT_EQ(XSetErrorHandler(hostErrorHandler), &hostErrorHandler);
        for (Window parent : parents_) XDestroyWindow(gHost, parent);
        XSync(gHost, False);
    }

    // A mapped top-level window of the host at (x, y) in root coordinates (Xvfb runs no window manager).
    Window makeParent(int x, int y, int width, int height) {
        const Window parent =
            makeHostWindow(DefaultRootWindow(gHost), x, y, width, height, WhitePixel(gHost, DefaultScreen(gHost)));
        parents_.push_back(parent);
        return parent;
    }

    // A width x height editor window in parent, open and painted once.
    static std::unique_ptr<ChildWindow> openPainted(Window parent, FakeClient& client, int width, int height) {
        auto window = openChildWindow(asParent(parent), width, height, client);
        if (window != nullptr) {
            EXPECT_TRUE(waitFor([&] { return client.paints.load() >= 1; }));
        }
        return window;
    }

    // The pointer tests' editor: 200 x 120 in a 300 x 200 parent (pointerParent_) whose top-left corner
    // lies at (kLeft, kTop) of the root.
    static constexpr int kLeft = 40;
    static constexpr int kTop = 30;
    std::unique_ptr<ChildWindow> openPointerWindow(FakeClient& client) {
        pointerParent_ = makeParent(kLeft, kTop, 300, 200);
        return openPainted(pointerParent_, client, 200, 120);
    }

    // Holds the left button down at (20, 20) of that editor, once the press has reached the client.
    static void holdDownInside(FakeClient& client) {
        pointerTo(kLeft + 20, kTop + 20);
        leftButton(true);
        ASSERT_TRUE(waitFor([&] { return client.seen(false) == std::vector<Seen>{{Kind::press, 20, 20}}; }));
    }

    std::vector<Window> parents_;
    Window pointerParent_ = 0;
};

TEST_F(X11Window, OpensAMappedChildThatTicksAndPaintsWithoutIdleCallsAndMergesRepaints) {
    const Window parent = makeParent(20, 20, 300, 200);
    FakeClient client(240, 150);
    auto window = openChildWindow(asParent(parent), 240, 150, client);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(openChildWindowCount(), 1);
    EXPECT_TRUE(window->alive());

    const Window child = asWindow(window->nativeHandle());
    EXPECT_EQ(childrenOf(parent), std::vector<Window>{child});
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(gHost, child, &attributes), 0);
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.y, 0);
    EXPECT_EQ(attributes.width, 240);
    EXPECT_EQ(attributes.height, 150);
    EXPECT_EQ(attributes.map_state, IsViewable);

    // About 33 ticks a second, each followed by one paint, and nobody calls the window meanwhile.
    ASSERT_TRUE(waitFor([&] { return client.paints.load() >= 1; }));
    const int ticks0 = client.ticks.load();
    const int paints0 = client.paints.load();
    std::this_thread::sleep_for(600ms);
    const int ticks = client.ticks.load() - ticks0;
    const int paints = client.paints.load() - paints0;
    EXPECT_GE(ticks, 6);  // 20 on an idle machine
    EXPECT_LE(ticks, 30);
    EXPECT_GE(paints, ticks - 1);
    EXPECT_LE(paints, ticks + 2);

    // A second editor at once, on a connection and thread of its own.
    const Window otherParent = makeParent(340, 20, 120, 100);
    FakeClient other(100, 80);
    auto second = openChildWindow(asParent(otherParent), 100, 80, other);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(openChildWindowCount(), 2);
    const int ticksBefore = client.ticks.load();
    EXPECT_TRUE(waitFor([&] { return other.ticks.load() >= 3 && client.ticks.load() >= ticksBefore + 3; }));
    second.reset();
    EXPECT_EQ(openChildWindowCount(), 1);

    // The ticks that came due while a paint was held merge into one more paint, not a burst.
    ASSERT_TRUE(client.holdPaints());
    const int heldAt = client.paints.load();
    std::this_thread::sleep_for(100ms);
    const int ticksAtRelease = client.ticks.load();
    client.releasePaints();
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(client.paints.load() - heldAt, 2 + (client.ticks.load() - ticksAtRelease) + 1);

    EXPECT_EQ(client.wrongSizes.load(), 0);
    EXPECT_TRUE(client.calledOnOneForeignThread());
    EXPECT_TRUE(other.calledOnOneForeignThread());
}

TEST_F(X11Window, TheWindowShowsTheCairoPictureOfThePaint) {
    FakeClient client(160, 100);
    auto window = openPainted(makeParent(10, 10, 200, 150), client, 160, 100);
    ASSERT_NE(window, nullptr);
    // The second paint starts after the first one's copy has reached the server.
    ASSERT_TRUE(waitFor([&] { return client.paints.load() >= 2; }));

    XImage* shown = XGetImage(gHost, asWindow(window->nativeHandle()), 0, 0, 160, 100, AllPlanes, ZPixmap);
    ASSERT_NE(shown, nullptr);
    // The same paint on a fresh canvas. A 24-bit window shows the picture over black, which is Cairo's
    // premultiplied word without its alpha (the edge rows are half covered: pixel centres on whole
    // coordinates).
    CairoCanvas expected(160, 100);
    paintPicture(expected, 160, 100);
    cairo_surface_flush(expected.surface());
    const unsigned char* words = cairo_image_surface_get_data(expected.surface());
    const int stride = cairo_image_surface_get_stride(expected.surface());
    int differing = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) {
            const auto word = *reinterpret_cast<const std::uint32_t*>(words + y * stride + 4 * x);
            if ((XGetPixel(shown, x, y) & 0xFFFFFFu) != (word & 0xFFFFFFu)) ++differing;
        }
    }
    XDestroyImage(shown);
    EXPECT_EQ(differing, 0);
}

TEST_F(X11Window, PressMoveAndReleaseArriveInClientCoordinatesAndFollowThePointerOutsideWhileHeld) {
    FakeClient client(200, 120);
    auto window = openPointerWindow(client);
    ASSERT_NE(window, nullptr);

    pointerTo(kLeft + 50, kTop + 60);
    leftButton(true);
    pointerTo(kLeft - 25, kTop - 20);    // beyond the parent too: the grab still sends it to us
    pointerTo(kLeft + 400, kTop + 300);
    leftButton(false);
    // The release frees the grab: once it has reached the client, another client can take the pointer,
    // and a move outside is no longer ours. Not before: until our thread has taken the press and
    // grabbed, the release alone ends the server's implicit grab, and our grab would come after.
    EXPECT_TRUE(waitFor([&] { return client.seen(false).size() >= 2; }));
    EXPECT_TRUE(waitFor(pointerFree));
    pointerTo(kLeft + 450, kTop + 310);
    pointerTo(kLeft + 10, kTop + 10);
    const std::vector<Seen> expected = {
        {Kind::move, 50, 60, false}, {Kind::press, 50, 60},        {Kind::move, -25, -20, true},
        {Kind::move, 400, 300, true}, {Kind::release, 400, 300}, {Kind::move, 10, 10, false},
    };
    EXPECT_TRUE(waitFor([&] { return client.seen().size() >= expected.size(); }));
    EXPECT_EQ(client.seen(), expected);
    EXPECT_EQ(client.wrongSizes.load(), 0);
    EXPECT_TRUE(client.calledOnOneForeignThread());
}

TEST_F(X11Window, AQuickPairIsOnePressAndOneDoubleClickButNotWhenApartOrSlow) {
    FakeClient client(200, 120);
    auto window = openPointerWindow(client);
    ASSERT_NE(window, nullptr);

    clickAt(kLeft + 60, kTop + 40);
    clickAt(kLeft + 62, kTop + 38);  // within 2 pixels: the pair's second press
    clickAt(kLeft + 62, kTop + 38);  // a third quick press starts anew
    clickAt(kLeft + 66, kTop + 38);  // 4 pixels away: apart
    std::this_thread::sleep_for(600ms);
    clickAt(kLeft + 66, kTop + 38);  // same place, but after 500 ms
    const std::vector<Seen> expected = {
        {Kind::press, 60, 40},   {Kind::release, 60, 40}, {Kind::doubleClick, 62, 38}, {Kind::release, 62, 38},
        {Kind::press, 62, 38},   {Kind::release, 62, 38}, {Kind::press, 66, 38},       {Kind::release, 66, 38},
        {Kind::press, 66, 38},   {Kind::release, 66, 38},
    };
    EXPECT_TRUE(waitFor([&] { return client.seen(false).size() >= expected.size(); }));
    EXPECT_EQ(client.seen(false), expected);
}

TEST_F(X11Window, AGrabTakenAwayIsReportedAsLostAndTheWindowWorksOnAfterwards) {
    FakeClient client(200, 120);
    auto window = openPointerWindow(client);
    ASSERT_NE(window, nullptr);
    holdDownInside(client);

    // The host hides its window: ours becomes unviewable and the server ends our grab.
    XUnmapWindow(gHost, pointerParent_);
    XSync(gHost, False);
    EXPECT_TRUE(waitFor([&] { return client.seen(false).size() >= 2; }));
    leftButton(false);
    XMapWindow(gHost, pointerParent_);
    XSync(gHost, False);
    clickAt(kLeft + 30, kTop + 30);
    const std::vector<Seen> expected = {
        {Kind::press, 20, 20}, {Kind::lost}, {Kind::press, 30, 30}, {Kind::release, 30, 30}};
    EXPECT_TRUE(waitFor([&] { return client.seen(false).size() >= expected.size(); }));
    EXPECT_EQ(client.seen(false), expected);
    EXPECT_TRUE(window->alive());
}

TEST_F(X11Window, TheParentDestroyedFirstIsSurvived) {
    FakeClient client(200, 120);
    auto window = openPointerWindow(client);
    ASSERT_NE(window, nullptr);
    holdDownInside(client);

    // The host destroys its window (and ours with it) between ticks.
    XDestroyWindow(gHost, pointerParent_);
    XSync(gHost, False);
    parents_.clear();
    EXPECT_TRUE(waitFor([&] { return !window->alive(); }));
    leftButton(false);

    // No more ticks once the window is gone, and the capture was lost, once.
    const int ticks = client.ticks.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(client.ticks.load() - ticks, 1);
    EXPECT_EQ(client.seen(false), (std::vector<Seen>{{Kind::press, 20, 20}, {Kind::lost}}));

    window.reset();
    EXPECT_EQ(openChildWindowCount(), 0);
}

TEST_F(X11Window, BadParentsSizesAndNoDisplayGiveNullAndLeaveNothing) {
    const Window parent = makeParent(10, 10, 100, 100);
    const int threads = threadCount();
    const int descriptors = descriptorCount();
    const int swallowed = x11SwallowedErrorCount();
    FakeClient client;

    EXPECT_EQ(openChildWindow(nullptr, 100, 100, client), nullptr);
    EXPECT_EQ(openChildWindow(asParent(0x1BADF00D), 100, 100, client), nullptr);  // no such resource
    const Pixmap pixmap = XCreatePixmap(gHost, DefaultRootWindow(gHost), 8, 8, 24);
    const Window gone = XCreateSimpleWindow(gHost, DefaultRootWindow(gHost), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(gHost, gone);
    XSync(gHost, False);
    EXPECT_EQ(openChildWindow(asParent(pixmap), 100, 100, client), nullptr);  // a resource, but no window
    EXPECT_EQ(openChildWindow(asParent(gone), 100, 100, client), nullptr);    // a stale id
    // A live window's id under garbage in the upper bits is no id.
    EXPECT_EQ(openChildWindow(reinterpret_cast<void*>(std::uintptr_t{0x7F0000000000} | parent), 100, 100, client),
              nullptr);
    XFreePixmap(gHost, pixmap);
    EXPECT_GE(x11SwallowedErrorCount() - swallowed, 3);

    const std::pair<int, int> badSizes[] = {{0, 100}, {100, -1}, {40000, 100}};
    for (const auto& [width, height] : badSizes) {
        EXPECT_EQ(openChildWindow(asParent(parent), width, height, client), nullptr) << width << " x " << height;
    }

    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(openChildWindow(asParent(parent), 100, 100, client), nullptr);
    setenv("DISPLAY", display.c_str(), 1);

    EXPECT_TRUE(childrenOf(parent).empty());
    EXPECT_EQ(threadCount(), threads);
    EXPECT_EQ(descriptorCount(), descriptors);
    EXPECT_EQ(client.ticks.load() + client.paints.load(), 0);

    // The host's own errors still reach the host's handler.
    const int hostErrors = gHostErrors.load();
    XWindowAttributes attributes;
    EXPECT_EQ(XGetWindowAttributes(gHost, 0x1BADF00D, &attributes), 0);
    EXPECT_GT(gHostErrors.load(), hostErrors);
}

TEST_F(X11Window, OpenCloseCyclesLeaveNoWindowThreadOrDescriptorBehind) {
    const Window parent = makeParent(10, 10, 200, 150);
    FakeClient client(120, 90);
    // One cycle first: the first window loads what stays loaded for the process (fontconfig's
    // configuration).
    ASSERT_NE(openPainted(parent, client, 120, 90), nullptr);
    const int threads = threadCount();
    const int descriptors = descriptorCount();

    for (int cycle = 0; cycle < 200; ++cycle) {
        const int paints = client.paints.load();
        auto window = openChildWindow(asParent(parent), 120, 90, client);
        ASSERT_NE(window, nullptr) << "cycle " << cycle;
        ASSERT_TRUE(waitFor([&] { return client.paints.load() > paints; })) << "cycle " << cycle;
    }
    EXPECT_EQ(openChildWindowCount(), 0);
    EXPECT_TRUE(childrenOf(parent).empty());
    // A joined thread's kernel task can linger for a moment.
    EXPECT_TRUE(waitFor([&] { return threadCount() == threads; })) << threadCount() << " threads, " << threads
                                                                   << " before";
    EXPECT_EQ(descriptorCount(), descriptors);
}

}  // namespace
}  // namespace lumisere::platform
