// The Linux editor driven as a host drives it: the built plug-in loaded through its exported entry
// point, a host window of our own on a private Xvfb with a frame in it that the host hands to
// effEditOpen, the pointer moved through XTest and the pixels read back with XGetImage. The host never
// calls effEditIdle, and its own X error handler stays installed throughout.
//
// `x11_editor_tests --screenshot FILE.png` tests nothing: it writes the picture of the editor in the
// host window (docs/editor-linux-x11.png).
#include <cairo.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "editor/mouse.h"
#include "plugin_library.h"
#include "recording_host.h"
#include "x11_editor_support.h"

namespace lumisere {
namespace {

using namespace x11test;
using host::dispatch;
using host::PluginLibrary;
using Clock = std::chrono::steady_clock;

std::string pluginPath() {
    const char* path = std::getenv("LUMISERE_PLUGIN");
    return path != nullptr ? path : LUMISERE_PLUGIN_PATH;
}

AEffect* openInstanceFrom(const PluginLibrary& library, audioMasterCallback host = lumisere::host::stubHostCallback) {
    AEffect* effect = library.entry()(host);
    if (effect == nullptr) return nullptr;
    dispatch(effect, effOpen);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(effect, effSetBlockSize, 0, 512);
    dispatch(effect, effMainsChanged, 0, 1);
    return effect;
}

VstIntPtr openEditor(AEffect* effect, Window parent) { return dispatch(effect, effEditOpen, 0, 0, asParent(parent)); }

float param(AEffect* effect, int index) { return effect->getParameter(effect, index); }

// The Cairo picture of the panel at the instance's parameter values with both meters at zero.
std::vector<std::uint32_t> cairoPanel(AEffect* effect) {
    editor::ValueEditorModel model;
    for (int i = 0; i < kNumParams; ++i) model.params[i] = param(effect, i);
    return panelPicture(model);
}

// Waits until the editor window shows the Cairo picture of the instance's state; the pixels that
// still differ at the limit.
int waitForPanel(Window editor, AEffect* effect) { return waitForPicture(editor, cairoPanel(effect)); }

// A stereo block of loud noise over a 7 kHz tone: the de-esser works on all of it, so where the focus
// band-pass sits shows in every output sample.
class SibilantSignal {
public:
    static constexpr int kFrames = 512;
    static constexpr double kToneStep = 2.0 * 3.14159265358979323846 * 7000.0 / 48000.0;  // radians a frame

    void next(std::vector<float>& left, std::vector<float>& right) {
        left.resize(kFrames);
        right.resize(kFrames);
        for (int i = 0; i < kFrames; ++i, ++frame_) {
            const float tone = 0.3f * static_cast<float>(std::sin(kToneStep * static_cast<double>(frame_)));
            left[i] = tone + 0.3f * noise();
            right[i] = tone + 0.3f * noise();
        }
    }

private:
    float noise() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<float>(state_ >> 8) / 8388608.0f - 1.0f;
    }

