// The Cairo canvas: GDI+ geometry (angles, caps, pixel centres, text tops), the colours of the editor's
// PNG snapshot at points whose colour is fixed, and failures that must stay harmless. Writes the
// comparison scene as an artefact for the GDI+ test.
#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "canvas_checks.h"
#include "comparison_scene.h"
#include "core/parameters.h"
#include "editor/panel.h"
#include "platform/cairo/cairo_canvas.h"
#include "snapshot.h"

namespace lumisere::platform {
namespace {

const std::atomic<bool> kNoStop{false};

using testing::closeTo;

// Each test process ends with Cairo's and fontconfig's caches freed, as the leak checker expects.
class FontCacheRelease : public ::testing::Environment {
public:
    void TearDown() override { releaseProcessFontCaches(); }
};
const auto* const gFontCacheRelease = ::testing::AddGlobalTestEnvironment(new FontCacheRelease);

std::string artefact(const std::string& name) { return std::string(LUMISERE_ARTEFACT_DIR) + "/" + name; }

// A PNG read back through Cairo's own decoder, as 0xAARRGGBB.
struct Png {
    explicit Png(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Png() { cairo_surface_destroy(surface); }
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface); }
    int height() const { return cairo_image_surface_get_height(surface); }
    Argb at(int x, int y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface);
        return *reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(surface) + 4 * x);
    }
    cairo_surface_t* surface;
};

TEST(CairoSnapshot, FixedColoursLieWhereThePanelPutsThem) {
    float params[kNumParams];
    for (int i = 0; i < kNumParams; ++i) params[i] = kParams[i].defaultValue;
    std::string error;
    ASSERT_EQ(cli::writeEditorSnapshot(artefact("snapshot-active.png"), true, params, 12.0f, 18.0f, kNoStop, error), 0)
        << error;
    params[kParamBypass] = 1.0f;
    ASSERT_EQ(cli::writeEditorSnapshot(artefact("snapshot-bypassed.png"), true, params, 12.0f, 18.0f, kNoStop, error),
              0)
        << error;

    const Png active(artefact("snapshot-active.png"));
    const Png bypassed(artefact("snapshot-bypassed.png"));
    ASSERT_TRUE(active.ok());
    ASSERT_TRUE(bypassed.ok());
    EXPECT_EQ(active.width(), 840);
    EXPECT_EQ(active.height(), 520);

    const int tol = 3;  // anti-aliasing and 8-bit blending
    EXPECT_TRUE(closeTo(active.at(15, 200), 0xFF06090D, tol));    // background, left of the knob row
    EXPECT_TRUE(closeTo(active.at(830, 440), 0xFF06090D, tol));   // background, inside the frame's corner
    EXPECT_TRUE(closeTo(active.at(316, 498), 0xFF141C28, tol));   // bypass button off
    EXPECT_TRUE(closeTo(bypassed.at(316, 498), 0xFFB42828, tol)); // and on
    EXPECT_TRUE(closeTo(active.at(41, 120), 0xFF00E6FF, tol));    // first pixel of the de-esser bar inside the track
    EXPECT_TRUE(closeTo(active.at(451, 120), 0xFF28EB8C, tol));   // first pixel of the gate bar
    EXPECT_TRUE(closeTo(active.at(250, 120), 0xFF141A24, tol));   // de-esser track beyond the 170-pixel bar
    EXPECT_TRUE(closeTo(active.at(85, 270), 0xFF00E6FF, tol));    // De-Ess Thresh centre dot in its accent
    EXPECT_TRUE(closeTo(active.at(41, 270), 0xFF00E6FF, tol));    // its value arc at 180 degrees (value 0.5)
    EXPECT_TRUE(closeTo(active.at(755, 270), 0xFFF0F0F5, tol));   // Output Trim centre dot
    EXPECT_TRUE(closeTo(active.at(150, 492), 0xFF00DCF0, tol));   // dry/wet level at 100 %
    // The pointer of De-Ess Thresh at 0.5 runs straight up in white; Listen Sibilance is off (no arc).
    EXPECT_TRUE(closeTo(active.at(85, 250), 0xFFFFFFFF, tol));
    EXPECT_FALSE(closeTo(active.at(267, 270), 0xFFFFBE28, 40));
}

TEST(CairoSnapshot, BadArgumentsAndUnwritablePathsAreReported) {
    std::string error;
    EXPECT_EQ(cli::writeEditorSnapshot(artefact("never.png"), true, nullptr, 0.0f, 0.0f, kNoStop, error), 2);
    EXPECT_FALSE(error.empty());

    float params[kNumParams] = {};
    error.clear();
    EXPECT_EQ(cli::writeEditorSnapshot(artefact("no-such-folder/x.png"), true, params, 0.0f, 0.0f, kNoStop, error),
              1);
    EXPECT_NE(error.find("no-such-folder/x.png"), std::string::npos) << error;

    // Values out of range are clamped as a write would clamp them: NaN bypass draws the button on.
    params[kParamBypass] = std::numeric_limits<float>::quiet_NaN();
    params[kParamDryWet] = -3.0f;
    ASSERT_EQ(cli::writeEditorSnapshot(artefact("snapshot-clamped.png"), true, params, 0.0f, 0.0f, kNoStop, error), 0);
    const Png clamped(artefact("snapshot-clamped.png"));
    ASSERT_TRUE(clamped.ok());
    EXPECT_TRUE(closeTo(clamped.at(316, 498), 0xFFB42828, 3));
    EXPECT_TRUE(closeTo(clamped.at(150, 492), 0xFF161C26, 3));  // empty dry/wet track
}

