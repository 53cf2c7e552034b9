// The editor's picture on a recording canvas: where every element lies, in which colours, pens, fonts
// and texts, at the editor's own size and at another; the knob, meter, lamp, strip and button states;
// and the paths for a missing font and for bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <tuple>

#include "editor/knob.h"
#include "editor/meters_display.h"
#include "editor/panel.h"
#include "recording_canvas.h"

namespace lumisere::editor {
namespace {

using platform::Brush;
using platform::Font;
using platform::FontWeight;
using platform::IntRect;
using platform::LineCap;
using platform::Pen;
using platform::PointF;
using platform::TextAlign;
using testing::DrawCall;
using testing::RecordingCanvas;
using Kind = DrawCall::Kind;


RecordingCanvas paint(const EditorModel& model, int w = kEditorWidth, int h = kEditorHeight, bool font = true) {
    RecordingCanvas canvas(font);
    paintEditor(canvas, w, h, model);
    return canvas;
}

// Expects a fill of exactly r in a solid colour; returns its call index.
int expectSolidFill(const RecordingCanvas& c, const IntRect& r, platform::Argb colour, std::size_t from = 0) {
    const int i = c.find(Kind::fillRect, r, from);
    EXPECT_GE(i, 0) << "no fill of (" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
    if (i < 0) return i;
    EXPECT_EQ(c.calls[i].brush.kind, Brush::Kind::solid);
    EXPECT_EQ(c.calls[i].brush.colour, colour);
    return i;
}

int expectOutline(const RecordingCanvas& c, const IntRect& r, platform::Argb colour, float width,
                  std::size_t from = 0) {
    const int i = c.find(Kind::strokeRect, r, from);
    EXPECT_GE(i, 0) << "no outline of (" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
    if (i < 0) return i;
    EXPECT_EQ(c.calls[i].pen.colour, colour);
    EXPECT_FLOAT_EQ(c.calls[i].pen.width, width);
    return i;
}

int expectText(const RecordingCanvas& c, const std::string& text, float x, float y, const Font& font,
               platform::Argb colour, TextAlign align = TextAlign::left) {
    const DrawCall* t = c.findText(text);
    EXPECT_NE(t, nullptr) << "no text \"" << text << "\"";
    if (t == nullptr) return -1;
    EXPECT_FLOAT_EQ(t->from.x, x) << text;
    EXPECT_FLOAT_EQ(t->from.y, y) << text;
    EXPECT_FLOAT_EQ(t->font.pixelSize, font.pixelSize) << text;
    EXPECT_EQ(t->font.weight, font.weight) << text;
    EXPECT_EQ(t->textColour, colour) << text;
    EXPECT_EQ(t->align, align) << text;
    return static_cast<int>(t - c.calls.data());
}

// A box drawn as fill, outline and text, as the lamps and the bypass button are.
void expectLabelledBox(const RecordingCanvas& c, const IntRect& box, platform::Argb fill, platform::Argb outline,
                       const std::string& text, float textX, float textY, platform::Argb textColour) {
    expectSolidFill(c, box, fill);
    expectOutline(c, box, outline, 1.2f);
    expectText(c, text, textX, textY, kStatusFont, textColour);
}

bool sameCall(const DrawCall& a, const DrawCall& b) {
    auto rect = [](const IntRect& r) { return std::tie(r.x, r.y, r.width, r.height); };
    auto brush = [](const Brush& x) {
        return std::make_tuple(x.kind, x.colour, x.from.x, x.from.y, x.to.x, x.to.y, x.toColour);
    };
    auto pen = [](const Pen& p) { return std::tie(p.colour, p.width, p.startCap, p.endCap); };
    return a.kind == b.kind && rect(a.rect) == rect(b.rect) && brush(a.brush) == brush(b.brush) &&
           pen(a.pen) == pen(b.pen) && a.startDegrees == b.startDegrees && a.sweepDegrees == b.sweepDegrees &&
           a.from.x == b.from.x && a.from.y == b.from.y && a.to.x == b.to.x && a.to.y == b.to.y && a.text == b.text &&
           a.font.pixelSize == b.font.pixelSize && a.font.weight == b.font.weight && a.textColour == b.textColour &&
           a.align == b.align;
}

TEST(KnobLayout, SevenRowsInDrawingOrderWithCaptionsRadiiAndAccents) {
    struct Row {
        int param;
        const char* caption;
        int x, y, r;
        platform::Argb accent;
    };
    const Row expected[kNumKnobs] = {
        {kParamDeEssThresh, "DE-ESS THRESH", 85, 270, 44, 0xFF00E6FF},
        {kParamFocusFreq, "FOCUS FREQ", 195, 270, 44, 0xFF00C8FF},
        {kParamListenSibilance, "LISTEN SIB", 305, 270, 38, 0xFFFFBE28},
        {kParamDipsesThresh, "DIPSES THRESH", 420, 270, 44, 0xFF28EB8C},
        {kParamNoiseReduce, "NOISE REDUCE", 535, 270, 44, 0xFF1ED2A0},
        {kParamAirSilk, "172 AIR SILK", 645, 270, 44, 0xFF00DCF0},
        {kParamOutputTrim, "OUTPUT TRIM", 755, 270, 44, 0xFFF0F0F5},
    };
    for (int i = 0; i < kNumKnobs; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kKnobLayout[i].paramIndex, expected[i].param);
        ASSERT_NE(kKnobLayout[i].caption, nullptr);
        EXPECT_STREQ(kKnobLayout[i].caption, expected[i].caption);
        EXPECT_EQ(kKnobLayout[i].centerX, expected[i].x);
        EXPECT_EQ(kKnobLayout[i].centerY, expected[i].y);
        EXPECT_EQ(kKnobLayout[i].radius, expected[i].r);
        EXPECT_EQ(kKnobLayout[i].accent, expected[i].accent);
    }
}

TEST(Knob, DrawsTrackArcBodyRimPointerDotAndTextsInOrder) {
    RecordingCanvas c;
    drawKnob(c, kKnobLayout[0], 0.5f);  // De-Ess Thresh at 0.5: -20.0 dB
    ASSERT_EQ(c.calls.size(), 8u);

    const DrawCall& track = c.calls[0];
    EXPECT_EQ(track.kind, Kind::strokeArc);
    EXPECT_EQ(c.find(Kind::strokeArc, {41, 226, 88, 88}), 0);
    EXPECT_FLOAT_EQ(track.startDegrees, 135.0f);
    EXPECT_FLOAT_EQ(track.sweepDegrees, 270.0f);
    EXPECT_EQ(track.pen.colour, 0x2D374655u);
    EXPECT_FLOAT_EQ(track.pen.width, 4.0f);
    EXPECT_EQ(track.pen.startCap, LineCap::flat);
    EXPECT_EQ(track.pen.endCap, LineCap::flat);

    const DrawCall& arc = c.calls[1];
    EXPECT_EQ(arc.kind, Kind::strokeArc);
    EXPECT_EQ(c.find(Kind::strokeArc, {41, 226, 88, 88}, 1), 1);
    EXPECT_FLOAT_EQ(arc.startDegrees, 135.0f);
    EXPECT_FLOAT_EQ(arc.sweepDegrees, 135.0f);
    EXPECT_EQ(arc.pen.colour, 0xFF00E6FFu);
    EXPECT_FLOAT_EQ(arc.pen.width, 4.5f);
    EXPECT_EQ(arc.pen.startCap, LineCap::round);
    EXPECT_EQ(arc.pen.endCap, LineCap::round);

    // Body: diameter 74, lighter at the top left, darker at the bottom right.
    const DrawCall& body = c.calls[2];
    EXPECT_EQ(c.find(Kind::fillEllipse, {48, 233, 74, 74}), 2);
    EXPECT_EQ(body.brush.kind, Brush::Kind::linearGradient);
    EXPECT_EQ(body.brush.from.x, 48);
    EXPECT_EQ(body.brush.from.y, 233);
    EXPECT_EQ(body.brush.colour, 0xFF232D3Au);
    EXPECT_EQ(body.brush.to.x, 122);
    EXPECT_EQ(body.brush.to.y, 307);
    EXPECT_EQ(body.brush.toColour, 0xFF0E1219u);

    EXPECT_EQ(c.find(Kind::strokeEllipse, {48, 233, 74, 74}), 3);
    EXPECT_EQ(c.calls[3].pen.colour, 0x46B4DCF0u);
    EXPECT_FLOAT_EQ(c.calls[3].pen.width, 1.2f);

    const DrawCall& pointer = c.calls[4];
    EXPECT_EQ(pointer.kind, Kind::lineF);
    EXPECT_FLOAT_EQ(pointer.from.x, 85.0f);
    EXPECT_FLOAT_EQ(pointer.from.y, 270.0f);
    EXPECT_NEAR(pointer.to.x, 85.0f, 1e-4);
    EXPECT_NEAR(pointer.to.y, 238.0f, 1e-4);  // straight up, 32 pixels
    EXPECT_EQ(pointer.pen.colour, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(pointer.pen.width, 2.2f);
    EXPECT_EQ(pointer.pen.startCap, LineCap::flat);
    EXPECT_EQ(pointer.pen.endCap, LineCap::round);

    EXPECT_EQ(c.find(Kind::fillEllipse, {82, 267, 6, 6}), 5);
    EXPECT_EQ(c.calls[5].brush.kind, Brush::Kind::solid);
    EXPECT_EQ(c.calls[5].brush.colour, 0xFF00E6FFu);

    EXPECT_EQ(expectText(c, "DE-ESS THRESH", 85, 322, {10, FontWeight::bold}, 0xFFD7E6F5, TextAlign::centred), 6);
    EXPECT_EQ(expectText(c, "-20.0 dB", 85, 338, {10, FontWeight::regular}, 0xFF00E6FF, TextAlign::centred), 7);
}

TEST(Knob, ArcAndPointerFollowTheValueIncludingTheOneDegreeThreshold) {
    struct Case {
        float value;
        bool arc;
        float sweep;
        float tipX, tipY;
    };
    const Case cases[] = {
        {0.0f, false, 0.0f, 62.373f, 292.627f},    // lower left
        {0.5f, true, 135.0f, 85.0f, 238.0f},        // straight up
        {1.0f, true, 270.0f, 107.627f, 292.627f},   // lower right
        {0.003f, false, 0.0f, 62.055f, 292.305f}, // 0.81 degrees: no arc
        {0.004f, true, 1.08f, 61.950f, 292.197f},  // 1.08 degrees: an arc
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.value);
        RecordingCanvas c;
        drawKnob(c, kKnobLayout[0], k.value);
        const auto arcs = c.ofKind(Kind::strokeArc);
        ASSERT_EQ(arcs.size(), k.arc ? 2u : 1u);
        if (k.arc) {
            EXPECT_NEAR(arcs[1].sweepDegrees, k.sweep, 1e-5);
        }
        const auto lines = c.ofKind(Kind::lineF);
        ASSERT_EQ(lines.size(), 1u);  // the pointer, also without an arc
        EXPECT_NEAR(lines[0].to.x, k.tipX, 0.001);
        EXPECT_NEAR(lines[0].to.y, k.tipY, 0.001);
    }
}

TEST(Knob, ListenSibilanceIsTheSmallerKnobWithItsSwitchTexts) {
    const KnobSpec& sib = kKnobLayout[2];
    RecordingCanvas off;
    drawKnob(off, sib, 0.0f);
    EXPECT_GE(off.find(Kind::strokeArc, {267, 232, 76, 76}), 0);
    EXPECT_EQ(off.ofKind(Kind::strokeArc).size(), 1u);
    EXPECT_GE(off.find(Kind::fillEllipse, {274, 239, 62, 62}), 0);
    const DrawCall pointer = off.ofKind(Kind::lineF).at(0);
    EXPECT_NEAR(pointer.to.x, 305.0f - 26.0f * std::sqrt(0.5f), 1e-3);  // 26 pixels to the lower left
    EXPECT_NEAR(pointer.to.y, 270.0f + 26.0f * std::sqrt(0.5f), 1e-3);
    expectText(off, "LISTEN SIB", 305, 316, {10, FontWeight::bold}, 0xFFD7E6F5, TextAlign::centred);
    expectText(off, "NORMAL", 305, 332, {10, FontWeight::regular}, 0xFFFFBE28, TextAlign::centred);

    RecordingCanvas on;
    drawKnob(on, sib, 1.0f);
    EXPECT_FLOAT_EQ(on.ofKind(Kind::strokeArc).at(1).sweepDegrees, 270.0f);
    EXPECT_NE(on.findText("SOLO SIB"), nullptr);
}

TEST(Knob, BadInputHasADefinedPicture) {
    RecordingCanvas none;
    KnobSpec flat = kKnobLayout[0];
    flat.radius = 0;
    drawKnob(none, flat, 0.5f);
    flat.radius = -10;
    drawKnob(none, flat, 0.5f);
    EXPECT_TRUE(none.calls.empty());

    // NaN: track, body, rim, dot and texts, but no value arc and no pointer.
    RecordingCanvas nan;
    drawKnob(nan, kKnobLayout[0], std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(nan.ofKind(Kind::strokeArc).size(), 1u);
    EXPECT_TRUE(nan.ofKind(Kind::lineF).empty());
    EXPECT_EQ(nan.ofKind(Kind::fillEllipse).size(), 2u);
    EXPECT_EQ(nan.ofKind(Kind::text).size(), 2u);

    // An index outside the table still gets a value text: the formatter's "0.00".
    RecordingCanvas stray;
    KnobSpec unknown = kKnobLayout[0];
    unknown.paramIndex = 42;
    drawKnob(stray, unknown, 0.5f);
    EXPECT_NE(stray.findText("0.00"), nullptr);
}

TEST(Panel, AtEditorSizeEveryElementLiesWhereTheLayoutPutsIt) {
    ValueEditorModel model;  // defaults: dry/wet 1, bypass off; meters at 0
    const RecordingCanvas c = paint(model);

    const int background = expectSolidFill(c, {0, 0, 840, 520}, 0xFF06090D);
    EXPECT_EQ(background, 0);
    const int glow = c.find(Kind::fillRect, {0, 0, 840, 100});
    ASSERT_EQ(glow, 1);
    EXPECT_EQ(c.calls[glow].brush.kind, Brush::Kind::linearGradient);
    EXPECT_EQ(c.calls[glow].brush.from.y, 0);
    EXPECT_EQ(c.calls[glow].brush.colour, 0x2800D2E6u);
    EXPECT_EQ(c.calls[glow].brush.to.x, 0);
    EXPECT_EQ(c.calls[glow].brush.to.y, 100);
    EXPECT_EQ(c.calls[glow].brush.toColour, 0x0006090Du);
    EXPECT_EQ(expectOutline(c, {4, 4, 832, 512}, 0x4600DCF0, 1.5f), 2);
    EXPECT_EQ(expectText(c, "OSTREL LUMISERE™", 28, 18, {19, FontWeight::bold}, 0xFFF5FAFF), 3);
    EXPECT_EQ(expectText(c, "QUANTUM DE-ESSER & SPECTRAL DENOISE • ZYRELL SILK ARCHITECTURE", 29, 44,
                         {10, FontWeight::regular}, 0xB400D7EB),
              4);

    // Lamps, de-esser first.
    const int deEssLamp = expectSolidFill(c, {480, 22, 160, 28}, 0x1400F0FF);
    EXPECT_EQ(deEssLamp, 5);
    expectOutline(c, {480, 22, 160, 28}, 0x4600B4C8, 1.2f);
    expectText(c, "○ DE-ESS IDLE", 495, 29, {9, FontWeight::bold}, 0x4600B4C8);
    const int gateLamp = expectSolidFill(c, {655, 22, 155, 28}, 0x1428EB8C);
    expectOutline(c, {655, 22, 155, 28}, 0x461EA064, 1.2f);
    expectText(c, "○ GATE OPEN", 670, 29, {9, FontWeight::bold}, 0x461EA064);
    EXPECT_LT(deEssLamp, gateLamp);

    // Meter panel and both meters.
    const int panel = expectSolidFill(c, {26, 78, 788, 82}, 0xFF0B0F16);
    EXPECT_GT(panel, gateLamp);
    expectOutline(c, {26, 78, 788, 82}, 0x3C00C8E6, 1.0f);
    expectText(c, "SIBILANCE ATTENUATION (DE-ESS GR)", 40, 90, {10, FontWeight::regular}, 0xB400D7EB);
    expectSolidFill(c, {40, 112, 340, 16}, 0xFF141A24);
    expectOutline(c, {40, 112, 340, 16}, 0x3C00C8E6, 1.0f);
    expectText(c, "DIPSES / HISS REDUCTION (SPECTRAL GATE)", 450, 90, {10, FontWeight::regular}, 0xB400D7EB);
    expectSolidFill(c, {450, 112, 300, 16}, 0xFF141A24);
    expectOutline(c, {450, 112, 300, 16}, 0x3C00C8E6, 1.0f);
    // Both readouts read "-0.0 dB": the de-esser's comes first, at (392, 111), the gate's at (762, 111).
    const auto texts = c.ofKind(Kind::text);
    std::vector<DrawCall> readouts;
    for (const DrawCall& t : texts)
        if (t.text == "-0.0 dB") readouts.push_back(t);
    ASSERT_EQ(readouts.size(), 2u);
    EXPECT_FLOAT_EQ(readouts[0].from.x, 392);
    EXPECT_FLOAT_EQ(readouts[1].from.x, 762);
    for (const DrawCall& r : readouts) {
        EXPECT_FLOAT_EQ(r.from.y, 111);
        EXPECT_FLOAT_EQ(r.font.pixelSize, 11);
        EXPECT_EQ(r.font.weight, FontWeight::regular);
        EXPECT_EQ(r.textColour, 0xFFF5FAFFu);
    }
    const char* marks[] = {"0dB", "-6dB", "-12dB", "-24dB"};
    const float markX[] = {40, 115, 198, 362};
    for (int i = 0; i < 4; ++i) expectText(c, marks[i], markX[i], 132, {8, FontWeight::regular}, 0x8C96AAB9);

    // The knob row: seven tracks in table order after the meters.
    const auto arcs = c.ofKind(Kind::strokeArc);
    std::vector<int> trackCentres;
    for (const DrawCall& a : arcs)
        if (a.sweepDegrees == 270.0f && a.pen.colour == 0x2D374655u) trackCentres.push_back(a.rect.x + a.rect.width / 2);
    EXPECT_EQ(trackCentres, (std::vector<int>{85, 195, 305, 420, 535, 645, 755}));
    EXPECT_GT(c.find(Kind::strokeArc, {41, 226, 88, 88}), expectText(c, "-24dB", 362, 132, kScaleFont, kDimText));

    // Footer.
    const auto lines = c.ofKind(Kind::lineI);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FLOAT_EQ(lines[0].from.x, 26);
    EXPECT_FLOAT_EQ(lines[0].from.y, 462);
    EXPECT_FLOAT_EQ(lines[0].to.x, 814);
    EXPECT_FLOAT_EQ(lines[0].to.y, 462);
    EXPECT_EQ(lines[0].pen.colour, 0x2DFFFFFFu);
    EXPECT_FLOAT_EQ(lines[0].pen.width, 1.0f);
    const int dryWetCaption = expectText(c, "DRY / WET", 60, 472, {9, FontWeight::bold}, 0xB4C8DCEB);
    const int dryWetTrack = expectSolidFill(c, {60, 488, 140, 8}, 0xFF161C26);
    const int dryWetLevel = expectSolidFill(c, {60, 488, 140, 8}, 0xFF00DCF0, dryWetTrack + 1);
    const int dryWetOutline = expectOutline(c, {60, 488, 140, 8}, 0x5000C8DC, 1.0f);
    EXPECT_LT(dryWetCaption, dryWetTrack);
    EXPECT_LT(dryWetLevel, dryWetOutline);
    const int bypass = expectSolidFill(c, {230, 476, 95, 28}, 0xFF141C28);
    expectOutline(c, {230, 476, 95, 28}, 0x6400D2E6, 1.2f);
    const int bypassText = expectText(c, "ACTIVE", 245, 482, {9, FontWeight::bold}, 0xC8B4D2E6);
    EXPECT_GT(bypass, dryWetOutline);
    const int footer = expectText(c, "EULER PRIME SIEVE (172/86) • ∇⁴ LAPLACIAN EXPANDER • ZYRELL™ DE-ESSING", 355,
                                  482, {10, FontWeight::regular}, 0x8C96AAB9);
    EXPECT_GT(footer, bypassText);
    EXPECT_EQ(footer, static_cast<int>(c.calls.size()) - 1);
}

TEST(Panel, AnotherClientSizeMovesOnlyWhatFollowsWidthAndHeight) {
    ValueEditorModel model;
    model.deEssDb = 6.0f;
    model.gateDb = 18.0f;
    const RecordingCanvas base = paint(model);
    // Odd width: the gate meter starts 30 pixels right of 901 / 2 = 450 (integer division).
    const RecordingCanvas big = paint(model, 901, 600);
    ASSERT_EQ(base.calls.size(), big.calls.size());

    std::set<int> moved;
    auto expectMoved = [&](int index) {
        ASSERT_GE(index, 0);
        moved.insert(index);
    };
    expectMoved(expectSolidFill(big, {0, 0, 901, 600}, 0xFF06090D));
    expectMoved(big.find(Kind::fillRect, {0, 0, 901, 100}));
    expectMoved(expectOutline(big, {4, 4, 893, 592}, 0x4600DCF0, 1.5f));
    expectMoved(expectSolidFill(big, {541, 22, 160, 28}, 0x3200F0FF));
    expectMoved(expectOutline(big, {541, 22, 160, 28}, 0xFF00F0FF, 1.2f));
    expectMoved(expectText(big, "● DE-ESS SUPPRESSING", 556, 29, kStatusFont, 0xFF00F0FF));
    expectMoved(expectSolidFill(big, {716, 22, 155, 28}, 0x3228EB8C));
    expectMoved(expectOutline(big, {716, 22, 155, 28}, 0xFF28EB8C, 1.2f));
    expectMoved(expectText(big, "● DIPSES SILENCED", 731, 29, kStatusFont, 0xFF28EB8C));
    expectMoved(expectSolidFill(big, {26, 78, 849, 82}, 0xFF0B0F16));
    expectMoved(expectOutline(big, {26, 78, 849, 82}, 0x3C00C8E6, 1.0f));
    expectMoved(expectText(big, "DIPSES / HISS REDUCTION (SPECTRAL GATE)", 480, 90, kCaptionFont, kAccentText));
    expectMoved(expectSolidFill(big, {480, 112, 300, 16}, 0xFF141A24));
    const int gateBar = big.find(Kind::fillRect, {480, 112, 150, 16});
    expectMoved(gateBar);
    EXPECT_EQ(big.calls[gateBar].brush.from.x, 480);
    EXPECT_EQ(big.calls[gateBar].brush.to.x, 780);
    expectMoved(expectOutline(big, {480, 112, 300, 16}, 0x3C00C8E6, 1.0f));
    expectMoved(expectText(big, "-18.0 dB", 792, 111, kReadoutFont, kBrightText));
    const auto lines = big.ofKind(Kind::lineI);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FLOAT_EQ(lines[0].from.y, 542);
    EXPECT_FLOAT_EQ(lines[0].to.x, 875);
    for (std::size_t i = 0; i < big.calls.size(); ++i)
        if (big.calls[i].kind == Kind::lineI) moved.insert(static_cast<int>(i));
    expectMoved(expectText(big, "DRY / WET", 60, 552, kStatusFont, 0xB4C8DCEB));
    const int track = expectSolidFill(big, {60, 568, 140, 8}, 0xFF161C26);
    expectMoved(track);
    expectMoved(expectSolidFill(big, {60, 568, 140, 8}, 0xFF00DCF0, track + 1));
    expectMoved(expectOutline(big, {60, 568, 140, 8}, 0x5000C8DC, 1.0f));
    expectMoved(expectSolidFill(big, {230, 556, 95, 28}, 0xFF141C28));
    expectMoved(expectOutline(big, {230, 556, 95, 28}, 0x6400D2E6, 1.2f));
    expectMoved(expectText(big, "ACTIVE", 245, 562, kStatusFont, 0xC8B4D2E6));
    expectMoved(expectText(big, "EULER PRIME SIEVE (172/86) • ∇⁴ LAPLACIAN EXPANDER • ZYRELL™ DE-ESSING", 416, 562,
                           kCaptionFont, kDimText));

    // Title, subtitle, the de-esser meter and its scale, and the whole knob row stay as they were.
    for (std::size_t i = 0; i < big.calls.size(); ++i) {
        if (moved.count(static_cast<int>(i)) != 0) continue;
        EXPECT_TRUE(sameCall(base.calls[i], big.calls[i])) << "call " << i << " moved";
    }
}

TEST(Panel, KnobsShowTheirParametersExactlyAsStored) {
    ValueEditorModel model;
    for (int i = 0; i < kNumParams; ++i) model.params[i] = 0.05f + 0.11f * static_cast<float>(i);
    const RecordingCanvas c = paint(model);
    const auto pointers = c.ofKind(Kind::lineF);
    ASSERT_EQ(pointers.size(), 7u);
    for (int row = 0; row < kNumKnobs; ++row) {
        const KnobSpec& k = kKnobLayout[row];
        const PointF tip = knobPointerTip(k.centerX, k.centerY, k.radius, model.params[k.paramIndex]);
        EXPECT_EQ(pointers[row].to.x, tip.x) << row;
        EXPECT_EQ(pointers[row].to.y, tip.y) << row;
    }
}

TEST(Meters, BarLengthsTruncateAndStopAtFullScale) {
    struct Case {
        float db;
        int deEss;  // pixels of the 340-pixel de-esser bar
        int gate;   // pixels of the 300-pixel gate bar
    };
    const Case cases[] = {{0.05f, 0, 0}, {1.5f, 21, 12}, {6.0f, 85, 50}, {12.0f, 170, 100},
                          {18.0f, 255, 150}, {24.0f, 340, 200}, {26.0f, 340, 216}, {40.0f, 340, 300}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.db);
        ValueEditorModel model;
        model.deEssDb = k.db;
        model.gateDb = k.db;
        const RecordingCanvas c = paint(model);
        // Searched after each track's own fill, which a full bar matches too.
        const int deEssTrack = c.find(Kind::fillRect, {40, 112, 340, 16});
        const int gateTrack = c.find(Kind::fillRect, {450, 112, 300, 16});
        const int deEssBar = c.find(Kind::fillRect, {40, 112, k.deEss, 16}, deEssTrack + 1);
        const int gateBar = c.find(Kind::fillRect, {450, 112, k.gate, 16}, gateTrack + 1);
        if (k.deEss == 0) {
            EXPECT_LT(deEssBar, 0);  // a bar under one pixel is not drawn at all
            EXPECT_EQ(c.calls[deEssTrack + 1].kind, Kind::strokeRect);
        } else {
            ASSERT_GE(deEssBar, 0);
            const Brush& b = c.calls[deEssBar].brush;
            EXPECT_EQ(b.kind, Brush::Kind::linearGradient);
            EXPECT_EQ(std::tie(b.from.x, b.from.y, b.colour), std::make_tuple(40, 112, 0xFF00E6FFu));
            EXPECT_EQ(std::tie(b.to.x, b.to.y, b.toColour), std::make_tuple(380, 112, 0xFFFF5064u));
            // Right over the track fill, right under its outline.
            EXPECT_EQ(deEssBar, deEssTrack + 1);
            EXPECT_EQ(c.find(Kind::strokeRect, {40, 112, 340, 16}), deEssBar + 1);
        }
        if (k.gate == 0) {
            EXPECT_LT(gateBar, 0);
            EXPECT_EQ(c.calls[gateTrack + 1].kind, Kind::strokeRect);
        } else {
            ASSERT_GE(gateBar, 0);
            const Brush& b = c.calls[gateBar].brush;
            EXPECT_EQ(std::tie(b.from.x, b.from.y, b.colour), std::make_tuple(450, 112, 0xFF28EB8Cu));
            EXPECT_EQ(std::tie(b.to.x, b.to.y, b.toColour), std::make_tuple(750, 112, 0xFF00BEE6u));
        }
    }
}

TEST(Meters, ReadoutsShowOneRoundedDecimalAndTheTrueValueBeyondFullScale) {
    ValueEditorModel model;
    model.deEssDb = 12.36f;
    model.gateDb = 40.0f;
    const RecordingCanvas c = paint(model);
    expectText(c, "-12.4 dB", 392, 111, kReadoutFont, kBrightText);
    expectText(c, "-40.0 dB", 762, 111, kReadoutFont, kBrightText);

    char text[32];
    const std::pair<float, const char*> cases[] = {
        {0.0f, "-0.0 dB"}, {26.0f, "-26.0 dB"}, {0.05f, "-0.1 dB"}, {6.04f, "-6.0 dB"},
        {std::numeric_limits<float>::quiet_NaN(), "-0.0 dB"}, {std::numeric_limits<float>::infinity(), "-inf dB"},
    };
    for (const auto& [db, expected] : cases) {
        formatReductionReadout(db, text, sizeof text);
        EXPECT_STREQ(text, expected) << db;
    }
    formatReductionReadout(12.36f, text, 4);  // truncated to the buffer, always terminated
    EXPECT_STREQ(text, "-12");
    formatReductionReadout(12.36f, nullptr, 32);  // nothing to write into: no effect
    text[0] = 'x';
    formatReductionReadout(12.36f, text, 0);
    EXPECT_EQ(text[0], 'x');
}

TEST(Meters, LampsLightOnlyAboveTheirThresholds) {
    struct Case {
        float deEss, gate;
        bool deEssOn, gateOn;
    };
    const float above08 = std::nextafter(0.8f, 1.0f);
    const float above15 = std::nextafter(1.5f, 2.0f);
    const Case cases[] = {{0.0f, 0.0f, false, false}, {0.8f, 1.5f, false, false}, {above08, above15, true, true},
                          {26.0f, 40.0f, true, true}, {std::numeric_limits<float>::quiet_NaN(), -3.0f, false, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.deEss) + " / " + ::testing::PrintToString(k.gate));
        ValueEditorModel model;
        model.deEssDb = k.deEss;
        model.gateDb = k.gate;
        const RecordingCanvas c = paint(model);
        if (k.deEssOn) {
            expectLabelledBox(c, {480, 22, 160, 28}, 0x3200F0FF, 0xFF00F0FF, "● DE-ESS SUPPRESSING", 495, 29, 0xFF00F0FF);
        } else {
            expectLabelledBox(c, {480, 22, 160, 28}, 0x1400F0FF, 0x4600B4C8, "○ DE-ESS IDLE", 495, 29, 0x4600B4C8);
        }
        if (k.gateOn) {
            expectLabelledBox(c, {655, 22, 155, 28}, 0x3228EB8C, 0xFF28EB8C, "● DIPSES SILENCED", 670, 29, 0xFF28EB8C);
        } else {
            expectLabelledBox(c, {655, 22, 155, 28}, 0x1428EB8C, 0x461EA064, "○ GATE OPEN", 670, 29, 0x461EA064);
        }
    }
}

