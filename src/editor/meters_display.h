// The two gain reductions on the panel: the status lamps in the header, and the meter section with a
// bar, a readout and (for the de-esser) a fixed dB scale for each.
#pragma once

#include <cstddef>

#include "editor/editor_model.h"
#include "platform/drawing_layer.h"

namespace lumisere::editor {

// Lamp thresholds in dB; a reduction equal to its threshold leaves the lamp off.
constexpr float kDeEssLampThresholdDb = 0.8f;
constexpr float kGateLampThresholdDb = 1.5f;

// Full scale of the bars in dB and their track widths in pixels.
constexpr float kDeEssFullScaleDb = 24.0f;
constexpr float kGateFullScaleDb = 36.0f;
constexpr int kDeEssTrackWidth = 340;
constexpr int kGateTrackWidth = 300;

// Bar length: trackWidth x min(reduction / fullScale, 1) in single precision, truncated toward zero.
// 6 dB on the de-esser gives 85 pixels, 26 dB the full 340; zero, negative and NaN give 0.
int meterBarLength(float reductionDb, float fullScaleDb, int trackWidth);

// Readout text "-%.1f dB" of the reduction, locale-free: 12.36 gives "-12.4 dB". A NaN reads as 0.
// The panel draws it from a buffer of kReadoutCapacity characters.
constexpr std::size_t kReadoutCapacity = 32;
void formatReductionReadout(float reductionDb, char* buf, std::size_t capacity);

// The two meters, each with its lamp: 0 the de-esser, 1 the gate.
constexpr int kNumMeterViews = 2;
constexpr int kDeEssMeterView = 0;
constexpr int kGateMeterView = 1;

// What a meter and its lamp show of a reduction, and nothing else: equal states draw equal pixels.
struct MeterState {
    bool lampOn;
    int barLength;
    char readout[kReadoutCapacity];
};

MeterState meterStateOf(int meterView, float reductionDb);

// The areas a meter's parts may change, at client width: its lamp, its bar's track, its readout.
platform::IntRect lampArea(int meterView, int width);
platform::IntRect barArea(int meterView, int width);
platform::IntRect readoutArea(int meterView, int width);

// The header lamps, de-esser then gate, anchored to the right edge of a client `width` pixels wide.
void drawStatusLamps(platform::Canvas& canvas, int width, const EditorModel& model);

// The meter panel stretched to `width`, both meters with their readouts, and the de-esser's scale marks.
void drawMeterSection(platform::Canvas& canvas, int width, const EditorModel& model);

}  // namespace lumisere::editor