    std::uint32_t state_ = 1;
    long frame_ = 0;
};

// One block through an instance: both output channels, left then right.
std::vector<float> processBlock(AEffect* effect, std::vector<float>& left, std::vector<float>& right) {
    std::vector<float> out(2 * left.size());
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {out.data(), out.data() + left.size()};
    effect->processReplacing(effect, inputs, outputs, static_cast<VstInt32>(left.size()));
    return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class X11Editor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gHost, nullptr);
        ASSERT_TRUE(library_->loaded()) << pluginPath() << ": " << library_->error();
        host_ = openHostWindow();
    }

    void TearDown() override {
        for (AEffect* effect : effects_) dispatch(effect, effClose);
        EXPECT_EQ(gStrayErrors.load(), 0) << "an error of the editor's connection reached the host's handler";
        // Still the host's handler: installing it again hands back the one in place.
        EXPECT_EQ(XSetErrorHandler(hostErrorHandler), &hostErrorHandler);
        if (host_.top != 0) XDestroyWindow(gHost, host_.top);
        XSync(gHost, False);
    }

    AEffect* openInstance(audioMasterCallback host = lumisere::host::stubHostCallback) {
        AEffect* effect = openInstanceFrom(*library_, host);
        EXPECT_NE(effect, nullptr);
        if (effect != nullptr) effects_.push_back(effect);
        return effect;
    }
    void closeInstance(AEffect* effect) {
        effects_.erase(std::find(effects_.begin(), effects_.end(), effect));
        EXPECT_EQ(dispatch(effect, effClose), 1);
    }

    // The editor's window: the frame's one child, or 0.
    Window editorWindow() const {
        const std::vector<Window> children = childrenOf(host_.frame);
        return children.size() == 1 ? children[0] : 0;
    }

    // effEditOpen in the host's frame, which must answer 1; the editor's window, or 0.
    Window openEditorInFrame(AEffect* effect) {
        EXPECT_EQ(openEditor(effect, host_.frame), 1);
        return editorWindow();
    }
    // The same, once the window shows the whole panel; 0 when it does not.
    Window openShownEditor(AEffect* effect) {
        const Window editor = openEditorInFrame(effect);
        if (editor == 0) return 0;
        const int differing = waitForPanel(editor, effect);
        EXPECT_EQ(differing, 0);
        return differing == 0 ? editor : 0;
    }

    // The process's threads and descriptors after an editor was opened, shown and closed once: the
    // first window loads what stays loaded for the process (fontconfig's configuration).
    ProcessCounts countsAfterAFirstEditor(AEffect* effect) {
        EXPECT_NE(openShownEditor(effect), 0u);
        EXPECT_EQ(dispatch(effect, effEditClose), 1);
        return processCounts();
    }

    std::unique_ptr<PluginLibrary> library_ = std::make_unique<PluginLibrary>(pluginPath());
    HostWindow host_;
    std::vector<AEffect*> effects_;
};

TEST_F(X11Editor, OpensAMappedChildInTheHostsWindowThatRepaintsWithoutIdleCalls) {
    AEffect* effect = openInstance();
    ASSERT_NE(effect, nullptr);

    // Opened before the host asks for the size, as Carla does.
    EXPECT_EQ(openEditor(effect, host_.frame), 1);
    ASSERT_NE(editorWindow(), 0u);
    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, kEditorHeight);
    EXPECT_EQ(rect->right, kEditorWidth);

    // A second open without a close replaces the window: still one child.
    EXPECT_EQ(openEditor(effect, host_.frame), 1);
    const Window editor = editorWindow();
    ASSERT_NE(editor, 0u);
    expectEditorPlacement(editor);
    EXPECT_EQ(waitForPanel(editor, effect), 0);

    // The host changes the mix; the strip follows at the editor's next 30 ms tick, on its own.
    const platform::IntRect strip = editor::dryWetTrackRect(kEditorHeight);
    const auto stripPixels = [&] { return windowPixels(editor, strip.x, strip.y, strip.width + 1, strip.height + 1); };
    std::vector<double> latenciesMs;
    for (int change = 0; change < 12; ++change) {
        const std::vector<std::uint32_t> before = stripPixels();
        const auto start = Clock::now();
        effect->setParameter(effect, kParamDryWet, change % 2 == 0 ? 0.2f : 0.8f);
        ASSERT_TRUE(waitFor([&] { return stripPixels() != before; }, 2s)) << "change " << change;
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(latenciesMs.begin(), latenciesMs.end());
    EXPECT_LE(latenciesMs[latenciesMs.size() / 2], 150.0);  // about 30 ms, one tick, on an idle machine

    EXPECT_EQ(dispatch(effect, effEditClose), 1);
    EXPECT_TRUE(childrenOf(host_.frame).empty());
    closeInstance(effect);
}

TEST_F(X11Editor, ThePixelsAreTheCairoPictureOfTheSameState) {
    AEffect* effect = openInstance();
    ASSERT_NE(effect, nullptr);
    const Window editor = openEditorInFrame(effect);
    ASSERT_NE(editor, 0u);

    // Every parameter away from its default, set by the host while the editor is open. No audio is
    // processed: both meters stay at zero.
    const std::pair<int, float> settings[] = {
        {kParamDeEssThresh, 0.8f},  {kParamFocusFreq, 0.1f},   {kParamListenSibilance, 1.0f},
        {kParamDipsesThresh, 0.9f}, {kParamNoiseReduce, 0.3f}, {kParamAirSilk, 0.0f},
        {kParamOutputTrim, 0.65f},  {kParamDryWet, 0.35f},     {kParamBypass, 1.0f},
    };
    for (const auto& [index, value] : settings) effect->setParameter(effect, index, value);
    EXPECT_EQ(waitForPanel(editor, effect), 0);

    // The host's margin around its frame keeps the host's colour.
    EXPECT_EQ(windowPixels(host_.top, 2, 2, 1, 1), std::vector<std::uint32_t>{kHostColour});
    EXPECT_EQ(windowPixels(host_.top, kHostWidth - 3, kHostHeight - 3, 1, 1), std::vector<std::uint32_t>{kHostColour});
    closeInstance(effect);
}

