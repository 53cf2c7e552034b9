// What an open editor costs: the editor's own X11 window (the backend, its event thread and the
// view, as the plug-in opens them) in a host window of this program, left open for a fixed number of
// 30 ms ticks. Three cases in one run: "whole" repaints and sends the whole picture every tick, as the
// editor did before it compared states (the baseline); "idle" shows a panel where nothing moves;
// "speech" moves the meters every tick as a voice drives them (the processor's meter values, block by
// block, over speech-like material). Each case reports the process's CPU time as a share of one core
// ("core_%") and the bytes it wrote to the X server per second ("x_bytes/s"; the program writes
// nothing else while it runs). Needs a display: run under `xvfb-run -a`.
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "editor/editor_view.h"
#include "editor/panel.h"
#include "core/processor.h"
#include "test_signals.h"

namespace {

using namespace lumisere;
using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(30);
constexpr int kTicksPerRun = 100;  // 3 seconds
constexpr double kRate = 48000.0;
constexpr int kFramesPerTick = 1440;  // 30 ms at 48 kHz

enum Mode : int { kWhole, kIdle, kSpeech };

// The editor's view of an instance, over atomics as the plug-in's is: the bench thread moves the
// meters while the window's thread reads them.
class AtomicModel final : public editor::EditorModel {
public:
    AtomicModel() {
        for (int i = 0; i < kNumParams; ++i) params_[i].store(kParams[i].defaultValue);
    }
    float param(int index) const override { return isParamIndex(index) ? params_[index].load() : 0.0f; }
    void setParam(int index, float value) override {
        if (isParamIndex(index)) params_[index].store(clampParam(value));
    }
    float deEssReductionDb() const override { return deEss.load(std::memory_order_relaxed); }
    float gateReductionDb() const override { return gate.load(std::memory_order_relaxed); }

    std::atomic<float> deEss{0.0f};
    std::atomic<float> gate{0.0f};

private:
    std::atomic<float> params_[kNumParams];
};

// The view behind a client that asks it for the whole picture every tick.
class WholeEveryTick final : public platform::WindowClient {
public:
    explicit WholeEveryTick(editor::EditorView& view) : view_(view) {}
    platform::Damage paint(platform::Canvas& canvas, int width, int height, bool) override {
        return view_.paint(canvas, width, height, true);
    }
    platform::PointerResponse pointerPress(int x, int y, int h) override { return view_.pointerPress(x, y, h); }
    platform::PointerResponse doubleClickPress(int x, int y) override { return view_.doubleClickPress(x, y); }
    platform::PointerResponse pointerMove(int x, int y, bool held) override { return view_.pointerMove(x, y, held); }
    platform::PointerResponse pointerRelease(int x, int y) override { return view_.pointerRelease(x, y); }
    void captureLost() override { view_.captureLost(); }

private:
    editor::EditorView& view_;
};

// The two reductions after each 30 ms block of speech-like material, as the processor publishes them.
const std::vector<std::pair<float, float>>& speechMeters() {
    static const std::vector<std::pair<float, float>> trace = [] {
        const signals::StereoSignal in = signals::speechLikeSignal(kRate, 10.0, 1234u);
        Processor processor;
        processor.setSampleRate(static_cast<float>(kRate));
        std::vector<float> outL(kFramesPerTick), outR(kFramesPerTick);
        float* out[] = {outL.data(), outR.data()};
        std::vector<std::pair<float, float>> meters;
        for (std::size_t at = 0; at + kFramesPerTick <= in.left.size(); at += kFramesPerTick) {
            const float* block[] = {in.left.data() + at, in.right.data() + at};
            processor.process(block, out, kFramesPerTick);
            meters.emplace_back(processor.meter(kMeterDeEssReduction), processor.meter(kMeterGateReduction));
        }
        return meters;
    }();
    return trace;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Bytes this process has written (the kernel's count, sockets included).
double bytesWritten() {
    double bytes = 0.0;
    if (std::FILE* io = std::fopen("/proc/self/io", "r")) {
        char key[32];
        double value = 0.0;
        while (std::fscanf(io, "%31s %lf", key, &value) == 2) {
            if (std::string(key) == "wchar:") bytes = value;
        }
        std::fclose(io);
    }
    return bytes;
}

void openEditor(benchmark::State& state) {
    const Mode mode = static_cast<Mode>(state.range(0));
    Display* host = XOpenDisplay(nullptr);
    if (host == nullptr) {
        state.SkipWithError("no display: run under xvfb-run -a");
        return;
    }
    const Window parent = XCreateSimpleWindow(host, DefaultRootWindow(host), 0, 0, editor::kEditorWidth,
                                              editor::kEditorHeight, 0, 0, 0);
    XMapWindow(host, parent);
    XSync(host, False);
    const auto& trace = speechMeters();

    AtomicModel model;
    editor::EditorView view(model);
    WholeEveryTick whole(view);
    platform::WindowClient& client = mode == kWhole ? static_cast<platform::WindowClient&>(whole) : view;
    auto window = platform::openChildWindow(reinterpret_cast<void*>(parent), editor::kEditorWidth,
                                            editor::kEditorHeight, client);
    if (window == nullptr) {
        state.SkipWithError("no editor window");
        XCloseDisplay(host);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first paint, fonts loaded

    double cpu = 0.0;
    double bytes = 0.0;
    double seconds = 0.0;
    std::size_t at = 0;
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds();
        const double bytes0 = bytesWritten();
        const auto start = Clock::now();
        // Only the speech case wakes this thread, once a tick, as the audio thread moves the meters.
        for (int tick = 1; tick <= kTicksPerRun; ++tick) {
            if (mode != kSpeech) continue;
            model.deEss.store(trace[at].first);
            model.gate.store(trace[at].second);
            at = (at + 1) % trace.size();
            std::this_thread::sleep_until(start + tick * kTick);
        }
        std::this_thread::sleep_until(start + kTicksPerRun * kTick);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        cpu += processCpuSeconds() - cpu0;
        bytes += bytesWritten() - bytes0;
        seconds += elapsed;
        state.SetIterationTime(elapsed);
    }
    window.reset();
    XDestroyWindow(host, parent);
    XCloseDisplay(host);
    state.counters["core_%"] = 100.0 * cpu / seconds;
    state.counters["x_bytes/s"] = bytes / seconds;
}

BENCHMARK(openEditor)->ArgName("whole_idle_speech")->DenseRange(kWhole, kSpeech)->UseManualTime()->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
