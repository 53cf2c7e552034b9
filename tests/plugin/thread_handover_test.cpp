// The values that cross threads, exercised from the threads a host uses: a control thread that sets
// all nine parameters (focus included), rates and the mains switch; an audio thread that processes
// blocks and takes the coefficient set at every block start; an editor thread that drags knobs,
// toggles switches and sets the mix through the editor's own pointer path, and paints (reading
// every parameter and meter).
// Built under ThreadSanitizer, any unsynchronised access fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "dsp/dsp_state.h"
#include "editor/knob.h"
#include "editor/panel.h"
#include "formats/vst2/vst2_instance.h"
#include "vst2_test_host.h"

namespace lumisere {
namespace {

using namespace vst2;

// A canvas that only counts, so the paint runs every read it makes without a drawing library.
struct CountingCanvas final : platform::Canvas {
    int calls = 0;
    void fillRect(const platform::IntRect&, const platform::Brush&) override { ++calls; }
    void strokeRect(const platform::IntRect&, const platform::Pen&) override { ++calls; }
    void fillEllipse(const platform::IntRect&, const platform::Brush&) override { ++calls; }
    void strokeEllipse(const platform::IntRect&, const platform::Pen&) override { ++calls; }
    void strokeArc(const platform::IntRect&, float, float, const platform::Pen&) override { ++calls; }
    void strokeLine(platform::PointF, platform::PointF, const platform::Pen&) override { ++calls; }
    void strokeLine(platform::Point, platform::Point, const platform::Pen&) override { ++calls; }
    bool hasFont() const override { return true; }
    void drawText(const char*, platform::PointF, const platform::Font&, platform::Argb, platform::TextAlign) override {
        ++calls;
    }
    void clipTo(const platform::IntRect&) override {}
    void unclip() override {}
};

constexpr float kFocusValues[] = {0.0f, 0.15f, 0.4f, 0.77f, 1.0f};
constexpr float kRates[] = {44100.0f, 48000.0f, 96000.0f};

// Whether a coefficient set is exactly the design of one focus value at one of the rates.
bool designedFromOneFocusValue(const dsp::Biquad& f) {
    for (float rate : kRates) {
        for (float p : kFocusValues) {
            const dsp::FocusCoefficients k = dsp::designFocusBandPass(focusFrequencyHz(p), rate);
            if (f.b0 == k.b0 && f.b1 == k.b1 && f.b2 == k.b2 && f.a1 == k.a1 && f.a2 == k.a2) return true;
        }
    }
    return false;
}

TEST(ThreadHandover, ControlAudioAndEditorThreadsShareTheInstanceWithoutRaces) {
    test::Vst2Effect effect(createInstance);
    ASSERT_NE(effect.get(), nullptr);
    Processor& fx = vst2::Vst2Instance::fromEffect(effect)->processor;
    std::atomic<bool> done{false};

    std::thread control([&] {
        for (int i = 0; i < 20000; ++i) {
            effect->setParameter(effect, kParamFocusFreq, kFocusValues[i % 5]);
            // Every other parameter; bypass on only now and then, so the audio core mostly runs.
            const int other = i % kNumParams;
            if (other == kParamBypass) {
                effect->setParameter(effect, other, i % 45 == 8 ? 1.0f : 0.0f);
            } else if (other != kParamFocusFreq) {
                effect->setParameter(effect, other, static_cast<float>(i % 11) / 10.0f);
            }
            if (i % 97 == 0) effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, kRates[(i / 97) % 3]);
            if (i % 131 == 0) effect->dispatcher(effect, effMainsChanged, 0, (i / 131) % 4 != 0, nullptr, 0.0f);
        }
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        done.store(true);
    });

    std::thread editor([&] {
        // The window system's side, as a backend calls the view: presses, drags and releases on the
        // knobs, the switches and the dry/wet strip, and a paint on a canvas that keeps nothing.
        editor::EditorView& view = vst2::Vst2Instance::fromEffect(effect)->editor->view;
        CountingCanvas canvas;
        float sink = 0.0f;
        for (int i = 0; i < 200 || !done.load(); ++i) {
            // Every knob but Focus Freq, whose values the control thread owns so the designs can be
            // told apart.
            const editor::KnobSpec& knob = editor::kKnobLayout[i % editor::kNumKnobs == 1 ? 0 : i % editor::kNumKnobs];
            view.pointerPress(knob.centerX, knob.centerY, editor::kEditorHeight);
            for (int dy = 0; dy < 40; dy += 8) view.pointerMove(knob.centerX, knob.centerY - dy, true);
            view.pointerRelease(knob.centerX, knob.centerY - 40);
            view.pointerPress(60 + i % 140, editor::kEditorHeight - 40, editor::kEditorHeight);  // dry/wet
            view.pointerRelease(0, 0);
            view.paint(canvas, editor::kEditorWidth, editor::kEditorHeight, false);
            for (int m = 0; m < kNumMeters; ++m) sink += fx.meter(m);
        }
        EXPECT_GT(canvas.calls, 0);
        EXPECT_TRUE(std::isfinite(sink));
    });

    int blocks = 0;
    int mismatched = 0;
    std::vector<float> left(64, 0.1f), right(64, -0.1f);
    float* channels[] = {left.data(), right.data()};
    while (!done.load() || blocks < 100) {
        // What the audio core takes at a block start, then the block itself.
        const dsp::BlockSettings settings = fx.takeBlockSettings();
        fx.audioState().retune(settings.sampleRate, settings.focusHz);
        if (!designedFromOneFocusValue(fx.audioState().focusFilterL) || !designedFromOneFocusValue(fx.audioState().focusFilterR)) {
            ++mismatched;
        }
        effect->processReplacing(effect, channels, channels, 64);
        ++blocks;
    }
    control.join();
    editor.join();

    EXPECT_EQ(mismatched, 0);
    EXPECT_GE(blocks, 100);
}

}  // namespace
}  // namespace lumisere
