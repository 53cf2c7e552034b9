#include "editor/panel.h"

#include "core/parameters.h"
#include "editor/knob.h"
#include "editor/meters_display.h"

namespace lumisere::editor {

using platform::Argb;
using platform::Brush;
using platform::IntRect;
using platform::Pen;
using platform::Point;

namespace {

constexpr Argb kBackground = 0xFF06090D;

// A faint cyan that fades out 100 pixels below the top edge.
constexpr int kGlowHeight = 100;
constexpr Argb kGlowTop = 0x2800D2E6;
constexpr Argb kGlowBottom = 0x0006090D;

constexpr int kFrameInset = 4;
constexpr Pen kFramePen{0x4600DCF0, 1.5f};

constexpr const char* kTitle = "OSTREL LUMISERE™";
constexpr const char* kSubtitle = "QUANTUM DE-ESSER & SPECTRAL DENOISE • ZYRELL SILK ARCHITECTURE";
constexpr const char* kFooter = "EULER PRIME SIEVE (172/86) • ∇⁴ LAPLACIAN EXPANDER • ZYRELL™ DE-ESSING";

constexpr int kSeparatorInset = 26;
constexpr int kSeparatorFromBottom = 58;
constexpr Pen kSeparatorPen{0x2DFFFFFF, 1.0f};

constexpr int kDryWetX = 60;
constexpr int kDryWetWidth = 140;
constexpr int kDryWetTrackFromBottom = 32;
constexpr int kDryWetTrackHeight = 8;
constexpr Argb kDryWetCaptionColour = 0xB4C8DCEB;
constexpr Argb kDryWetTrackFill = 0xFF161C26;
constexpr Argb kDryWetLevelFill = 0xFF00DCF0;
constexpr Pen kDryWetPen{0x5000C8DC, 1.0f};

constexpr int kBypassX = 230;
constexpr int kBypassFromBottom = 44;
constexpr int kBypassWidth = 95;
constexpr int kBypassHeight = 28;
constexpr int kBypassTextX = 245;
constexpr int kBypassTextFromBottom = 38;
constexpr float kBypassPenWidth = 1.2f;

struct ButtonLook {
    Argb fill;
    Argb outline;
    const char* text;
    Argb textColour;
};
constexpr ButtonLook kBypassOn{0xFFB42828, 0xFFFF5A5A, "BYPASSED", 0xFFFFFFFF};
constexpr ButtonLook kBypassOff{0xFF141C28, 0x6400D2E6, "ACTIVE", 0xC8B4D2E6};

constexpr int kFooterFromRight = 485;
constexpr int kFooterFromBottom = 38;

void drawDryWetStrip(platform::Canvas& canvas, int height, float value) {
    drawPanelText(canvas, kParams[kParamDryWet].caption, kDryWetX,
                  static_cast<float>(height - kDryWetPressTopFromBottom), kStatusFont, kDryWetCaptionColour);
    const IntRect track = dryWetTrackRect(height);
    canvas.fillRect(track, Brush::solid(kDryWetTrackFill));
    // Issued at every value, also when empty, so the strip draws the same calls whatever the mix.
    canvas.fillRect(IntRect{track.x, track.y, dryWetFillWidth(value), track.height}, Brush::solid(kDryWetLevelFill));
    canvas.strokeRect(track, kDryWetPen);
}

void drawBypassButton(platform::Canvas& canvas, int height, float value) {
    const ButtonLook& look = isSwitchOn(value) ? kBypassOn : kBypassOff;
    const IntRect button = bypassButtonRect(height);
    canvas.fillRect(button, Brush::solid(look.fill));
    canvas.strokeRect(button, Pen{look.outline, kBypassPenWidth});
    drawPanelText(canvas, look.text, kBypassTextX, static_cast<float>(height - kBypassTextFromBottom), kStatusFont,
                  look.textColour);
}

}  // namespace

IntRect bypassButtonRect(int clientHeight) {
    return {kBypassX, clientHeight - kBypassFromBottom, kBypassWidth, kBypassHeight};
}

IntRect dryWetTrackRect(int clientHeight) {
    return {kDryWetX, clientHeight - kDryWetTrackFromBottom, kDryWetWidth, kDryWetTrackHeight};
}

int dryWetFillWidth(float value) {
    return static_cast<int>(clampParam(value) * static_cast<float>(kDryWetWidth));
}

void drawPanelText(platform::Canvas& canvas, const char* utf8, float x, float y, const platform::Font& font,
                   Argb colour) {
    if (canvas.hasFont()) canvas.drawText(utf8, {x, y}, font, colour, platform::TextAlign::left);
}

void paintEditor(platform::Canvas& canvas, int width, int height, const EditorModel& model) {
    if (width <= 0 || height <= 0) return;

    canvas.fillRect(IntRect{0, 0, width, height}, Brush::solid(kBackground));
    canvas.fillRect(IntRect{0, 0, width, kGlowHeight},
                    Brush::linear(Point{0, 0}, kGlowTop, Point{0, kGlowHeight}, kGlowBottom));
    canvas.strokeRect(IntRect{kFrameInset, kFrameInset, width - 2 * kFrameInset, height - 2 * kFrameInset},
                      kFramePen);
    drawPanelText(canvas, kTitle, 28, 18, kTitleFont, kBrightText);
    drawPanelText(canvas, kSubtitle, 29, 44, kCaptionFont, kAccentText);

    drawStatusLamps(canvas, width, model);
    drawMeterSection(canvas, width, model);

    // Each knob shows its parameter exactly as stored.
    for (const KnobSpec& knob : kKnobLayout) drawKnob(canvas, knob, model.param(knob.paramIndex));

    const int separatorY = height - kSeparatorFromBottom;
    canvas.strokeLine(Point{kSeparatorInset, separatorY}, Point{width - kSeparatorInset, separatorY},
                      kSeparatorPen);
    drawDryWetStrip(canvas, height, model.param(kParamDryWet));
    drawBypassButton(canvas, height, model.param(kParamBypass));
    drawPanelText(canvas, kFooter, static_cast<float>(width - kFooterFromRight),
                  static_cast<float>(height - kFooterFromBottom), kCaptionFont,
                  kDimText);
}

}  // namespace lumisere::editor