TEST(Panel, DryWetLevelAndBypassButtonFollowTheirParameters) {
    const std::pair<float, int> mixes[] = {{0.0f, 0}, {0.5f, 70}, {0.999f, 139}, {1.0f, 140},
                                           {std::numeric_limits<float>::quiet_NaN(), 140}};
    for (const auto& [mix, width] : mixes) {
        ValueEditorModel model;
        model.params[kParamDryWet] = mix;
        const RecordingCanvas c = paint(model);
        const int track = c.find(Kind::fillRect, {60, 488, 140, 8});
        // The level fill is issued at every value, also when it is empty.
        EXPECT_EQ(expectSolidFill(c, {60, 488, width, 8}, 0xFF00DCF0, track + 1), track + 1) << mix;
    }
    EXPECT_EQ(dryWetFillWidth(-0.5f), 0);
    EXPECT_EQ(dryWetFillWidth(2.0f), 140);

    const std::pair<float, bool> bypasses[] = {{0.0f, false}, {0.5f, false}, {std::nextafter(0.5f, 1.0f), true},
                                               {1.0f, true}};
    for (const auto& [value, on] : bypasses) {
        SCOPED_TRACE(value);
        ValueEditorModel model;
        model.params[kParamBypass] = value;
        const RecordingCanvas c = paint(model);
        if (on) {
            expectLabelledBox(c, {230, 476, 95, 28}, 0xFFB42828, 0xFFFF5A5A, "BYPASSED", 245, 482, 0xFFFFFFFF);
        } else {
            expectLabelledBox(c, {230, 476, 95, 28}, 0xFF141C28, 0x6400D2E6, "ACTIVE", 245, 482, 0xC8B4D2E6);
        }
    }
}