// The host hears of every edit as begin, automate, end, on its own thread only: the editor's thread
// queues them for effEditIdle, or for effEditClose when the host never idles.
TEST_F(X11Editor, DragsClicksAndADoubleClickThroughXTestSetTheParametersAndReachTheHostAtIdle) {
    AEffect* effect = openInstance(test::recordingHost);
    ASSERT_NE(effect, nullptr);
    test::takeHostCalls();
    const Window editor = openEditorInFrame(effect);
    ASSERT_NE(editor, 0u);

    // De-Ess Thresh from its default (-20 dB, half way) dragged up by 100 pixels: the top.
    EXPECT_EQ(param(effect, kParamDeEssThresh), 0.5f);
    dragKnobUp(kParamDeEssThresh, 100);
    EXPECT_TRUE(waitFor([&] { return param(effect, kParamDeEssThresh) == 1.0f; })) << param(effect, kParamDeEssThresh);

    // A double-click on Bypass switches it once: the pair's second press changes nothing.
    const platform::IntRect bypass = editor::bypassButtonRect(kEditorHeight);
    clickAt(rootX(bypass.x + bypass.width / 2), rootY(bypass.y + bypass.height / 2));
    clickAt(rootX(bypass.x + bypass.width / 2), rootY(bypass.y + bypass.height / 2));
    // A click 35 pixels into the dry/wet strip sets the mix to 35 / 140.
    const platform::IntRect strip = editor::dryWetTrackRect(kEditorHeight);
    clickAt(rootX(strip.x + 35), rootY(kEditorHeight - 40));
    // The editor's thread takes the events in order: once the mix is set, the pair before it is done.
    EXPECT_TRUE(waitFor([&] { return param(effect, kParamDryWet) == 0.25f; })) << param(effect, kParamDryWet);
    EXPECT_EQ(param(effect, kParamBypass), 1.0f);
    // A click on Listen Sibilance switches it on.
    clickAt(rootX(knobOf(kParamListenSibilance).centerX), rootY(knobOf(kParamListenSibilance).centerY));
    EXPECT_TRUE(waitFor([&] { return param(effect, kParamListenSibilance) == 1.0f; }));

    // And the picture follows the editor's own changes.
    EXPECT_EQ(waitForPanel(editor, effect), 0);

    // Nothing reached the host from the editor's thread; the idle call brings it all, in order.
    EXPECT_TRUE(test::takeHostCalls().calls.empty());
    EXPECT_EQ(dispatch(effect, effEditIdle), 0);
    std::vector<std::string> expected = test::dragCalls(kParamDeEssThresh, 0.5f, 100, 10, editor::kDragPerPixel);
    for (const auto& gesture : {test::clickCalls(kParamBypass, 1.0f), test::clickCalls(kParamDryWet, 0.25f),
                                test::clickCalls(kParamListenSibilance, 1.0f)}) {
        expected.insert(expected.end(), gesture.begin(), gesture.end());
    }
    test::HostCalls calls = test::takeHostCalls();
    EXPECT_EQ(calls.calls, expected);
    for (const auto& thread : calls.threads) EXPECT_EQ(thread, std::this_thread::get_id());
    EXPECT_EQ(dispatch(effect, effEditIdle), 0);
    EXPECT_TRUE(test::takeHostCalls().calls.empty()) << "each edit is told once";

    // A drag the host closes the editor in, with no idle call between: the close ends the gesture and
    // hands it all over on the host's thread.
    const auto& noise = knobOf(kParamNoiseReduce);
    const float noiseBefore = param(effect, kParamNoiseReduce);
    pointerTo(rootX(noise.centerX), rootY(noise.centerY));
    leftButton(true);
    pointerTo(rootX(noise.centerX), rootY(noise.centerY - 10));
    pointerTo(rootX(noise.centerX), rootY(noise.centerY - 20));
    EXPECT_TRUE(waitFor([&] { return param(effect, kParamNoiseReduce) == noiseBefore + 0.1f; }));
    EXPECT_EQ(dispatch(effect, effEditClose), 1);
    leftButton(false);
    calls = test::takeHostCalls();
    EXPECT_EQ(calls.calls, test::dragCalls(kParamNoiseReduce, noiseBefore, 20, 10, editor::kDragPerPixel));
    for (const auto& thread : calls.threads) EXPECT_EQ(thread, std::this_thread::get_id());
    closeInstance(effect);
    EXPECT_TRUE(test::takeHostCalls().calls.empty());
}

