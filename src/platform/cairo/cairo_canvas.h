// The Canvas on Cairo: draws into a W x H ARGB image in memory and writes it as PNG. Used by the Linux
// editor and by the command-line snapshot.
//
// GDI+ semantics kept: pixel centres on whole coordinates (the device is shifted by half a pixel),
// arc angles clockwise from +x with y down (Cairo's own orientation), separate start and end caps,
// and text whose line box top, not its baseline, lies on the point. The family asked for is looked up
// with fontconfig, which answers the nearest installed family when "Segoe UI" itself is missing.
#pragma once

#include <string>

#include "platform/drawing_layer.h"

struct _cairo;
struct _cairo_surface;

namespace lumisere::platform {

// Frees the process-wide caches Cairo and fontconfig keep after drawing text, so a leak checker sees a
// clean exit. Only for a program that owns its process (the command-line tool, the tests), after its
// last canvas is gone; never in a plug-in, whose host may use both libraries itself.
void releaseProcessFontCaches();

class CairoCanvas final : public Canvas {
public:
    // A width or height of zero or less gives a canvas that draws nothing and writes no PNG.
    CairoCanvas(int width, int height, const char* family = "Segoe UI");
    // The same over pixels the caller owns (a shared-memory segment, say): height rows of `stride`
    // bytes, a stride Cairo accepts for the width (cairoStride), cleared; they must outlive the canvas.
    CairoCanvas(int width, int height, unsigned char* pixels, int stride, const char* family = "Segoe UI");

    // The row length in bytes Cairo wants for an ARGB32 image `width` pixels wide.
    static int cairoStride(int width);
    ~CairoCanvas() override;

    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    bool ok() const { return cr_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }

    // The family fontconfig matched for the one asked for, e.g. "DejaVu Sans"; empty when none.
    const std::string& fontFamily() const { return family_; }

    // The pixel at (x, y) as 0xAARRGGBB, not premultiplied; 0 outside the image or on a failed canvas.
    Argb pixel(int x, int y) const;

    // Writes the image as PNG; false when the canvas failed or the file could not be written.
    bool writePng(const std::string& path) const;

    // The ARGB32 image surface drawn into (premultiplied, native-endian words); null on a failed canvas.
    // A window backend clears it before a paint and copies it to the window after.
    _cairo_surface* surface() const { return surface_; }

    void fillRect(const IntRect& r, const Brush& brush) override;
    void strokeRect(const IntRect& r, const Pen& pen) override;
    void fillEllipse(const IntRect& r, const Brush& brush) override;
    void strokeEllipse(const IntRect& r, const Pen& pen) override;
    void strokeArc(const IntRect& r, float startDegrees, float sweepDegrees, const Pen& pen) override;
    void strokeLine(PointF from, PointF to, const Pen& pen) override;
    void strokeLine(Point from, Point to, const Pen& pen) override;
    bool hasFont() const override { return !family_.empty(); }
    void drawText(const char* utf8, PointF at, const Font& font, Argb colour, TextAlign align) override;
    void clipTo(const IntRect& r) override;
    void unclip() override;

private:
    void adopt(_cairo_surface* surface, const char* family);
    void setSource(const Brush& brush);
    void strokePath(const Pen& pen, double startX, double startY, double endX, double endY);

    int width_ = 0;
    int height_ = 0;
    std::string family_;
    _cairo_surface* surface_ = nullptr;
    _cairo* cr_ = nullptr;
};

}  // namespace lumisere::platform
