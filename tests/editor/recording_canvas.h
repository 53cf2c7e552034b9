// A Canvas that draws nothing and keeps every call, with its geometry, brush or pen, text and font, so
// tests can check the picture exactly. hasFont() is a switch for the missing-font path.
#pragma once

#include <string>
#include <vector>

#include "platform/drawing_layer.h"

namespace lumisere::testing {

using platform::Argb;
using platform::Brush;
using platform::Font;
using platform::IntRect;
using platform::Pen;
using platform::Point;
using platform::PointF;
using platform::TextAlign;

struct DrawCall {
    enum class Kind { fillRect, strokeRect, fillEllipse, strokeEllipse, strokeArc, lineF, lineI, text };

    Kind kind = Kind::fillRect;
    IntRect rect{0, 0, 0, 0};                 // rectangles, ellipses, arcs
    Brush brush = Brush::solid(0);            // fills
    Pen pen{0, 0.0f};                         // outlines, arcs, lines
    float startDegrees = 0.0f, sweepDegrees = 0.0f;  // arcs
    PointF from{0, 0}, to{0, 0};              // lines (integer lines converted) and the text point
    std::string text;
    Font font{0.0f, platform::FontWeight::regular};
    Argb textColour = 0;
    TextAlign align = TextAlign::left;
};

class RecordingCanvas final : public platform::Canvas {
public:
    explicit RecordingCanvas(bool fontAvailable = true) : fontAvailable_(fontAvailable) {}

    std::vector<DrawCall> calls;

    void fillRect(const IntRect& r, const Brush& b) override { add(DrawCall::Kind::fillRect, r).brush = b; }
    void strokeRect(const IntRect& r, const Pen& p) override { add(DrawCall::Kind::strokeRect, r).pen = p; }
    void fillEllipse(const IntRect& r, const Brush& b) override { add(DrawCall::Kind::fillEllipse, r).brush = b; }
    void strokeEllipse(const IntRect& r, const Pen& p) override { add(DrawCall::Kind::strokeEllipse, r).pen = p; }
    void strokeArc(const IntRect& r, float start, float sweep, const Pen& p) override {
        DrawCall& c = add(DrawCall::Kind::strokeArc, r);
        c.startDegrees = start;
        c.sweepDegrees = sweep;
        c.pen = p;
    }
    void strokeLine(PointF a, PointF b, const Pen& p) override {
        DrawCall& c = add(DrawCall::Kind::lineF, {});
        c.from = a;
        c.to = b;
        c.pen = p;
    }
    void strokeLine(Point a, Point b, const Pen& p) override {
        DrawCall& c = add(DrawCall::Kind::lineI, {});
        c.from = {static_cast<float>(a.x), static_cast<float>(a.y)};
        c.to = {static_cast<float>(b.x), static_cast<float>(b.y)};
        c.pen = p;
    }
    bool hasFont() const override { return fontAvailable_; }
    void drawText(const char* utf8, PointF at, const Font& font, Argb colour, TextAlign align) override {
        DrawCall& c = add(DrawCall::Kind::text, {});
        c.text = utf8 == nullptr ? "<null>" : utf8;
        c.from = at;
        c.font = font;
        c.textColour = colour;
        c.align = align;
    }
    void clipTo(const IntRect&) override {}
    void unclip() override {}

    // The calls of one kind, in drawing order.
    std::vector<DrawCall> ofKind(DrawCall::Kind kind) const {
        std::vector<DrawCall> out;
        for (const DrawCall& c : calls)
            if (c.kind == kind) out.push_back(c);
        return out;
    }

    // The text call drawing exactly `text`, or null.
    const DrawCall* findText(const std::string& text) const {
        for (const DrawCall& c : calls)
            if (c.kind == DrawCall::Kind::text && c.text == text) return &c;
        return nullptr;
    }

    // Index of the first call of `kind` on rectangle r at or after `from`, or -1.
    int find(DrawCall::Kind kind, const IntRect& r, std::size_t from = 0) const {
        for (std::size_t i = from; i < calls.size(); ++i) {
            const IntRect& q = calls[i].rect;
            if (calls[i].kind == kind && q.x == r.x && q.y == r.y && q.width == r.width && q.height == r.height) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

private:
    DrawCall& add(DrawCall::Kind kind, const IntRect& r) {
        DrawCall call;
        call.kind = kind;
        call.rect = r;
        calls.push_back(call);
        return calls.back();
    }

    bool fontAvailable_;
};

}  // namespace lumisere::testing
