#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

#include "platform/win32/gdiplus_canvas.h"

#include <cmath>
#include <cwchar>
#include <iterator>
#include <vector>

namespace lumisere::platform {

namespace gp = Gdiplus::DllExports;

namespace {

// The PNG encoder among GDI+'s installed codecs, found by its MIME type rather than a hard-coded class
// id ({557CF406-1A04-11D3-9A73-0000F81EF32E} on Windows and in Wine). False when there is none.
bool findPngEncoder(CLSID& clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (gp::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || count == 0 || bytes == 0) return false;
    std::vector<unsigned char> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gp::GdipGetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType != nullptr && std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

std::wstring widen(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));  // drop the terminator MultiByteToWideChar counted
    return wide;
}

Gdiplus::LineCap toGdiplus(LineCap cap) { return cap == LineCap::round ? Gdiplus::LineCapRound : Gdiplus::LineCapFlat; }

// A brush or pen for the length of one drawing call; null when GDI+ could not make it, and every call
// given a null object fails harmlessly.
struct ScopedBrush {
    explicit ScopedBrush(const Brush& b) {
        if (b.kind == Brush::Kind::solid) {
            Gdiplus::GpSolidFill* solid = nullptr;
            gp::GdipCreateSolidFill(b.colour, &solid);
            brush = solid;
        } else {
            const Gdiplus::GpPoint from(b.from.x, b.from.y);
            const Gdiplus::GpPoint to(b.to.x, b.to.y);
            Gdiplus::GpLineGradient* gradient = nullptr;
            gp::GdipCreateLineBrushI(&from, &to, b.colour, b.toColour, Gdiplus::WrapModeTile, &gradient);
            brush = gradient;
        }
    }
    ~ScopedBrush() {
        if (brush != nullptr) gp::GdipDeleteBrush(brush);
    }
    ScopedBrush(const ScopedBrush&) = delete;
    ScopedBrush& operator=(const ScopedBrush&) = delete;

    Gdiplus::GpBrush* brush = nullptr;
};

struct ScopedPen {
    explicit ScopedPen(const Pen& p) {
        gp::GdipCreatePen1(p.colour, p.width, Gdiplus::UnitWorld, &pen);
        if (pen == nullptr) return;
        gp::GdipSetPenStartCap(pen, toGdiplus(p.startCap));
        gp::GdipSetPenEndCap(pen, toGdiplus(p.endCap));
    }
    ~ScopedPen() {
        if (pen != nullptr) gp::GdipDeletePen(pen);
    }
    ScopedPen(const ScopedPen&) = delete;
    ScopedPen& operator=(const ScopedPen&) = delete;

    Gdiplus::GpPen* pen = nullptr;
};

bool drawable(const IntRect& r) { return r.width > 0 && r.height > 0; }

}  // namespace

GdiplusCanvas::GdiplusCanvas(int width, int height)
    : GdiplusCanvas(width, height, kEditorFontFamilies, static_cast<int>(std::size(kEditorFontFamilies))) {}

GdiplusCanvas::GdiplusCanvas(int width, int height, const char* family)
    : GdiplusCanvas(width, height, &family, family != nullptr ? 1 : 0) {}

GdiplusCanvas::GdiplusCanvas(int width, int height, const char* const* families, int familyCount) {
    if (width <= 0 || height <= 0) return;
    if (gp::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap_) != Gdiplus::Ok) {
        bitmap_ = nullptr;
        return;
    }
    if (gp::GdipGetImageGraphicsContext(bitmap_, &graphics_) != Gdiplus::Ok) {
        graphics_ = nullptr;
        return;
    }
    width_ = width;
    height_ = height;
    gp::GdipSetSmoothingMode(graphics_, Gdiplus::SmoothingModeAntiAlias);
    gp::GdipSetTextRenderingHint(graphics_, Gdiplus::TextRenderingHintClearTypeGridFit);

    for (int i = 0; i < familyCount && family_ == nullptr; ++i) {
        const Gdiplus::GpStatus found =
            families[i] == nullptr ? gp::GdipGetGenericFontFamilySansSerif(&family_)
                                   : gp::GdipCreateFontFamilyFromName(widen(families[i]).c_str(), nullptr, &family_);
        if (found != Gdiplus::Ok) family_ = nullptr;
    }
    if (gp::GdipCreateStringFormat(0, LANG_NEUTRAL, &centred_) == Gdiplus::Ok) {
        gp::GdipSetStringFormatAlign(centred_, Gdiplus::StringAlignmentCenter);
    } else {
        centred_ = nullptr;
    }
}

GdiplusCanvas::~GdiplusCanvas() {
    for (const CachedFont& f : fonts_) gp::GdipDeleteFont(f.font);
    if (centred_ != nullptr) gp::GdipDeleteStringFormat(centred_);
    if (family_ != nullptr) gp::GdipDeleteFontFamily(family_);
    // The graphics context goes before the bitmap it draws into.
    if (graphics_ != nullptr) gp::GdipDeleteGraphics(graphics_);
    if (bitmap_ != nullptr) gp::GdipDisposeImage(bitmap_);
}