TEST_F(X11Editor, AFocusDragRetunesTheFocusFilterFromTheNextBlockOnEveryMove) {
    // The dragged instance; one the host sets to each dragged value through setParameter before the
    // same block; and one that takes each value a block late, as a design that lagged would. All three
    // process the same blocks.
    AEffect* dragged = openInstance();
    AEffect* followed = openInstance();
    AEffect* late = openInstance();
    ASSERT_TRUE(dragged != nullptr && followed != nullptr && late != nullptr);
    for (AEffect* effect : {dragged, followed, late}) effect->setParameter(effect, kParamDeEssThresh, 0.0f);
    ASSERT_NE(openEditorInFrame(dragged), 0u);

    SibilantSignal signal;
    std::vector<float> left, right;
    signal.next(left, right);
    const std::vector<float> first = processBlock(dragged, left, right);
    EXPECT_TRUE(sameBits(processBlock(followed, left, right), first));
    processBlock(late, left, right);

    const auto& focus = knobOf(kParamFocusFreq);
    pointerTo(rootX(focus.centerX), rootY(focus.centerY));
    leftButton(true);
    float value = param(dragged, kParamFocusFreq);
    for (int move = 1; move <= 8; ++move) {
        SCOPED_TRACE(move);
        pointerTo(rootX(focus.centerX), rootY(focus.centerY - 6 * move));
        const float previous = value;
        ASSERT_TRUE(waitFor([&] { return param(dragged, kParamFocusFreq) != previous; }));
        value = param(dragged, kParamFocusFreq);
        EXPECT_GT(value, previous);

        followed->setParameter(followed, kParamFocusFreq, value);
        signal.next(left, right);
        const std::vector<float> out = processBlock(dragged, left, right);
        EXPECT_TRUE(sameBits(processBlock(followed, left, right), out));
        EXPECT_FALSE(sameBits(processBlock(late, left, right), out)) << "a design a block late would not show";
        late->setParameter(late, kParamFocusFreq, value);
    }
    leftButton(false);
    for (AEffect* effect : {dragged, followed, late}) closeInstance(effect);
}

TEST_F(X11Editor, AThousandOpenCloseCyclesLeaveNoWindowThreadOrDescriptorBehind) {
    AEffect* effect = openInstance();
    ASSERT_NE(effect, nullptr);
    const ProcessCounts before = countsAfterAFirstEditor(effect);

    // The host's audio thread processes and automates throughout, so its setParameter calls land
    // while windows open, tick and close.
    std::atomic<bool> playing{true};
    std::thread audio([&] {
        std::vector<float> left(64, 0.0f), right(64, 0.0f);
        for (int block = 0; playing.load(); ++block) {
            effect->setParameter(effect, kParamAirSilk, static_cast<float>(block % 100) / 100.0f);
            processBlock(effect, left, right);
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int cycle = 0; cycle < 1000; ++cycle) {
        ASSERT_EQ(openEditor(effect, host_.frame), 1) << "cycle " << cycle;
        ASSERT_NE(editorWindow(), 0u) << "cycle " << cycle;
        // Closed at different points of the window's life: at once, around its first ticks, later.
        if (cycle < 200) std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 4 * 10));
        ASSERT_EQ(dispatch(effect, effEditClose), 1) << "cycle " << cycle;
    }
    playing.store(false);
    audio.join();

    EXPECT_TRUE(childrenOf(host_.frame).empty());
    expectCountsBackTo(before);
    closeInstance(effect);
}

TEST_F(X11Editor, TheHostsWindowDestroyedFirstAndEffCloseWithTheEditorOpenAreSurvived) {
    AEffect* effect = openInstance();
    ASSERT_NE(effect, nullptr);
    const ProcessCounts before = countsAfterAFirstEditor(effect);

    ASSERT_NE(openShownEditor(effect), 0u);
    XDestroyWindow(gHost, host_.top);  // ours goes with it
    XSync(gHost, False);
    host_ = {};
    // The instance goes on meanwhile, its editor without a window, for a few ticks.
    effect->setParameter(effect, kParamDryWet, 0.5f);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(dispatch(effect, effEditClose), 1);

    // The host's next window gets an editor again, and effClose takes it down with the instance.
    host_ = openHostWindow();
    EXPECT_NE(openShownEditor(effect), 0u);
    closeInstance(effect);
    EXPECT_TRUE(childrenOf(host_.frame).empty());
    expectCountsBackTo(before);
}

