#include "editor/knob.h"

#include <cmath>

#include "core/parameters.h"
#include "editor/panel.h"

namespace lumisere::editor {

using platform::Argb;
using platform::Brush;
using platform::IntRect;
using platform::LineCap;
using platform::Pen;
using platform::Point;
using platform::PointF;

// Captions come from the parameter table; only the placement and accents live here.
const KnobSpec kKnobLayout[kNumKnobs] = {
    {kParamDeEssThresh, kParams[kParamDeEssThresh].caption, 85, 270, 44, 0xFF00E6FF},
    {kParamFocusFreq, kParams[kParamFocusFreq].caption, 195, 270, 44, 0xFF00C8FF},
    {kParamListenSibilance, kParams[kParamListenSibilance].caption, 305, 270, 38, 0xFFFFBE28},
    {kParamDipsesThresh, kParams[kParamDipsesThresh].caption, 420, 270, 44, 0xFF28EB8C},
    {kParamNoiseReduce, kParams[kParamNoiseReduce].caption, 535, 270, 44, 0xFF1ED2A0},
    {kParamAirSilk, kParams[kParamAirSilk].caption, 645, 270, 44, 0xFF00DCF0},
    {kParamOutputTrim, kParams[kParamOutputTrim].caption, 755, 270, 44, 0xFFF0F0F5},
};

namespace {

constexpr Argb kTrackColour = 0x2D374655;
constexpr float kTrackWidth = 4.0f;
constexpr float kValueArcWidth = 4.5f;
constexpr Argb kBodyLight = 0xFF232D3A;  // top-left of the body
constexpr Argb kBodyDark = 0xFF0E1219;   // bottom-right
constexpr int kBodyInset = 7;            // body radius = radius - 7
constexpr Pen kRimPen{0x46B4DCF0, 1.2f};
constexpr Argb kPointerColour = 0xFFFFFFFF;
constexpr float kPointerWidth = 2.2f;
constexpr int kPointerInset = 12;  // pointer length = radius - 12
constexpr int kDotSize = 6;
constexpr Argb kCaptionColour = 0xFFD7E6F5;
constexpr platform::Font kKnobCaptionFont{10.0f, platform::FontWeight::bold};
constexpr platform::Font kKnobValueFont{10.0f, platform::FontWeight::regular};
constexpr int kCaptionGap = 8;     // caption top below the track
constexpr int kValueTextGap = 24;  // value text top below the track

// Values up to 1/270 show an empty track: a sweep of a degree or less is not drawn.
constexpr float kMinimumSweepDegrees = 1.0f;

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

// A knob's area: half of the 110-pixel pitch to each side (its widest text, "DIPSES THRESH", takes
// under 100 pixels), from above the arc's round caps to a line and a half below the value text.
constexpr int kAreaHalfWidth = 56;
constexpr int kAreaAboveArc = 4;
constexpr int kAreaBelowArc = kValueTextGap + 20;

}  // namespace

IntRect knobArea(const KnobSpec& knob) {
    return {knob.centerX - kAreaHalfWidth, knob.centerY - knob.radius - kAreaAboveArc, 2 * kAreaHalfWidth,
            2 * knob.radius + kAreaAboveArc + kAreaBelowArc};
}

float knobSweepDegrees(float value) { return kKnobTravelDegrees * value; }

PointF knobPointerTip(int centerX, int centerY, int radius, float value) {
    const float degrees = kKnobTravelDegrees * value + kKnobStartDegrees;
    const float radians = static_cast<float>(static_cast<double>(degrees) * kRadiansPerDegree);
    const float length = static_cast<float>(radius - kPointerInset);
    return {static_cast<float>(centerX) + length * std::cos(radians),
            static_cast<float>(centerY) + length * std::sin(radians)};
}

void drawKnob(platform::Canvas& canvas, const KnobSpec& knob, float value) {
    const int cx = knob.centerX;
    const int cy = knob.centerY;
    const int r = knob.radius;
    if (r <= 0) return;

    const IntRect arcBox{cx - r, cy - r, 2 * r, 2 * r};
    canvas.strokeArc(arcBox, kKnobStartDegrees, kKnobTravelDegrees, Pen{kTrackColour, kTrackWidth});

    const float sweep = knobSweepDegrees(value);
    if (sweep > kMinimumSweepDegrees) {
        canvas.strokeArc(arcBox, kKnobStartDegrees, sweep,
                         Pen{knob.accent, kValueArcWidth, LineCap::round, LineCap::round});
    }

    const int e = r - kBodyInset;
    const IntRect body{cx - e, cy - e, 2 * r - 2 * kBodyInset, 2 * r - 2 * kBodyInset};
    canvas.fillEllipse(body, Brush::linear(Point{cx - e, cy - e}, kBodyLight, Point{cx + e, cy + e}, kBodyDark));
    canvas.strokeEllipse(body, kRimPen);

    // A NaN value has no direction; the knob then shows no pointer rather than a line to nowhere.
    if (!std::isnan(value)) {
        const PointF centre{static_cast<float>(cx), static_cast<float>(cy)};
        canvas.strokeLine(centre, knobPointerTip(cx, cy, r, value),
                          Pen{kPointerColour, kPointerWidth, LineCap::flat, LineCap::round});
    }

    canvas.fillEllipse(IntRect{cx - kDotSize / 2, cy - kDotSize / 2, kDotSize, kDotSize}, Brush::solid(knob.accent));

    if (!canvas.hasFont()) return;
    const float textX = static_cast<float>(cx);
    canvas.drawText(knob.caption, {textX, static_cast<float>(cy + r + kCaptionGap)}, kKnobCaptionFont, kCaptionColour,
                    platform::TextAlign::centred);
    char text[kParamDisplayCapacity];
    formatParamDisplay(static_cast<unsigned>(knob.paramIndex), value, text, sizeof text);
    canvas.drawText(text, {textX, static_cast<float>(cy + r + kValueTextGap)}, kKnobValueFont, knob.accent,
                    platform::TextAlign::centred);
}

}  // namespace lumisere::editor