TEST(CairoCanvas, ArcsRunClockwiseFromPlusXWithYDown) {
    CairoCanvas canvas(120, 120);
    ASSERT_TRUE(canvas.ok());
    // A quarter from 135 (lower left) to 225 (upper left) on a circle of radius 40 about (60, 60).
    canvas.strokeArc({20, 20, 80, 80}, 135.0f, 90.0f, Pen{0xFFFF0000, 4.0f});
    EXPECT_TRUE(closeTo(canvas.pixel(20, 60), 0xFFFF0000, 2));  // 180 degrees: on the arc
    EXPECT_EQ(canvas.pixel(100, 60), 0u);                    // 0 degrees
    EXPECT_EQ(canvas.pixel(60, 100), 0u);                    // 90 degrees: below the centre
    EXPECT_EQ(canvas.pixel(60, 20), 0u);                     // 270 degrees: above

    // On an ellipse the angle is the true angle, as GDI+ measures it, not the parametric one: an arc
    // from 0 to 45 degrees on a 100 x 40 ellipse reaches the point at 35 degrees (85, 67).
    CairoCanvas wide(120, 80);
    wide.strokeArc({10, 30, 100, 40}, 0.0f, 45.0f, Pen{0xFF00FF00, 3.0f});
    EXPECT_NE(wide.pixel(85, 67), 0u);
    EXPECT_EQ(wide.pixel(60, 70), 0u);  // 90 degrees: not reached
}

TEST(CairoCanvas, PenCapsAndPixelCentresFollowGdiplus) {
    CairoCanvas canvas(100, 60);
    // Flat start at x 20, round end reaching 4 pixels past x 60.
    canvas.strokeLine(PointF{20, 20}, PointF{60, 20}, Pen{0xFFFFFFFF, 8.0f, LineCap::flat, LineCap::round});
    EXPECT_TRUE(closeTo(canvas.pixel(62, 20), 0xFFFFFFFF, 2));
    EXPECT_EQ(canvas.pixel(18, 20), 0u);
    // A one-pixel line on whole coordinates covers exactly its row.
    canvas.strokeLine(Point{10, 40}, Point{90, 40}, Pen{0xFF0000FF, 1.0f});
    EXPECT_TRUE(closeTo(canvas.pixel(50, 40), 0xFF0000FF, 2));
    EXPECT_EQ(canvas.pixel(50, 39), 0u);
    EXPECT_EQ(canvas.pixel(50, 41), 0u);
    // A translucent pen with two different caps is laid down once: no darker overlap at the round end.
    CairoCanvas half(100, 40);
    half.strokeLine(PointF{10, 20}, PointF{60, 20}, Pen{0x80FFFFFF, 8.0f, LineCap::flat, LineCap::round});
    EXPECT_EQ(half.pixel(59, 20) >> 24, half.pixel(40, 20) >> 24);
}

TEST(CairoCanvas, TextTopLiesOnThePointAndCentredTextOnItsX) {
    CairoCanvas canvas(200, 80);
    ASSERT_TRUE(canvas.hasFont()) << "fontconfig offers no font at all";
    RecordProperty("font_family", canvas.fontFamily());
    canvas.drawText("HHHH", PointF{100, 20}, Font{20.0f, FontWeight::bold}, 0xFFFFFFFF, TextAlign::centred);
    int top = 80, bottom = -1, left = 200, right = -1;
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 200; ++x) {
            if ((canvas.pixel(x, y) >> 24) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    // Capitals start below the line box top by the ascent less the cap height, a few pixels at 20 px.
    EXPECT_GE(top, 20);
    EXPECT_LE(top, 28);
    EXPECT_LE(bottom, 20 + 20);
    EXPECT_NEAR((left + right) / 2.0, 100.0, 2.0);
}

TEST(CairoCanvas, FailedCanvasesAndBadCallsDrawNothing) {
    CairoCanvas canvas(20, 20);
    testing::expectBadInputDrawsNothing(canvas, artefact("no-such-folder/x.png"));
}

TEST(CairoCanvas, EditorUpdatesEqualWholePaints) { testing::expectUpdatesEqualWholePaints<CairoCanvas>(); }

// The Cairo half of the comparison with GDI+: the Windows test reads this picture.
TEST(CairoCanvas, DrawsTheComparisonScene) {
    CairoCanvas canvas(editor::kEditorWidth, editor::kEditorHeight);
    const editor::ValueEditorModel model = testing::comparisonScene();
    editor::paintEditor(canvas, canvas.width(), canvas.height(), model);
    ASSERT_TRUE(canvas.writePng(artefact(testing::kCairoPictureName)));
    EXPECT_TRUE(closeTo(canvas.pixel(267, 270), 0xFFFFBE28, 3));  // Listen Sibilance on: a full amber arc
}

}  // namespace
}  // namespace lumisere::platform
