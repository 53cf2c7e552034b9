// The whole editor picture: background, header, lamps and meters, the knob row, the dry/wet strip, the
// bypass button and the footer, composed on one canvas of the client size.
#pragma once

#include "editor/editor_model.h"
#include "platform/drawing_layer.h"

namespace lumisere::editor {

// The editor's own client size.
constexpr int kEditorWidth = 840;
constexpr int kEditorHeight = 520;

// Fonts of the panel, em sizes in pixels.
constexpr platform::Font kTitleFont{19.0f, platform::FontWeight::bold};
constexpr platform::Font kCaptionFont{10.0f, platform::FontWeight::regular};  // subtitle, meter captions, footer
constexpr platform::Font kStatusFont{9.0f, platform::FontWeight::bold};       // lamps, "DRY / WET", bypass
constexpr platform::Font kReadoutFont{11.0f, platform::FontWeight::regular};
constexpr platform::Font kScaleFont{8.0f, platform::FontWeight::regular};

// Text colours shared by the panel and the meters.
constexpr platform::Argb kBrightText = 0xFFF5FAFF;  // title, readouts
constexpr platform::Argb kAccentText = 0xB400D7EB;  // subtitle, meter captions
constexpr platform::Argb kDimText = 0x8C96AAB9;     // scale marks, footer

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

// Left-aligned text with its top-left corner at (x, y), when the canvas has a font.
void drawPanelText(platform::Canvas& canvas, const char* utf8, float x, float y, const platform::Font& font,
                   platform::Argb colour);

// Draws the whole panel for a client of width x height pixels from the model's parameters and meters.
// A width or height of zero or less draws nothing.
void paintEditor(platform::Canvas& canvas, int width, int height, const EditorModel& model);

}  // namespace lumisere::editor
