// Checks both real canvases (Cairo natively, GDI+ under Wine) must pass in the same way.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "comparison_scene.h"
#include "editor/editor_view.h"
#include "platform/drawing_layer.h"

namespace lumisere::testing {

// Within tol on every channel, alpha included.
inline ::testing::AssertionResult closeTo(platform::Argb actual, platform::Argb expected, int tol) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tol) {
            char text[64];
            std::snprintf(text, sizeof text, "0x%08X is not 0x%08X", static_cast<unsigned>(actual),
                          static_cast<unsigned>(expected));
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

// A canvas of no size draws and writes nothing; on a working canvas, calls with no text, NaN
// coordinates or empty rectangles leave it untouched, and reading outside it gives 0.
template <typename CanvasType>
void expectBadInputDrawsNothing(CanvasType& canvas20x20, const std::string& unwritablePng) {
    using namespace platform;
    for (auto [w, h] : {std::pair{0, 10}, std::pair{10, 0}, std::pair{-1, -1}}) {
        CanvasType none(w, h);
        EXPECT_FALSE(none.ok()) << w << " x " << h;
        none.fillRect({0, 0, 5, 5}, Brush::solid(0xFFFFFFFF));
        none.drawText("x", {0, 0}, {10, FontWeight::regular}, 0xFFFFFFFF, TextAlign::left);
        EXPECT_EQ(none.pixel(0, 0), 0u);
        EXPECT_FALSE(none.writePng(unwritablePng));
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    canvas20x20.drawText(nullptr, {0, 0}, {10, FontWeight::regular}, 0xFFFFFFFF, TextAlign::left);
    canvas20x20.strokeLine(PointF{nan, 0}, PointF{10, 10}, Pen{0xFFFFFFFF, 2.0f});
    canvas20x20.strokeArc({0, 0, 20, 20}, nan, 90.0f, Pen{0xFFFFFFFF, 2.0f});
    canvas20x20.fillRect({0, 0, 0, 20}, Brush::solid(0xFFFFFFFF));
    canvas20x20.fillEllipse({0, 0, 20, -20}, Brush::solid(0xFFFFFFFF));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(canvas20x20.pixel(x, y), 0u) << x << ", " << y;
    EXPECT_EQ(canvas20x20.pixel(-1, 0), 0u);
    EXPECT_EQ(canvas20x20.pixel(0, 20), 0u);
    EXPECT_FALSE(canvas20x20.writePng(unwritablePng));
}

// The editor's update on the canvas a window keeps: a tick with nothing changed draws nothing; each
// change repaints only its areas (as many as expected), and the canvas then equals a whole paint of
// the new state, pixel for pixel.
template <typename CanvasType>
void expectUpdatesEqualWholePaints() {
    using namespace editor;
    ValueEditorModel model = comparisonScene();
    EditorView view(model);
    CanvasType kept(kEditorWidth, kEditorHeight);
    ASSERT_EQ(view.paint(kept, kEditorWidth, kEditorHeight, true).count, 1);
    RecordingCanvas idle;
    EXPECT_EQ(view.paint(idle, kEditorWidth, kEditorHeight, false).count, 0);
    EXPECT_TRUE(idle.calls.empty());

    const std::pair<std::function<void(ValueEditorModel&)>, int> steps[] = {
        {[](ValueEditorModel& m) { m.deEssDb = 0.5f; }, 3},    // bar, readout, lamp off
        {[](ValueEditorModel& m) { m.gateDb = 18.04f; }, 0},   // under a pixel and a tenth
        {[](ValueEditorModel& m) { m.params[kParamDeEssThresh] = 0.73f; }, 1},
        {[](ValueEditorModel& m) {
             m.params[kParamListenSibilance] = 0.0f;
             m.params[kParamDryWet] = 0.1f;
             m.params[kParamBypass] = 1.0f;
         }, 3},
        {[](ValueEditorModel& m) {
             m.gateDb = 100.0f;
             m.params[kParamOutputTrim] = std::nanf("");
         }, 3},
    };
    for (const auto& [change, areas] : steps) {
        change(model);
        const platform::Damage damage = view.paint(kept, kEditorWidth, kEditorHeight, false);
        EXPECT_EQ(damage.count, areas);
        CanvasType whole(kEditorWidth, kEditorHeight);
        paintEditor(whole, kEditorWidth, kEditorHeight, model);
        int differing = 0;
        for (int y = 0; y < kEditorHeight; ++y)
            for (int x = 0; x < kEditorWidth; ++x) differing += kept.pixel(x, y) != whole.pixel(x, y);
        EXPECT_EQ(differing, 0) << "after the change to " << areas << " areas";
    }
}

}  // namespace lumisere::testing