TEST_F(X11Editor, NullGarbageAndStaleParentsAndNoDisplayGiveNoEditorAndLeaveTheHostsErrorHandler) {
    AEffect* effect = openInstance();
    ASSERT_NE(effect, nullptr);
    const ProcessCounts before = countsAfterAFirstEditor(effect);

    const BadParents bad(host_.frame);
    for (const auto& [what, parent] : bad.list) {
        EXPECT_EQ(dispatch(effect, effEditOpen, 0, 0, parent), 0) << what;
        EXPECT_TRUE(childrenOf(host_.frame).empty()) << what;
        EXPECT_EQ(dispatch(effect, effEditClose), 1) << what;
    }
    // No display to open: DISPLAY unset, or naming a display no server answers on.
    const std::string display = std::getenv("DISPLAY");
    for (const char* name : {static_cast<const char*>(nullptr), ":4093", "localhost:4093"}) {
        if (name == nullptr) unsetenv("DISPLAY");
        else setenv("DISPLAY", name, 1);
        EXPECT_EQ(openEditor(effect, host_.frame), 0) << (name != nullptr ? name : "unset");
        EXPECT_TRUE(childrenOf(host_.frame).empty());
    }
    setenv("DISPLAY", display.c_str(), 1);
    XSync(gHost, False);
    EXPECT_EQ(threadCount(), before.threads);
    EXPECT_EQ(descriptorCount(), before.descriptors);

    // The instance opens its editor in a real window afterwards.
    EXPECT_NE(openEditorInFrame(effect), 0u);
    closeInstance(effect);
}

TEST_F(X11Editor, TheLibraryUnloadsAfterEffCloseWithTheEditorOpenAndLoadsAgain) {
    AEffect* effect = openInstance();
    ASSERT_NE(effect, nullptr);
    ASSERT_NE(openShownEditor(effect), 0u);
    closeInstance(effect);

    EXPECT_TRUE(library_->unload());
    void* stillThere = dlopen(pluginPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stillThere, nullptr) << "the plug-in stays in the process after its last dlclose";
    if (stillThere != nullptr) dlclose(stillThere);

    library_ = std::make_unique<PluginLibrary>(pluginPath());
    ASSERT_TRUE(library_->loaded()) << library_->error();
    effect = openInstance();
    ASSERT_NE(effect, nullptr);
    EXPECT_NE(openShownEditor(effect), 0u);
    closeInstance(effect);
}

// The X server the editor is on goes away with the editor open: the editor's thread ends, and the
// host's process lives on, closes the editor and the instance, and unloads the library.
TEST_F(X11Editor, TheEditorsXServerGoingAwayEndsTheEditorNotTheHost) {
    AEffect* effect = openInstance(test::recordingHost);
    ASSERT_NE(effect, nullptr);
    const ProcessCounts before = countsAfterAFirstEditor(effect);

    // A second server; the host's window there outlives the host's connection, which goes first (the
    // host's own connection breaking would be the host's I/O error, not the editor's).
    pid_t server = -1;
    const std::string name = startXvfb(kEditorScreen, server);
    ASSERT_FALSE(name.empty());
    Display* other = XOpenDisplay(name.c_str());
    ASSERT_NE(other, nullptr);
    XSetCloseDownMode(other, RetainPermanent);
    const Window parent = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, kEditorWidth, kEditorHeight, 0, 0, 0);
    XMapWindow(other, parent);
    XCloseDisplay(other);
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", name.c_str(), 1);
    EXPECT_EQ(openEditor(effect, parent), 1);
    setenv("DISPLAY", display.c_str(), 1);
    std::this_thread::sleep_for(100ms);  // a few ticks painted

    stopXvfb(server, SIGKILL);
    EXPECT_TRUE(waitFor([&] { return threadCount() == before.threads; })) << "the editor's thread ends itself";
    EXPECT_EQ(dispatch(effect, effEditIdle), 0);
    EXPECT_EQ(dispatch(effect, effEditClose), 1);
    EXPECT_TRUE(test::takeHostCalls().calls.empty());
    expectCountsBackTo(before);

    // The instance goes on: an editor on the host's display, then closed, and the library unloads.
    EXPECT_NE(openShownEditor(effect), 0u);
    closeInstance(effect);
    EXPECT_TRUE(library_->unload());
    void* stillThere = dlopen(pluginPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stillThere, nullptr);
    if (stillThere != nullptr) dlclose(stillThere);
    library_ = std::make_unique<PluginLibrary>(pluginPath());
}