TEST(Panel, WithoutAFontEveryShapeIsDrawnAndNoText) {
    ValueEditorModel model;
    model.deEssDb = 12.0f;
    model.gateDb = 18.0f;
    const RecordingCanvas withFont = paint(model);
    const RecordingCanvas without = paint(model, kEditorWidth, kEditorHeight, false);
    EXPECT_TRUE(without.ofKind(Kind::text).empty());
    std::vector<DrawCall> shapes;
    for (const DrawCall& call : withFont.calls)
        if (call.kind != Kind::text) shapes.push_back(call);
    ASSERT_EQ(without.calls.size(), shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i) EXPECT_TRUE(sameCall(shapes[i], without.calls[i])) << i;
    // Title, subtitle, 2 lamps, 2 captions, 2 readouts, 4 marks, 7 x 2 knob texts, dry/wet, bypass, footer.
    EXPECT_EQ(withFont.ofKind(Kind::text).size(), 29u);
}

TEST(Panel, EmptyOrNegativeClientDrawsNothing) {
    ValueEditorModel model;
    for (auto [w, h] : {std::pair{0, 520}, std::pair{840, 0}, std::pair{-5, -5}, std::pair{-840, 520}}) {
        EXPECT_TRUE(paint(model, w, h).calls.empty()) << w << " x " << h;
    }
    // The smallest client still draws the whole sequence, clipped by the canvas.
    EXPECT_EQ(paint(model, 1, 1).calls.size(), paint(model).calls.size());
}

TEST(ValueEditorModel, ClampsWritesAndIgnoresUnknownIndices) {
    ValueEditorModel model;
    EXPECT_FLOAT_EQ(model.param(kParamFocusFreq), 0.4f);
    model.setParam(kParamDryWet, 1.5f);
    EXPECT_EQ(model.param(kParamDryWet), 1.0f);
    model.setParam(kParamDryWet, -0.2f);
    EXPECT_EQ(model.param(kParamDryWet), 0.0f);
    model.setParam(kParamDryWet, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(model.param(kParamDryWet), 1.0f);
    model.setParam(-1, 0.3f);
    model.setParam(kNumParams, 0.3f);
    EXPECT_EQ(model.param(-1), 0.0f);
    EXPECT_EQ(model.param(kNumParams), 0.0f);
}

}  // namespace
}  // namespace lumisere::editor
