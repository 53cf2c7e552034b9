// The drawing surface the editor paints on: exactly the primitives the panel uses, nothing more.
// Backends: GDI+ (win32/gdiplus_canvas), Cairo (cairo/cairo_canvas), and a recording canvas in the tests.
//
// Conventions every backend keeps, as GDI+ defines them:
// - Client pixels, origin at the top-left corner, y downwards. Integer rectangles are (x, y, width, height).
// - Pixel centres lie on whole coordinates, so a 1-pixel line at y = 462 covers exactly row 462.
// - Angles are degrees, clockwise from the positive x axis (y down): 135 is lower left, 270 straight up.
// - Colours are 0xAARRGGBB words, not premultiplied, blended over what is already drawn.
// - Pen widths are in pixels and centred on the path.
// - Text is UTF-8 in the "Segoe UI" family (or the backend's stand-in for it) at an em size in pixels;
//   the top of the line box lies on the given point. A backend without that family draws no text and
//   reports hasFont() false; every shape still draws.
#pragma once

#include <cstdint>

namespace lumisere::platform {

using Argb = std::uint32_t;  // 0xAARRGGBB

struct Point {
    int x;
    int y;
};

struct PointF {
    float x;
    float y;
};

struct IntRect {
    int x;
    int y;
    int width;
    int height;
};

enum class LineCap { flat, round };

struct Pen {
    Argb colour;
    float width;  // pixels
    LineCap startCap = LineCap::flat;
    LineCap endCap = LineCap::flat;
};

// A solid colour, or a two-point linear gradient from `from` in `colour` to `to` in `toColour`; the
// gradient repeats (tiles) beyond its end points, as GDI+'s WrapModeTile does.
struct Brush {
    enum class Kind { solid, linearGradient };

    Kind kind;
    Argb colour;
    Point from{0, 0};
    Point to{0, 0};
    Argb toColour = 0;

    static Brush solid(Argb c) { return Brush{Kind::solid, c}; }
    static Brush linear(Point a, Argb ca, Point b, Argb cb) { return Brush{Kind::linearGradient, ca, a, b, cb}; }
};

enum class FontWeight { regular, bold };

struct Font {
    float pixelSize;  // em size in pixels, e.g. 10
    FontWeight weight;
};

enum class TextAlign {
    left,    // the text starts at the point
    centred  // the text is centred horizontally on the point
};

class Canvas {
public:
    virtual ~Canvas() = default;

    // Rectangles; a width or height of zero or less draws nothing.
    virtual void fillRect(const IntRect& r, const Brush& brush) = 0;
    virtual void strokeRect(const IntRect& r, const Pen& pen) = 0;

    // The ellipse inscribed in r.
    virtual void fillEllipse(const IntRect& r, const Brush& brush) = 0;
    virtual void strokeEllipse(const IntRect& r, const Pen& pen) = 0;

    // An arc of the ellipse inscribed in r, from startDegrees sweeping sweepDegrees clockwise.
    virtual void strokeArc(const IntRect& r, float startDegrees, float sweepDegrees, const Pen& pen) = 0;

    virtual void strokeLine(PointF from, PointF to, const Pen& pen) = 0;
    virtual void strokeLine(Point from, Point to, const Pen& pen) = 0;

    // Whether texts can be drawn; false when the "Segoe UI" family (or its stand-in) is missing.
    virtual bool hasFont() const = 0;

    // One line of UTF-8 text, unwrapped and unclipped; a null text draws nothing.
    virtual void drawText(const char* utf8, PointF at, const Font& font, Argb colour, TextAlign align) = 0;

    // Until unclip(), every call changes only the whole pixels of r; inside r they come out exactly as
    // without the clip. An empty r lets nothing through.
    virtual void clipTo(const IntRect& r) = 0;
    virtual void unclip() = 0;
};

}  // namespace lumisere::platform
