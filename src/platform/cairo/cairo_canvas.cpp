#include "platform/cairo/cairo_canvas.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cmath>

namespace lumisere::platform {

namespace {

constexpr double kPi = 3.14159265358979323846;

double channel(Argb c, int shift) { return static_cast<double>((c >> shift) & 0xFFu) / 255.0; }

void setColour(cairo_t* cr, Argb c) {
    cairo_set_source_rgba(cr, channel(c, 16), channel(c, 8), channel(c, 0), channel(c, 24));
}

void addColourStop(cairo_pattern_t* pattern, double offset, Argb c) {
    cairo_pattern_add_color_stop_rgba(pattern, offset, channel(c, 16), channel(c, 8), channel(c, 0), channel(c, 24));
}

cairo_line_cap_t toCairo(LineCap cap) { return cap == LineCap::round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT; }

// The path of the ellipse inscribed in r, as GDI+ defines it.
void ellipsePath(cairo_t* cr, const IntRect& r) {
    cairo_save(cr);
    cairo_translate(cr, r.x + r.width / 2.0, r.y + r.height / 2.0);
    cairo_scale(cr, r.width / 2.0, r.height / 2.0);
    cairo_new_path(cr);
    cairo_arc(cr, 0.0, 0.0, 1.0, 0.0, 2.0 * kPi);
    cairo_close_path(cr);
    cairo_restore(cr);
}

// GDI+ arc angles are true angles on the ellipse; Cairo draws the unit circle scaled, whose angle is
// the parametric one. They agree on circles and at every quarter; in between, convert and unwrap
// (they never differ by more than a quarter turn).
double parametricAngle(double radians, double halfWidth, double halfHeight) {
    const double t = std::atan2(halfWidth * std::sin(radians), halfHeight * std::cos(radians));
    return t + 2.0 * kPi * std::round((radians - t) / (2.0 * kPi));
}

// The name fontconfig matches for family, the way GDI+ would find a family by name: "Segoe UI" where
// installed, else the nearest family fontconfig offers in its place. Empty when no font is installed.
std::string matchFamily(const char* family) {
    if (family == nullptr || FcInit() == FcFalse) return {};
    std::string matched;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        FcChar8* name = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch && name != nullptr) {
            matched = reinterpret_cast<const char*>(name);
        }
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return matched;
}

}  // namespace

void releaseProcessFontCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

CairoCanvas::CairoCanvas(int width, int height, const char* family) {
    if (width <= 0 || height <= 0) return;
    adopt(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), family);
}

CairoCanvas::CairoCanvas(int width, int height, unsigned char* pixels, int stride, const char* family) {
    if (width <= 0 || height <= 0 || pixels == nullptr || stride < cairoStride(width)) return;
    adopt(cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride), family);
}

int CairoCanvas::cairoStride(int width) { return cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width); }

void CairoCanvas::adopt(cairo_surface_t* surface, const char* family) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_t* cr = cairo_create(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return;
    }
    // GDI+ puts pixel centres on whole coordinates: (0, 0) is the middle of the first pixel.
    cairo_translate(cr, 0.5, 0.5);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    width_ = cairo_image_surface_get_width(surface);
    height_ = cairo_image_surface_get_height(surface);
    surface_ = surface;
    cr_ = cr;
    family_ = matchFamily(family);
}

CairoCanvas::~CairoCanvas() {
    if (cr_ != nullptr) cairo_destroy(cr_);
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

Argb CairoCanvas::pixel(int x, int y) const {
    if (!ok() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    // Native-endian premultiplied words.
    const auto word = *reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride + 4 * x);
    const std::uint32_t a = word >> 24;
    if (a == 0) return 0;
    auto unpremultiply = [a](std::uint32_t v) { return (v * 255u + a / 2u) / a; };
    return (a << 24) | (unpremultiply((word >> 16) & 0xFFu) << 16) | (unpremultiply((word >> 8) & 0xFFu) << 8) |
           unpremultiply(word & 0xFFu);
}

bool CairoCanvas::writePng(const std::string& path) const {
    if (!ok()) return false;
    cairo_surface_flush(surface_);
    return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

void CairoCanvas::setSource(const Brush& brush) {
    if (brush.kind == Brush::Kind::solid) {
        setColour(cr_, brush.colour);
        return;
    }
    cairo_pattern_t* gradient = cairo_pattern_create_linear(brush.from.x, brush.from.y, brush.to.x, brush.to.y);
    addColourStop(gradient, 0.0, brush.colour);
    addColourStop(gradient, 1.0, brush.toColour);
    cairo_pattern_set_extend(gradient, CAIRO_EXTEND_REPEAT);  // GDI+ WrapModeTile
    cairo_set_source(cr_, gradient);
    cairo_pattern_destroy(gradient);  // the context holds its own reference
}

void CairoCanvas::fillRect(const IntRect& r, const Brush& brush) {
    if (!ok() || r.width <= 0 || r.height <= 0) return;
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.x, r.y, r.width, r.height);
    setSource(brush);
    cairo_fill(cr_);
}

void CairoCanvas::strokeRect(const IntRect& r, const Pen& pen) {
    if (!ok() || r.width <= 0 || r.height <= 0) return;
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.x, r.y, r.width, r.height);
    setColour(cr_, pen.colour);
    cairo_set_line_width(cr_, pen.width);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    cairo_stroke(cr_);
}

void CairoCanvas::fillEllipse(const IntRect& r, const Brush& brush) {
    if (!ok() || r.width <= 0 || r.height <= 0) return;
    ellipsePath(cr_, r);
    setSource(brush);
    cairo_fill(cr_);
}

