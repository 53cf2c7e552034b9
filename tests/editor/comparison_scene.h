// The scene the Cairo and GDI+ canvases both draw for the comparison between the two backends, and
// the boxes around its texts, which the backends set in different fonts and are left out.
#pragma once

#include <vector>

#include "editor/editor_model.h"
#include "editor/panel.h"
#include "recording_canvas.h"

namespace lumisere::testing {

constexpr const char* kCairoPictureName = "panel-cairo.png";
constexpr const char* kGdiplusPictureName = "panel-gdiplus.png";

// Defaults, with both meters showing a bar and a lit lamp, Listen Sibilance on, the mix at 0.6.
inline editor::ValueEditorModel comparisonScene() {
    editor::ValueEditorModel model;
    model.params[kParamListenSibilance] = 1.0f;
    model.params[kParamDryWet] = 0.6f;
    model.deEssDb = 12.0f;
    model.gateDb = 18.0f;
    return model;
}

inline int codePoints(const std::string& utf8) {
    int n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

// A generous box around each text of the panel at width x height: wide enough for any sans family
// at that size, from a little above the point to a line and a half below it.
inline std::vector<IntRect> textBoxes(int width, int height) {
    const editor::ValueEditorModel model = comparisonScene();
    RecordingCanvas canvas;
    editor::paintEditor(canvas, width, height, model);
    std::vector<IntRect> boxes;
    for (const DrawCall& t : canvas.ofKind(DrawCall::Kind::text)) {
        const float size = t.font.pixelSize;
        const int w = static_cast<int>(static_cast<float>(codePoints(t.text)) * size * 0.8f + size) + 6;
        const int h = static_cast<int>(size * 1.6f) + 6;
        const int left = static_cast<int>(t.from.x) - (t.align == TextAlign::centred ? w / 2 : 3);
        boxes.push_back({left, static_cast<int>(t.from.y) - 3, w, h});
    }
    return boxes;
}

inline bool insideAny(const std::vector<IntRect>& boxes, int x, int y) {
    for (const IntRect& b : boxes)
        if (x >= b.x && x < b.x + b.width && y >= b.y && y < b.y + b.height) return true;
    return false;
}

}  // namespace lumisere::testing
