// The editor's shared look: the fonts and text colours the panel and the meters both use, the one
// way they set text, and how far their strokes reach.
#pragma once

#include "platform/drawing_layer.h"

namespace lumisere::editor {

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

// Left-aligned text with its top-left corner at (x, y), when the canvas has a font.
inline void drawPanelText(platform::Canvas& canvas, const char* utf8, float x, float y, const platform::Font& font,
                          platform::Argb colour) {
    if (canvas.hasFont()) canvas.drawText(utf8, {x, y}, font, colour, platform::TextAlign::left);
}

// The panel's pens are at most 1.5 pixels wide, so a stroked box stays within a pixel of its rectangle;
// the area repainted around one keeps two.
constexpr int kStrokeMargin = 2;

inline platform::IntRect withStrokeMargin(const platform::IntRect& r) {
    return {r.x - kStrokeMargin, r.y - kStrokeMargin, r.width + 2 * kStrokeMargin, r.height + 2 * kStrokeMargin};
}

}  // namespace lumisere::editor