void CairoCanvas::strokeEllipse(const IntRect& r, const Pen& pen) {
    if (!ok() || r.width <= 0 || r.height <= 0) return;
    ellipsePath(cr_, r);
    setColour(cr_, pen.colour);
    cairo_set_line_width(cr_, pen.width);
    cairo_stroke(cr_);
}

// Strokes the current open path with the pen's caps. Cairo has one cap for both ends; when the pen's
// two caps differ, the path is stroked flat and the round end gets a disc of the pen's width, both
// drawn opaque into a group that is then laid down once with the pen's alpha, so nothing doubles up.
void CairoCanvas::strokePath(const Pen& pen, double startX, double startY, double endX, double endY) {
    cairo_set_line_width(cr_, pen.width);
    if (pen.startCap == pen.endCap) {
        cairo_set_line_cap(cr_, toCairo(pen.startCap));
        setColour(cr_, pen.colour);
        cairo_stroke(cr_);
        return;
    }
    cairo_push_group(cr_);
    setColour(cr_, pen.colour | 0xFF000000u);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
    cairo_stroke(cr_);
    const double capRadius = pen.width / 2.0;
    if (pen.startCap == LineCap::round) cairo_arc(cr_, startX, startY, capRadius, 0.0, 2.0 * kPi);
    cairo_new_sub_path(cr_);
    if (pen.endCap == LineCap::round) cairo_arc(cr_, endX, endY, capRadius, 0.0, 2.0 * kPi);
    cairo_fill(cr_);
    cairo_pop_group_to_source(cr_);
    cairo_paint_with_alpha(cr_, channel(pen.colour, 24));
}

void CairoCanvas::strokeArc(const IntRect& r, float startDegrees, float sweepDegrees, const Pen& pen) {
    if (!ok() || r.width <= 0 || r.height <= 0 || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) {
        return;
    }
    if (sweepDegrees == 0.0f) return;
    const double sweep = std::fmax(-360.0, std::fmin(360.0, static_cast<double>(sweepDegrees)));
    const double a = r.width / 2.0;
    const double b = r.height / 2.0;
    const double cx = r.x + a;
    const double cy = r.y + b;
    const double start = static_cast<double>(startDegrees) * kPi / 180.0;
    const double end = start + sweep * kPi / 180.0;
    const double t0 = parametricAngle(start, a, b);
    const double t1 = parametricAngle(end, a, b);

    cairo_new_path(cr_);
    cairo_save(cr_);
    cairo_translate(cr_, cx, cy);
    cairo_scale(cr_, a, b);
    if (sweep > 0.0) {
        cairo_arc(cr_, 0.0, 0.0, 1.0, t0, t1);
    } else {
        cairo_arc_negative(cr_, 0.0, 0.0, 1.0, t0, t1);
    }
    cairo_restore(cr_);
    strokePath(pen, cx + a * std::cos(t0), cy + b * std::sin(t0), cx + a * std::cos(t1), cy + b * std::sin(t1));
}

void CairoCanvas::strokeLine(PointF from, PointF to, const Pen& pen) {
    if (!ok() || !std::isfinite(from.x) || !std::isfinite(from.y) || !std::isfinite(to.x) || !std::isfinite(to.y)) {
        return;
    }
    cairo_new_path(cr_);
    cairo_move_to(cr_, from.x, from.y);
    cairo_line_to(cr_, to.x, to.y);
    strokePath(pen, from.x, from.y, to.x, to.y);
}

void CairoCanvas::strokeLine(Point from, Point to, const Pen& pen) {
    strokeLine(PointF{static_cast<float>(from.x), static_cast<float>(from.y)},
               PointF{static_cast<float>(to.x), static_cast<float>(to.y)}, pen);
}

void CairoCanvas::drawText(const char* utf8, PointF at, const Font& font, Argb colour, TextAlign align) {
    if (!ok() || utf8 == nullptr || !hasFont() || !(font.pixelSize > 0.0f)) return;
    cairo_select_font_face(cr_, family_.c_str(), CAIRO_FONT_SLANT_NORMAL,
                           font.weight == FontWeight::bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, font.pixelSize);  // the em size, in pixels as GDI+'s UnitPixel
    cairo_font_extents_t fontExtents;
    cairo_font_extents(cr_, &fontExtents);
    cairo_text_extents_t textExtents;
    cairo_text_extents(cr_, utf8, &textExtents);

    // GDI+ lays text out in a box whose top is the point and pads each line by 1/6 em on both sides;
    // centred text therefore sits on the point, left-aligned text starts 1/6 em to its right.
    double x = at.x;
    if (align == TextAlign::centred) {
        x -= textExtents.x_advance / 2.0;
    } else {
        x += font.pixelSize / 6.0;
    }
    cairo_new_path(cr_);
    cairo_move_to(cr_, x, at.y + fontExtents.ascent);
    setColour(cr_, colour);
    cairo_show_text(cr_, utf8);
}

void CairoCanvas::clipTo(const IntRect& r) {
    if (!ok()) return;
    cairo_reset_clip(cr_);
    cairo_new_path(cr_);
    // With the half-pixel shift, pixel (x, y) spans x - 0.5 .. x + 0.5: the clip lies on pixel edges,
    // where Cairo clips to whole pixels and leaves the coverage inside as it was.
    cairo_rectangle(cr_, r.x - 0.5, r.y - 0.5, r.width > 0 ? r.width : 0, r.height > 0 ? r.height : 0);
    cairo_clip(cr_);
}

void CairoCanvas::unclip() {
    if (ok()) cairo_reset_clip(cr_);
}

}  // namespace lumisere::platform
