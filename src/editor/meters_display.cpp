#include "editor/meters_display.h"

#include <charconv>
#include <cmath>

#include "editor/look.h"

namespace lumisere::editor {

using platform::Argb;
using platform::Brush;
using platform::IntRect;
using platform::Pen;
using platform::Point;

namespace {

struct LampLook {
    Argb fill;
    Argb outline;  // also the text colour
    const char* text;
};

struct Lamp {
    int leftFromRight;  // rectangle x = width - leftFromRight
    int rectWidth;
    int textFromRight;  // text x = width - textFromRight
    float thresholdDb;
    LampLook on;
    LampLook off;
};

constexpr int kLampTop = 22;
constexpr int kLampHeight = 28;
constexpr int kLampTextTop = 29;
constexpr float kLampPenWidth = 1.2f;

constexpr Lamp kDeEssLamp{360, 160, 345, kDeEssLampThresholdDb,
                          {0x3200F0FF, 0xFF00F0FF, "● DE-ESS SUPPRESSING"},
                          {0x1400F0FF, 0x4600B4C8, "○ DE-ESS IDLE"}};
constexpr Lamp kGateLamp{185, 155, 170, kGateLampThresholdDb,
                         {0x3228EB8C, 0xFF28EB8C, "● DIPSES SILENCED"},
                         {0x1428EB8C, 0x461EA064, "○ GATE OPEN"}};

// The meter panel below the header: (26, 78, width - 52, 82).
constexpr int kPanelX = 26;
constexpr int kPanelY = 78;
constexpr int kPanelHeight = 82;
constexpr Argb kPanelFill = 0xFF0B0F16;
constexpr Pen kPanelPen{0x3C00C8E6, 1.0f};  // outlines the panel and both tracks

constexpr int kCaptionTop = 90;
constexpr int kTrackTop = 112;
constexpr int kTrackHeight = 16;
constexpr Argb kTrackFill = 0xFF141A24;
constexpr int kReadoutTop = 111;
constexpr int kReadoutGap = 12;  // readout x = track end + 12

struct Meter {
    const char* caption;
    float fullScaleDb;
    int trackWidth;
    Argb gradientStart;  // at the track's left end
    Argb gradientEnd;    // at its right end, whatever the bar length
};

constexpr Meter kDeEssMeter{"SIBILANCE ATTENUATION (DE-ESS GR)", kDeEssFullScaleDb, kDeEssTrackWidth, 0xFF00E6FF,
                            0xFFFF5064};
constexpr Meter kGateMeter{"DIPSES / HISS REDUCTION (SPECTRAL GATE)", kGateFullScaleDb, kGateTrackWidth, 0xFF28EB8C,
                           0xFF00BEE6};
constexpr int kDeEssTrackX = 40;
constexpr int kGateOffsetFromCentre = 30;  // the gate meter starts 30 pixels right of the centre

// The scale under the de-esser track. Its marks sit where they read well, not at the bar ends of
// 6, 12 and 24 dB (x 125, 210 and 380).
struct ScaleMark {
    const char* text;
    int x;
};
constexpr ScaleMark kScaleMarks[] = {{"0dB", 40}, {"-6dB", 115}, {"-12dB", 198}, {"-24dB", 362}};
constexpr int kScaleTop = 132;

// Room for a readout as long as "-100.0 dB" at 11 pixels, and a line and a half below its top.
constexpr int kReadoutAreaWidth = 72;
constexpr int kReadoutAreaHeight = 22;

const Lamp& lampOf(int meterView) { return meterView == kGateMeterView ? kGateLamp : kDeEssLamp; }
const Meter& meterOf(int meterView) { return meterView == kGateMeterView ? kGateMeter : kDeEssMeter; }
int trackXOf(int meterView, int width) {
    return meterView == kGateMeterView ? width / 2 + kGateOffsetFromCentre : kDeEssTrackX;
}

float finiteOrZero(float db) { return std::isnan(db) ? 0.0f : db; }

bool lampOn(const Lamp& lamp, float reductionDb) { return finiteOrZero(reductionDb) > lamp.thresholdDb; }

void drawLamp(platform::Canvas& canvas, int width, const Lamp& lamp, float reductionDb) {
    const LampLook& look = lampOn(lamp, reductionDb) ? lamp.on : lamp.off;
    const IntRect box{width - lamp.leftFromRight, kLampTop, lamp.rectWidth, kLampHeight};
    canvas.fillRect(box, Brush::solid(look.fill));
    canvas.strokeRect(box, Pen{look.outline, kLampPenWidth});
    drawPanelText(canvas, look.text, static_cast<float>(width - lamp.textFromRight), kLampTextTop, kStatusFont,
                  look.outline);
}

// One meter: caption, track, bar (only when at least a pixel long), track outline, readout. The value
// is asked for anew for the bar and for the readout: the audio thread may move it in between.
template <typename ReadDb>
void drawMeter(platform::Canvas& canvas, const Meter& meter, int trackX, ReadDb readDb) {
    drawPanelText(canvas, meter.caption, static_cast<float>(trackX), kCaptionTop, kCaptionFont, kAccentText);
    const IntRect track{trackX, kTrackTop, meter.trackWidth, kTrackHeight};
    canvas.fillRect(track, Brush::solid(kTrackFill));
    const int length = meterBarLength(readDb(), meter.fullScaleDb, meter.trackWidth);
    if (length > 0) {
        // The gradient spans the whole track, so a colour marks a level, not a share of the bar.
        canvas.fillRect(IntRect{trackX, kTrackTop, length, kTrackHeight},
                        Brush::linear(Point{trackX, kTrackTop}, meter.gradientStart,
                                      Point{trackX + meter.trackWidth, kTrackTop}, meter.gradientEnd));
    }
    canvas.strokeRect(track, kPanelPen);
    char readout[kReadoutCapacity];
    formatReductionReadout(readDb(), readout, sizeof readout);
    drawPanelText(canvas, readout, static_cast<float>(trackX + meter.trackWidth + kReadoutGap), kReadoutTop,
                  kReadoutFont, kBrightText);
}

}  // namespace

int meterBarLength(float reductionDb, float fullScaleDb, int trackWidth) {
    float share = reductionDb / fullScaleDb;
    if (!(share > 0.0f)) return 0;  // zero, negative, NaN
    if (share > 1.0f) share = 1.0f;
    return static_cast<int>(static_cast<float>(trackWidth) * share);
}

void formatReductionReadout(float reductionDb, char* buf, std::size_t capacity) {
    if (buf == nullptr || capacity == 0) return;
    char text[64] = "-";  // the longest float in fixed notation fits
    const auto end = std::to_chars(text + 1, text + sizeof text - 4, static_cast<double>(finiteOrZero(reductionDb)),
                                   std::chars_format::fixed, 1)
                         .ptr;
    end[0] = ' ';
    end[1] = 'd';
    end[2] = 'B';
    end[3] = '\0';
    std::size_t i = 0;
    for (; text[i] != '\0' && i + 1 < capacity; ++i) buf[i] = text[i];
    buf[i] = '\0';
}

MeterState meterStateOf(int meterView, float reductionDb) {
    const Meter& meter = meterOf(meterView);
    MeterState state{};  // zeroed whole, so states compare as bytes
    state.lampOn = lampOn(lampOf(meterView), reductionDb);
    state.barLength = meterBarLength(reductionDb, meter.fullScaleDb, meter.trackWidth);
    formatReductionReadout(reductionDb, state.readout, sizeof state.readout);
    return state;
}

IntRect lampArea(int meterView, int width) {
    const Lamp& lamp = lampOf(meterView);
    return withStrokeMargin({width - lamp.leftFromRight, kLampTop, lamp.rectWidth, kLampHeight});
}

IntRect barArea(int meterView, int width) {
    return withStrokeMargin({trackXOf(meterView, width), kTrackTop, meterOf(meterView).trackWidth, kTrackHeight});
}

IntRect readoutArea(int meterView, int width) {
    const int x = trackXOf(meterView, width) + meterOf(meterView).trackWidth + kReadoutGap;
    return {x - kStrokeMargin, kReadoutTop - kStrokeMargin, kReadoutAreaWidth, kReadoutAreaHeight};
}

void drawStatusLamps(platform::Canvas& canvas, int width, const EditorModel& model) {
    drawLamp(canvas, width, kDeEssLamp, model.deEssReductionDb());
    drawLamp(canvas, width, kGateLamp, model.gateReductionDb());
}

void drawMeterSection(platform::Canvas& canvas, int width, const EditorModel& model) {
    const IntRect panel{kPanelX, kPanelY, width - 2 * kPanelX, kPanelHeight};
    canvas.fillRect(panel, Brush::solid(kPanelFill));
    canvas.strokeRect(panel, kPanelPen);

    drawMeter(canvas, kDeEssMeter, trackXOf(kDeEssMeterView, width), [&] { return model.deEssReductionDb(); });
    drawMeter(canvas, kGateMeter, trackXOf(kGateMeterView, width), [&] { return model.gateReductionDb(); });

    for (const ScaleMark& mark : kScaleMarks) {
        drawPanelText(canvas, mark.text, static_cast<float>(mark.x), kScaleTop, kScaleFont, kDimText);
    }
}

}  // namespace lumisere::editor
