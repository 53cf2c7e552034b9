// The whole editor picture: background, header, lamps and meters, the knob row, the dry/wet strip, the
// bypass button and the footer, composed on one canvas of the client size.
#pragma once

#include <cstdint>

#include "editor/editor_model.h"
#include "editor/look.h"
#include "editor/meters_display.h"
#include "platform/drawing_layer.h"
#include "platform/window_layer.h"

namespace lumisere::editor {

// The editor's own client size.
constexpr int kEditorWidth = 840;
constexpr int kEditorHeight = 520;

// The bottom controls keep their x and follow the client height h.
// Bypass button, drawn and hit-tested as one rectangle: (230, h - 44, 95, 28).
platform::IntRect bypassButtonRect(int clientHeight);
// Dry/wet track: (60, h - 32, 140, 8). The press area runs from the caption top (h - 48) down to two
// rows into the track (h - 30), over the track's x range 60..200.
platform::IntRect dryWetTrackRect(int clientHeight);
constexpr int kDryWetPressTopFromBottom = 48;
constexpr int kDryWetPressBottomFromBottom = 30;

// Pixels of the dry/wet level for value v: v x 140 in single precision, truncated; values outside 0..1
// are drawn as the end they lie beyond (NaN as full, as a write would store it).
int dryWetFillWidth(float value);

// Draws the whole panel for a client of width x height pixels from the model's parameters and meters.
// A width or height of zero or less draws nothing.
void paintEditor(platform::Canvas& canvas, int width, int height, const EditorModel& model);

// The parts of that picture which reach into area, in the same order. With the canvas clipped to
// area, the pixels there come out exactly as a whole paint's: every part that can touch them is drawn.
void paintEditorArea(platform::Canvas& canvas, int width, int height, const EditorModel& model,
                     const platform::IntRect& area);

// What the panel shows, reduced to what decides its pixels: the nine parameters bit for bit as
// stored, and each meter's lamp, bar and readout. Equal states paint equal pictures.
struct PanelState {
    std::uint32_t paramBits[kNumParams];
    MeterState meters[kNumMeterViews];
};

PanelState panelStateOf(const EditorModel& model);

// Adds to damage the areas whose pixels differ between a panel painted from `shown` and one painted
// from `next`, at width x height: a knob, a meter's bar or readout, a lamp, the strip, the button.
// They lie inside the frame, where the background is opaque, so what the canvas held there before
// does not show through a repaint of the area.
void addChangedAreas(const PanelState& shown, const PanelState& next, int width, int height,
                     platform::Damage& damage);

}  // namespace lumisere::editor
