// The seven rotary knobs: their layout table, shared by drawing and hit-testing, and the drawing of one
// knob (track, value arc, body, rim, pointer, centre dot, caption and value text).
#pragma once

#include "platform/drawing_layer.h"

namespace lumisere::editor {

struct KnobSpec {
    int paramIndex;       // the parameter shown and changed, e.g. kParamFocusFreq
    const char* caption;  // drawn under the knob, from the parameter table, e.g. "FOCUS FREQ"
    int centerX;          // client pixels
    int centerY;
    int radius;           // track and value arc radius, and the hit circle, e.g. 44
    platform::Argb accent;  // value arc, centre dot and value text
};

constexpr int kNumKnobs = 7;

// Drawing and hit-testing order. Positions are absolute: the knob row does not follow the client size.
extern const KnobSpec kKnobLayout[kNumKnobs];

// The knob travel: from 135 degrees (lower left) clockwise over the top for 270 degrees.
constexpr float kKnobStartDegrees = 135.0f;
constexpr float kKnobTravelDegrees = 270.0f;

// Sweep of the value arc in degrees, 270 x value in single precision.
float knobSweepDegrees(float value);

// Where the pointer of a knob at value ends: radius - 12 pixels from the centre along
// 270 x value + 135 degrees, in single precision. (85, 270, 44) at 0.5 gives (85, 238).
platform::PointF knobPointerTip(int centerX, int centerY, int radius, float value);

// The area one knob's picture keeps within: arc, body, caption and value text.
platform::IntRect knobArea(const KnobSpec& knob);

// Draws one knob at value, as stored (normally 0..1). A radius of zero or less draws nothing; a NaN
// value draws the knob without value arc and pointer. Texts are skipped when the canvas has no font.
void drawKnob(platform::Canvas& canvas, const KnobSpec& knob, float value);

}  // namespace lumisere::editor