Argb GdiplusCanvas::pixel(int x, int y) const {
    if (!ok() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    gp::GdipFlush(graphics_, Gdiplus::FlushIntentionSync);
    Gdiplus::ARGB colour = 0;
    gp::GdipBitmapGetPixel(bitmap_, x, y, &colour);
    return colour;
}

void GdiplusCanvas::copyTo(HDC dc, const IntRect& area) const {
    if (!ok() || dc == nullptr || !drawable(area)) return;
    Gdiplus::GpGraphics* target = nullptr;
    if (gp::GdipCreateFromHDC(dc, &target) != Gdiplus::Ok) return;
    gp::GdipDrawImagePointRectI(target, bitmap_, area.x, area.y, area.x, area.y, area.width, area.height,
                                Gdiplus::UnitPixel);
    gp::GdipDeleteGraphics(target);
}

void GdiplusCanvas::clipTo(const IntRect& r) {
    if (!ok()) return;
    // Pixel (x, y) spans x - 0.5 .. x + 0.5 (centres on whole coordinates): the clip lies on pixel edges.
    gp::GdipSetClipRect(graphics_, static_cast<float>(r.x) - 0.5f, static_cast<float>(r.y) - 0.5f,
                        static_cast<float>(r.width > 0 ? r.width : 0), static_cast<float>(r.height > 0 ? r.height : 0),
                        Gdiplus::CombineModeReplace);
}

void GdiplusCanvas::unclip() {
    if (ok()) gp::GdipResetClip(graphics_);
}

bool writeBitmapPng(Gdiplus::GpBitmap* bitmap, const std::string& utf8Path) {
    if (bitmap == nullptr) return false;
    const std::wstring path = widen(utf8Path.c_str());
    CLSID png;
    return !path.empty() && findPngEncoder(png) &&
           gp::GdipSaveImageToFile(bitmap, path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

bool GdiplusCanvas::writePng(const std::string& utf8Path) const {
    if (!ok()) return false;
    gp::GdipFlush(graphics_, Gdiplus::FlushIntentionSync);
    return writeBitmapPng(bitmap_, utf8Path);
}

void GdiplusCanvas::fillRect(const IntRect& r, const Brush& brush) {
    if (!ok() || !drawable(r)) return;
    ScopedBrush b(brush);
    gp::GdipFillRectangleI(graphics_, b.brush, r.x, r.y, r.width, r.height);
}

void GdiplusCanvas::strokeRect(const IntRect& r, const Pen& pen) {
    if (!ok() || !drawable(r)) return;
    ScopedPen p(pen);
    gp::GdipDrawRectangleI(graphics_, p.pen, r.x, r.y, r.width, r.height);
}

void GdiplusCanvas::fillEllipse(const IntRect& r, const Brush& brush) {
    if (!ok() || !drawable(r)) return;
    ScopedBrush b(brush);
    gp::GdipFillEllipseI(graphics_, b.brush, r.x, r.y, r.width, r.height);
}

void GdiplusCanvas::strokeEllipse(const IntRect& r, const Pen& pen) {
    if (!ok() || !drawable(r)) return;
    ScopedPen p(pen);
    gp::GdipDrawEllipseI(graphics_, p.pen, r.x, r.y, r.width, r.height);
}

void GdiplusCanvas::strokeArc(const IntRect& r, float startDegrees, float sweepDegrees, const Pen& pen) {
    if (!ok() || !drawable(r) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) return;
    ScopedPen p(pen);
    gp::GdipDrawArcI(graphics_, p.pen, r.x, r.y, r.width, r.height, startDegrees, sweepDegrees);
}

void GdiplusCanvas::strokeLine(PointF from, PointF to, const Pen& pen) {
    if (!ok() || !std::isfinite(from.x) || !std::isfinite(from.y) || !std::isfinite(to.x) || !std::isfinite(to.y)) {
        return;
    }
    ScopedPen p(pen);
    gp::GdipDrawLine(graphics_, p.pen, from.x, from.y, to.x, to.y);
}

void GdiplusCanvas::strokeLine(Point from, Point to, const Pen& pen) {
    if (!ok()) return;
    ScopedPen p(pen);
    gp::GdipDrawLineI(graphics_, p.pen, from.x, from.y, to.x, to.y);
}

Gdiplus::GpFont* GdiplusCanvas::fontFor(const Font& font) {
    for (const CachedFont& f : fonts_) {
        if (f.pixelSize == font.pixelSize && f.weight == font.weight) return f.font;
    }
    Gdiplus::GpFont* made = nullptr;
    const INT style = font.weight == FontWeight::bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
    if (gp::GdipCreateFont(family_, font.pixelSize, style, Gdiplus::UnitPixel, &made) != Gdiplus::Ok) return nullptr;
    fonts_.push_back({font.pixelSize, font.weight, made});
    return made;
}

void GdiplusCanvas::drawText(const char* utf8, PointF at, const Font& font, Argb colour, TextAlign align) {
    if (!ok() || utf8 == nullptr || !hasFont() || !(font.pixelSize > 0.0f)) return;
    Gdiplus::GpFont* gpFont = fontFor(font);
    if (gpFont == nullptr) return;
    const std::wstring text = widen(utf8);
    // A layout box of no size at the point: the text neither wraps nor clips, and its top is the point.
    const Gdiplus::RectF layout(at.x, at.y, 0.0f, 0.0f);
    ScopedBrush brush(Brush::solid(colour));
    gp::GdipDrawString(graphics_, text.c_str(), -1, gpFont, &layout, align == TextAlign::centred ? centred_ : nullptr,
                       brush.brush);
}

}  // namespace lumisere::platform
