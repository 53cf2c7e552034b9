// The left-button state machine: hit circles, toggles, the dry/wet strip and bypass bounds, drags with
// overshoot, double-clicks, releases outside the window, and what each event asks of the window layer.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

#include "editor/edit_queue.h"
#include "editor/knob.h"
#include "editor/mouse.h"

namespace lumisere::editor {
namespace {

constexpr int kH = 520;

// Remembers every write the editor makes.
struct RecordingModel : ValueEditorModel {
    void setParam(int index, float value) override {
        writes.emplace_back(index, value);
        ValueEditorModel::setParam(index, value);
    }
    std::vector<std::pair<int, float>> writes;
};

bool requested(const MouseResponse& r, bool capture, bool release, bool repaint) {
    return r.captureMouse == capture && r.releaseMouse == release && r.repaint == repaint;
}

TEST(MouseHit, KnobCirclesIncludeTheirEdgeAndNothingBeyond) {
    for (int row = 0; row < kNumKnobs; ++row) {
        SCOPED_TRACE(row);
        const KnobSpec& k = kKnobLayout[row];
        const int x = k.centerX, y = k.centerY, r = k.radius;
        EXPECT_EQ(knobAt(x, y), row);
        EXPECT_EQ(knobAt(x + r, y), row);
        EXPECT_EQ(knobAt(x - r, y), row);
        EXPECT_EQ(knobAt(x, y - r), row);
        EXPECT_EQ(knobAt(x, y + r), row);
        EXPECT_EQ(knobAt(x + r + 1, y), -1);
        EXPECT_EQ(knobAt(x - r - 1, y), -1);
        EXPECT_EQ(knobAt(x, y - r - 1), -1);
        EXPECT_EQ(knobAt(x, y + r + 1), -1);
    }
    // Radius 44: (31, 31) off the centre is inside (1922 <= 1936), (32, 31) outside (1985).
    EXPECT_EQ(knobAt(85 + 31, 270 + 31), 0);
    EXPECT_EQ(knobAt(85 + 32, 270 + 31), -1);
    // Listen Sibilance is smaller: 40 pixels from its centre hits nothing, 38 hits it.
    EXPECT_EQ(knobAt(305 + 40, 270), -1);
    EXPECT_EQ(knobAt(305, 270 - 40), -1);
    EXPECT_EQ(knobAt(305 + 38, 270), 2);
    // Far outside the window (a captured pointer) is simply no knob.
    EXPECT_EQ(knobAt(std::numeric_limits<int>::min(), std::numeric_limits<int>::max()), -1);
}

TEST(MouseDrag, FollowsTheHeightWithOvershootAndReturn) {
    RecordingModel model;
    model.params[kParamDeEssThresh] = 0.5f;
    DragState drag;

    const MouseResponse press = mousePress(&model, drag, 85, 270, kH);
    EXPECT_TRUE(requested(press, true, false, false));  // a drag starts without a write or a repaint
    EXPECT_TRUE(model.writes.empty());
    EXPECT_EQ(drag.param, kParamDeEssThresh);
    EXPECT_EQ(drag.startY, 270);
    EXPECT_EQ(drag.startValue, 0.5f);

    const std::pair<int, float> path[] = {
        {170, 1.0f},  // 100 up
        {120, 1.0f},  // 50 further: stays at the top
        {270, 0.5f},  // back at the press height
        {370, 0.0f},  // 100 below
        {269, 0.5f + 0.005f},
    };
    for (const auto& [y, value] : path) {
        SCOPED_TRACE(y);
        EXPECT_TRUE(requested(mouseMove(&model, drag, y, true), false, false, true));
        EXPECT_EQ(model.param(kParamDeEssThresh), value);
    }
    EXPECT_EQ(model.writes.size(), 5u);

    // With the button up, or once released, moves change nothing.
    EXPECT_TRUE(requested(mouseMove(&model, drag, 100, false), false, false, false));
    EXPECT_TRUE(requested(mouseRelease(drag), false, true, false));
    EXPECT_EQ(drag.param, -1);
    EXPECT_TRUE(requested(mouseMove(&model, drag, 100, true), false, false, false));
    EXPECT_EQ(model.writes.size(), 5u);
    EXPECT_EQ(model.param(kParamDeEssThresh), 0.5f + 0.005f);
}

TEST(MouseDrag, FocusFreqWritesOnEveryMoveEvenWhenTheValueStays) {
    RecordingModel model;
    DragState drag;
    mousePress(&model, drag, 195, 300, kH);
    ASSERT_EQ(drag.param, kParamFocusFreq);
    const int ys[] = {290, 280, 0, -100, -100, 400};  // up, beyond the top edge, then down past the start
    for (int y : ys) EXPECT_TRUE(mouseMove(&model, drag, y, true).repaint);
    ASSERT_EQ(model.writes.size(), 6u);
    for (const auto& w : model.writes) EXPECT_EQ(w.first, kParamFocusFreq);
    EXPECT_FLOAT_EQ(model.writes[0].second, 0.45f);
    for (int i = 2; i < 5; ++i) EXPECT_EQ(model.writes[i].second, 1.0f);
    EXPECT_EQ(model.param(kParamFocusFreq), 0.0f);  // 100 below the press: 0.4 - 0.5 clamps to 0
}

TEST(MouseDrag, ReleaseOutsideTheWindowEndsTheDrag) {
    RecordingModel model;
    DragState drag;
    model.params[kParamOutputTrim] = 0.5f;
    mousePress(&model, drag, 755, 300, kH);
    mouseMove(&model, drag, -20, true);  // above the window: y is negative while captured
    EXPECT_EQ(model.param(kParamOutputTrim), 1.0f);
    mouseMove(&model, drag, 320, true);  // still dragging outside: 20 below the press
    EXPECT_EQ(model.param(kParamOutputTrim), 0.4f);
    const std::size_t writes = model.writes.size();
    EXPECT_TRUE(requested(mouseRelease(drag), false, true, false));
    EXPECT_EQ(drag.param, -1);
    EXPECT_EQ(model.writes.size(), writes);  // the release writes nothing
}

TEST(MouseToggle, ListenSibilanceAndBypassFlipAtTheirSwitchThreshold) {
    const std::pair<float, float> flips[] = {{0.0f, 1.0f}, {0.5f, 1.0f}, {0.7f, 0.0f}, {1.0f, 0.0f}};
    for (const auto& [before, after] : flips) {
        SCOPED_TRACE(before);
        RecordingModel model;
        DragState drag;
        model.params[kParamListenSibilance] = before;
        model.params[kParamBypass] = before;
        EXPECT_TRUE(requested(mousePress(&model, drag, 305, 270, kH), true, false, true));
        EXPECT_EQ(drag.param, -1);  // a toggle never drags
        EXPECT_EQ(model.param(kParamListenSibilance), after);
        EXPECT_TRUE(requested(mousePress(&model, drag, 270, 490, kH), true, false, true));
        EXPECT_EQ(model.param(kParamBypass), after);
        EXPECT_EQ(model.writes.size(), 2u);
    }
}

TEST(MouseBottomControls, BypassAndDryWetBoundsFollowTheClientHeight) {
    for (int h : {kH, 600}) {
        SCOPED_TRACE(h);
        // Bypass: x 230..325, y h-44..h-16, both edges inclusive.
        const std::pair<int, int> bypassHits[] = {{230, h - 30}, {325, h - 30}, {270, h - 44}, {270, h - 16}};
        const std::pair<int, int> bypassMisses[] = {{229, h - 30}, {326, h - 30}, {270, h - 45}, {270, h - 15}};
        for (const auto& [x, y] : bypassHits) {
            RecordingModel model;
            DragState drag;
            mousePress(&model, drag, x, y, h);
            EXPECT_EQ(model.param(kParamBypass), 1.0f) << x << ", " << y;
        }
        for (const auto& [x, y] : bypassMisses) {
            RecordingModel model;
            DragState drag;
            EXPECT_TRUE(requested(mousePress(&model, drag, x, y, h), true, false, false)) << x << ", " << y;
            EXPECT_TRUE(model.writes.empty()) << x << ", " << y;
        }

        // Dry/wet: x 60..200 sets (x - 60) / 140; y from the caption top h-48 to two rows into the bar h-30.
        const std::pair<int, float> mixes[] = {{60, 0.0f}, {130, 0.5f}, {200, 1.0f}, {95, 0.25f}};
        for (const auto& [x, mix] : mixes) {
            RecordingModel model;
            DragState drag;
            EXPECT_TRUE(requested(mousePress(&model, drag, x, h - 40, h), true, false, true));
            EXPECT_EQ(model.param(kParamDryWet), mix) << x;
        }
        const std::pair<int, int> dryWetMisses[] = {{59, h - 40}, {201, h - 40}, {130, h - 49}, {130, h - 29},
                                                    {130, h - 26}};  // the last on the lower rows of the bar
        for (const auto& [x, y] : dryWetMisses) {
            RecordingModel model;
            DragState drag;
            mousePress(&model, drag, x, y, h);
            EXPECT_TRUE(model.writes.empty()) << x << ", " << y;
        }
        for (int y : {h - 48, h - 30}) {
            RecordingModel model;
            DragState drag;
            mousePress(&model, drag, 130, y, h);
            EXPECT_EQ(model.param(kParamDryWet), 0.5f) << y;
        }
    }
}

TEST(MouseDoubleClick, SecondPressChangesNothing) {
    RecordingModel model;
    DragState drag;
    // A quick double-click on Listen Sibilance: press, release, second press (ignored), release.
    mousePress(&model, drag, 305, 270, kH);
    mouseRelease(drag);
    EXPECT_TRUE(requested(mouseDoubleClickPress(), false, false, false));
    mouseRelease(drag);
    EXPECT_EQ(model.param(kParamListenSibilance), 1.0f);  // toggled once

    mousePress(&model, drag, 130, 480, kH);  // dry/wet to 0.5 on the first press
    mouseRelease(drag);
    model.params[kParamDryWet] = 0.3f;
    mouseDoubleClickPress();
    EXPECT_EQ(model.param(kParamDryWet), 0.3f);
    EXPECT_EQ(model.writes.size(), 2u);
}

TEST(MouseBadInput, NullModelAndStrayDragStatesOnlyMoveTheCapture) {
    DragState drag;
    EXPECT_TRUE(requested(mousePress(nullptr, drag, 85, 270, kH), true, false, false));
    EXPECT_EQ(drag.param, -1);
    drag.param = kParamDeEssThresh;
    EXPECT_TRUE(requested(mouseMove(nullptr, drag, 0, true), false, false, false));
    EXPECT_TRUE(requested(mouseRelease(drag), false, true, false));
    EXPECT_EQ(drag.param, -1);

    RecordingModel model;
    for (int stray : {static_cast<int>(kNumParams), 42, -7}) {
        DragState bad{stray, 270, 0.5f};
        EXPECT_TRUE(requested(mouseMove(&model, bad, 100, true), false, false, false)) << stray;
    }
    // A press that hits nothing captures (so its release comes back) and writes nothing.
    EXPECT_TRUE(requested(mousePress(&model, drag, 10, 10, kH), true, false, false));
    EXPECT_TRUE(requested(mousePress(&model, drag, 130, 480, 0), true, false, false));  // no client height
    EXPECT_TRUE(model.writes.empty());
}

// Gestures first..first+count-1 on parameters 0..8: begin, values g * 1000 + 1..steps, end.
void pushGestures(EditQueue& queue, int first, int count, int steps) {
    for (int g = first; g < first + count; ++g) {
        queue.push({EditEvent::Kind::Begin, g % 9, 0.0f});
        for (int s = 1; s <= steps; ++s) queue.push({EditEvent::Kind::Value, g % 9, static_cast<float>(g * 1000 + s)});
        queue.push({EditEvent::Kind::End, g % 9, 0.0f});
    }
}

// What a consumer sees: each begin has its end on the same parameter. Collects each gesture seen as
// (gesture, step of its last value), in order.
struct GestureCheck {
    int open = -1;
    int last = -1;
    std::vector<std::pair<int, int>> gestures;
    void operator()(const EditEvent& e) {
        if (e.kind == EditEvent::Kind::Begin) {
            EXPECT_EQ(open, -1);
            open = e.index;
            return;
        }
        EXPECT_EQ(e.index, open);
        if (e.kind == EditEvent::Kind::Value) last = static_cast<int>(e.value);
        if (e.kind == EditEvent::Kind::End) {
            gestures.emplace_back(last / 1000, last % 1000);
            open = -1;
        }
    }
};

TEST(EditQueue, BeginsKeepTheirEndsAndGesturesTheirLastValueDrainedAlongsideOrOnlyWhenFull) {
    // Drained while the editor's thread pushes, which waits after every four gestures (28 events, under
    // the capacity) until they are through: every gesture, in order, each ending on its fifth value.
    EditQueue queue;
    GestureCheck seen;
    std::atomic<int> through{0};
    std::thread editor([&] {
        for (int g = 0; g < 500; ++g) {
            pushGestures(queue, g, 1, 5);
            while (g % 4 == 3 && through.load() <= g) std::this_thread::yield();
        }
    });
    while (through.load() < 500) {
        queue.drain(std::ref(seen));
        through.store(static_cast<int>(seen.gestures.size()));
    }
    editor.join();
    EXPECT_EQ(seen.open, -1);
    for (int g = 0; g < 500; ++g) ASSERT_EQ(seen.gestures[g], std::make_pair(g, 5));

    // Drained only once it is full, as for a host with no idle calls: three short gestures, a long
    // one ending on its last value (those between held back), and none of the fifty that found no
    // room for their begin; with room again, the next gesture goes through whole.
    EditQueue full;
    pushGestures(full, 0, 3, 2);
    pushGestures(full, 3, 1, 100);
    pushGestures(full, 4, 50, 2);
    GestureCheck late;
    full.drain(std::ref(late));
    pushGestures(full, 60, 1, 2);
    full.drain(std::ref(late));
    EXPECT_EQ(late.open, -1);
    EXPECT_EQ(late.gestures, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}, {3, 100}, {60, 2}}));
}

}  // namespace
}  // namespace lumisere::editor
