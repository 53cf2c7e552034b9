#include "editor/panel.h"

#include <cstring>

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

// The bands the picture's parts keep within, for drawing an area alone: the title and subtitle
// above the meter panel, the meter section with its readouts (from the panel's outline to the right
// edge), and everything from the separator down.
constexpr int kHeaderBottom = 76;
constexpr int kMeterSectionTop = 76;
constexpr int kMeterSectionHeight = 86;
constexpr int kBottomBandFromBottom = 60;

bool meets(const IntRect& a, const IntRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

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

void paintEditor(platform::Canvas& canvas, int width, int height, const EditorModel& model) {
    // Every part, also those a small client leaves outside: the canvas clips them.
    constexpr int kFar = 1 << 28;
    paintEditorArea(canvas, width, height, model, IntRect{-kFar, -kFar, 2 * kFar, 2 * kFar});
}

void paintEditorArea(platform::Canvas& canvas, int width, int height, const EditorModel& model, const IntRect& area) {
    if (width <= 0 || height <= 0) return;

    canvas.fillRect(IntRect{0, 0, width, height}, Brush::solid(kBackground));
    canvas.fillRect(IntRect{0, 0, width, kGlowHeight},
                    Brush::linear(Point{0, 0}, kGlowTop, Point{0, kGlowHeight}, kGlowBottom));
    canvas.strokeRect(IntRect{kFrameInset, kFrameInset, width - 2 * kFrameInset, height - 2 * kFrameInset},
                      kFramePen);
    if (meets(area, {0, 0, width, kHeaderBottom})) {
        drawPanelText(canvas, kTitle, 28, 18, kTitleFont, kBrightText);
        drawPanelText(canvas, kSubtitle, 29, 44, kCaptionFont, kAccentText);
    }

    if (meets(area, lampArea(kDeEssMeterView, width)) || meets(area, lampArea(kGateMeterView, width))) {
        drawStatusLamps(canvas, width, model);
    }
    if (meets(area, {0, kMeterSectionTop, width, kMeterSectionHeight})) drawMeterSection(canvas, width, model);

    // Each knob shows its parameter exactly as stored.
    for (const KnobSpec& knob : kKnobLayout) {
        if (meets(area, knobArea(knob))) drawKnob(canvas, knob, model.param(knob.paramIndex));
    }

    if (!meets(area, {0, height - kBottomBandFromBottom, width, kBottomBandFromBottom})) return;
    const int separatorY = height - kSeparatorFromBottom;
    canvas.strokeLine(Point{kSeparatorInset, separatorY}, Point{width - kSeparatorInset, separatorY},
                      kSeparatorPen);
    drawDryWetStrip(canvas, height, model.param(kParamDryWet));
    drawBypassButton(canvas, height, model.param(kParamBypass));
    drawPanelText(canvas, kFooter, static_cast<float>(width - kFooterFromRight),
                  static_cast<float>(height - kFooterFromBottom), kCaptionFont,
                  kDimText);
}

PanelState panelStateOf(const EditorModel& model) {
    PanelState state;
    for (int i = 0; i < kNumParams; ++i) state.paramBits[i] = bitsOf(model.param(i));
    state.meters[kDeEssMeterView] = meterStateOf(kDeEssMeterView, model.deEssReductionDb());
    state.meters[kGateMeterView] = meterStateOf(kGateMeterView, model.gateReductionDb());
    return state;
}

void addChangedAreas(const PanelState& shown, const PanelState& next, int width, int height,
                     platform::Damage& damage) {
    auto changed = [&](int param) { return shown.paramBits[param] != next.paramBits[param]; };
    for (int m = 0; m < kNumMeterViews; ++m) {
        const MeterState& a = shown.meters[m];
        const MeterState& b = next.meters[m];
        if (a.lampOn != b.lampOn) damage.add(lampArea(m, width));
        if (a.barLength != b.barLength) damage.add(barArea(m, width));
        if (std::strcmp(a.readout, b.readout) != 0) damage.add(readoutArea(m, width));
    }
    for (const KnobSpec& knob : kKnobLayout) {
        if (changed(knob.paramIndex)) damage.add(knobArea(knob));
    }
    if (changed(kParamDryWet)) damage.add(withStrokeMargin(dryWetTrackRect(height)));
    if (changed(kParamBypass)) damage.add(withStrokeMargin(bypassButtonRect(height)));
}

}  // namespace lumisere::editor
