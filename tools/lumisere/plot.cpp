#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "output_file.h"
#include "platform/cairo/cairo_canvas.h"

namespace lumisere::cli {

namespace {

using platform::Argb;
using platform::Brush;
using platform::Canvas;
using platform::Font;
using platform::IntRect;
using platform::Pen;
using platform::PointF;
using platform::TextAlign;

constexpr Argb kBackground = 0xFFFFFFFF;
constexpr Argb kInk = 0xFF202020;
constexpr Argb kGrid = 0xFFE0E0E0;
constexpr Argb kBars = 0xFF8CA6C8;
constexpr Argb kFloor = 0xFF2060C0;
constexpr Argb kSpeech = 0xFF20A040;
constexpr Argb kThreshold = 0xFFE07010;
constexpr Argb kEsses = 0xFFD02030;
constexpr Argb kRest = 0xFF909090;
const Font kTitle{14.0f, platform::FontWeight::bold};
const Font kLabel{11.0f, platform::FontWeight::regular};

// A panel's plotting area and the linear map of its x and y ranges onto it.
struct Panel {
    IntRect area;
    double x0, x1, y0, y1;
    float x(double v) const { return static_cast<float>(area.x + (v - x0) / (x1 - x0) * area.width); }
    float y(double v) const {
        const double t = std::clamp((v - y0) / (y1 - y0), 0.0, 1.0);
        return static_cast<float>(area.y + area.height - t * area.height);
    }
};

void frame(Canvas& c, const Panel& p, const char* title, double xStep, const char* xUnit, double xScale) {
    c.drawText(title, {static_cast<float>(p.area.x), static_cast<float>(p.area.y - 24)}, kTitle, kInk, TextAlign::left);
    for (double v = std::ceil(p.x0 / xStep) * xStep; v <= p.x1 + 1e-9; v += xStep) {
        c.strokeLine(PointF{p.x(v), static_cast<float>(p.area.y)}, PointF{p.x(v), static_cast<float>(p.area.y + p.area.height)},
                     Pen{kGrid, 1.0f});
        char text[32];
        std::snprintf(text, sizeof text, "%g%s", v / xScale, xUnit);
        c.drawText(text, {p.x(v), static_cast<float>(p.area.y + p.area.height + 4)}, kLabel, kInk, TextAlign::centred);
    }
    c.strokeRect(p.area, Pen{kInk, 1.0f});
}

// A vertical marker with its label at `row` (0, 1, 2 from the top) so labels do not overlap.
void marker(Canvas& c, const Panel& p, double v, Argb colour, const std::string& label, int row) {
    const float x = p.x(std::clamp(v, p.x0, p.x1));
    c.strokeLine(PointF{x, static_cast<float>(p.area.y)}, PointF{x, static_cast<float>(p.area.y + p.area.height)},
                 Pen{colour, 2.0f});
    const bool right = x > static_cast<float>(p.area.x) + static_cast<float>(p.area.width) * 0.75f;
    c.drawText(label.c_str(), {right ? x - 4.0f - 7.0f * static_cast<float>(label.size()) : x + 4.0f,
                               static_cast<float>(p.area.y + 4 + 16 * row)},
               kLabel, colour, TextAlign::left);
}

void note(Canvas& c, const Panel& p, const std::string& text) {
    c.drawText(text.c_str(), {static_cast<float>(p.area.x + p.area.width / 2), static_cast<float>(p.area.y + p.area.height / 2 - 6)},
               kLabel, kInk, TextAlign::centred);
}

std::string dbLabel(const char* what, double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %.0f dB", what, v);
    return text;
}

void drawLevels(Canvas& c, const Measurements& m, const Proposal& prop) {
    const Panel p{{50, 40, 720, 170}, -100.0, 0.0, 0.0, 1.0};
    frame(c, p, "Level distribution (the gate's detector, 10 ms frames)", 10.0, " dB", 1.0);
    if (m.frameLevelsDb.empty()) {
        note(c, p, "nothing above digital silence");
        return;
    }
    std::vector<int> bins(100, 0);
    for (float v : m.frameLevelsDb) ++bins[static_cast<std::size_t>(std::clamp(static_cast<int>(std::floor(v + 100.0f)), 0, 99))];
    const int most = *std::max_element(bins.begin(), bins.end());
    for (int b = 0; b < 100; ++b) {
        if (bins[b] == 0) continue;
        const float top = p.y(static_cast<double>(bins[b]) / most);
        const int x = static_cast<int>(p.x(b - 100.0));
        c.fillRect({x, static_cast<int>(top), std::max(1, static_cast<int>(p.x(b - 99.0)) - x - 1),
                    p.area.y + p.area.height - static_cast<int>(top)},
                   Brush::solid(kBars));
    }
    if (m.floorDb) marker(c, p, *m.floorDb, kFloor, dbLabel("hiss floor", *m.floorDb), 0);
    if (m.speechDb) marker(c, p, *m.speechDb, kSpeech, dbLabel("speech", *m.speechDb), 1);
    if (prop.dipsesThreshDb) marker(c, p, *prop.dipsesThreshDb, kThreshold, dbLabel("Dipses Thresh", *prop.dipsesThreshDb), 2);
    if (!m.floorDb) note(c, p, "no pauses: the hiss floor could not be measured");
}

void drawSpectrum(Canvas& c, const Measurements& m, const Proposal& prop) {
    const std::vector<double>& esses = m.sibilantSpectrumDb;
    double top = esses.empty() ? 0.0 : *std::max_element(esses.begin(), esses.end());
    if (!m.restSpectrumDb.empty()) top = std::max(top, *std::max_element(m.restSpectrumDb.begin(), m.restSpectrumDb.end()));
    const Panel p{{50, 300, 720, 170}, m.bankHz.front(), m.bankHz.back(), top - 40.0, top + 2.0};
    frame(c, p, "Spectrum of the esses (red) and the rest of the voice (grey), through the focus band-pass", 1000.0,
          "k", 1000.0);
    if (esses.empty()) {
        note(c, p, "no esses found");
        return;
    }
    const auto curve = [&](const std::vector<double>& db, Argb colour) {
        for (std::size_t k = 1; k < db.size() && k < m.bankHz.size(); ++k) {
            c.strokeLine(PointF{p.x(m.bankHz[k - 1]), p.y(db[k - 1])}, PointF{p.x(m.bankHz[k]), p.y(db[k])}, Pen{colour, 2.0f});
        }
    };
    if (!m.restSpectrumDb.empty()) curve(m.restSpectrumDb, kRest);
    curve(esses, kEsses);
    if (prop.focusHz) {
        char text[64];
        std::snprintf(text, sizeof text, "Focus Freq %.1f kHz", *prop.focusHz / 1000.0);
        marker(c, p, *prop.focusHz, kThreshold, text, 0);
    }
    c.drawText("10 dB per division", {static_cast<float>(p.area.x), static_cast<float>(p.area.y + p.area.height + 20)}, kLabel,
               kInk, TextAlign::left);
    for (double v = top - 10.0; v > top - 40.0; v -= 10.0) {
        c.strokeLine(PointF{static_cast<float>(p.area.x), p.y(v)}, PointF{static_cast<float>(p.area.x + 6), p.y(v)}, Pen{kInk, 1.0f});
    }
}

}  // namespace

void writeSuggestPlot(const std::string& png, bool replace, const Measurements& m, const Proposal& p) {
    const std::string problem = replaceProblem(png, replace);
    if (!problem.empty()) throw FileError(problem);
    {
        platform::CairoCanvas canvas(kPlotWidth, kPlotHeight);
        if (!canvas.ok()) throw FileError("could not create a drawing surface");
        canvas.fillRect({0, 0, kPlotWidth, kPlotHeight}, Brush::solid(kBackground));
        drawLevels(canvas, m, p);
        drawSpectrum(canvas, m, p);
        PendingFile file(png);
        if (!canvas.writePng(file.temporaryPath())) throw FileError("could not write the PNG");
        file.commit(replace);
    }
    platform::releaseProcessFontCaches();
}

}  // namespace lumisere::cli