#if defined(__SANITIZE_ADDRESS__)
void disableLeakChecks() { __lsan_disable(); }
void enableLeakChecks() { __lsan_enable(); }
#else
void disableLeakChecks() {}
void enableLeakChecks() {}
#endif

// A host that rescans or reloads: 100 loads and unloads, every other one with an instance whose
// editor is open and that the host never closes. The library must stop the editor's thread before
// it is unmapped, really leave the process, and leave no window, thread or descriptor behind. (The
// instance itself is the host's to close; after the unload nothing can, so its memory stays.)
TEST_F(X11Editor, AHundredLoadsAndUnloadsWithAndWithoutAnOpenEditorLeaveNothingRunning) {
    AEffect* first = openInstance();
    ASSERT_NE(first, nullptr);
    const ProcessCounts before = countsAfterAFirstEditor(first);
    closeInstance(first);
    ASSERT_TRUE(library_->unload());

    for (int cycle = 0; cycle < 100; ++cycle) {
        PluginLibrary library(pluginPath());
        ASSERT_TRUE(library.loaded()) << "cycle " << cycle << ": " << library.error();
        // The instances left open are the host's leak, by design here: not a finding of ours.
        const bool leftOpen = cycle % 2 == 1;
        if (leftOpen) disableLeakChecks();
        AEffect* effect = openInstanceFrom(library);
        ASSERT_NE(effect, nullptr) << "cycle " << cycle;
        if (leftOpen) {
            ASSERT_EQ(openEditor(effect, host_.frame), 1);
            enableLeakChecks();
            ASSERT_NE(editorWindow(), 0u) << "cycle " << cycle;
        } else {
            ASSERT_EQ(dispatch(effect, effClose), 1);
        }
        ASSERT_TRUE(library.unload()) << "cycle " << cycle;
        void* stillThere = dlopen(pluginPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_EQ(stillThere, nullptr) << "cycle " << cycle << ": the plug-in stays after its last dlclose";
        ASSERT_TRUE(waitFor([&] { return childrenOf(host_.frame).empty(); })) << "cycle " << cycle;
    }
    expectCountsBackTo(before);
    library_ = std::make_unique<PluginLibrary>(pluginPath());
}

// The screenshot: the editor at its defaults in the host window, once it shows the whole panel; the
// whole host window written as PNG.
int writeScreenshot(const char* path) {
    PrivateXServer server(kEditorScreen);
    server.SetUp();
    if (gHost == nullptr) return 1;
    int status = 1;
    PluginLibrary library(pluginPath());
    if (AEffect* effect = library.loaded() ? openInstanceFrom(library) : nullptr) {
        const HostWindow host = openHostWindow();
        openEditor(effect, host.frame);
        const std::vector<Window> editor = childrenOf(host.frame);
        const bool shown = editor.size() == 1 && waitForPanel(editor[0], effect) == 0;
        // The pixels are native-endian 0xRRGGBB words, which is what Cairo's RGB24 format holds.
        std::vector<std::uint32_t> pixels =
            shown ? windowPixels(host.top, 0, 0, kHostWidth, kHostHeight) : std::vector<std::uint32_t>{};
        if (!pixels.empty()) {
            cairo_surface_t* surface =
                cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()), CAIRO_FORMAT_RGB24,
                                                    kHostWidth, kHostHeight, kHostWidth * 4);
            status = cairo_surface_write_to_png(surface, path) == CAIRO_STATUS_SUCCESS ? 0 : 1;
            cairo_surface_destroy(surface);
        }
        dispatch(effect, effClose);
        XDestroyWindow(gHost, host.top);
    }
    server.TearDown();
    return status;
}

}  // namespace
}  // namespace lumisere

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) return lumisere::writeScreenshot(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumisere::x11test::PrivateXServer(lumisere::x11test::kEditorScreen));
    return RUN_ALL_TESTS();
}
