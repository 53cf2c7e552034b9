// The Canvas on GDI+ (flat API): draws into an off-screen W x H 32 bpp ARGB bitmap with anti-aliased
// shapes and ClearType grid-fitted text, copies it to a window's device context in one piece, and can
// save it as PNG. GDI+ must be started (graphics_runtime.h) for as long as a canvas lives; a window's
// canvas lives as long as the window, and every brush and pen it makes lives for one call.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/drawing_layer.h"

namespace Gdiplus {
class GpBitmap;
class GpGraphics;
class GpFontFamily;
class GpFont;
class GpStringFormat;
}  // namespace Gdiplus

namespace lumisere::platform {

// Saves a GDI+ bitmap as PNG at a UTF-8 path with the installed PNG encoder; false when it was not written.
bool writeBitmapPng(Gdiplus::GpBitmap* bitmap, const std::string& utf8Path);

// The editor's text families in order of preference, null standing for GDI+'s generic sans serif.
// Windows before Vista and Wine have no Segoe UI; Tahoma ships with both, though a Wine whose GDI+
// finds none of Wine's own fonts sees only the system's, where DejaVu or Liberation are common.
inline constexpr const char* kEditorFontFamilies[] = {"Segoe UI", "Tahoma", nullptr, "DejaVu Sans",
                                                      "Liberation Sans"};

class GdiplusCanvas final : public Canvas {
public:
    // A width or height of zero or less, or GDI+ not started, gives a canvas that draws nothing.
    // The editor's text in the first of kEditorFontFamilies that exists, in the same sizes and weights.
    GdiplusCanvas(int width, int height);
    // The text in family alone: when it cannot be found (or is null) no text is drawn; shapes still are.
    GdiplusCanvas(int width, int height, const char* family);
    ~GdiplusCanvas() override;

    GdiplusCanvas(const GdiplusCanvas&) = delete;
    GdiplusCanvas& operator=(const GdiplusCanvas&) = delete;

    bool ok() const { return graphics_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }

    // The pixel at (x, y) as 0xAARRGGBB; 0 outside the bitmap or on a failed canvas.
    Argb pixel(int x, int y) const;

    // Draws the part `area` of the picture onto dc at the same place (the picture's top-left corner
    // at (0, 0)).
    void copyTo(HDC dc, const IntRect& area) const;

    // Saves the picture as PNG at a UTF-8 path; false when the canvas failed or the file was not written.
    bool writePng(const std::string& utf8Path) const;

    void fillRect(const IntRect& r, const Brush& brush) override;
    void strokeRect(const IntRect& r, const Pen& pen) override;
    void fillEllipse(const IntRect& r, const Brush& brush) override;
    void strokeEllipse(const IntRect& r, const Pen& pen) override;
    void strokeArc(const IntRect& r, float startDegrees, float sweepDegrees, const Pen& pen) override;
    void strokeLine(PointF from, PointF to, const Pen& pen) override;
    void strokeLine(Point from, Point to, const Pen& pen) override;
    bool hasFont() const override { return family_ != nullptr; }
    void drawText(const char* utf8, PointF at, const Font& font, Argb colour, TextAlign align) override;
    void clipTo(const IntRect& r) override;
    void unclip() override;

private:
    GdiplusCanvas(int width, int height, const char* const* families, int familyCount);
    Gdiplus::GpFont* fontFor(const Font& font);

    struct CachedFont {
        float pixelSize;
        FontWeight weight;
        Gdiplus::GpFont* font;
    };

    int width_ = 0;
    int height_ = 0;
    Gdiplus::GpBitmap* bitmap_ = nullptr;
    Gdiplus::GpGraphics* graphics_ = nullptr;
    Gdiplus::GpFontFamily* family_ = nullptr;
    Gdiplus::GpStringFormat* centred_ = nullptr;
    std::vector<CachedFont> fonts_;
};

}  // namespace lumisere::platform
