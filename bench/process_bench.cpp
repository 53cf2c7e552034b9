// processBlock in 512-frame blocks at 44100, 48000 and 96000 Hz on speech-like material with hiss, on
// digital silence and with the air band off, beside the plain per-sample reading of the chain on the
// same material. Each case reports nanoseconds per stereo frame; a summary at the end gives the ratio
// of each case to the plain reading and of silence to signal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "dsp/process_block.h"
#include "plugin/plugin_instance.h"
#include "reference_chain.h"
#include "speech_like_signal.h"

namespace {

using namespace lumisere;

constexpr int kBlockFrames = 512;
constexpr double kMaterialSeconds = 4.0;

enum Material : int { kSpeech = 0, kSilence = 1, kSpeechAirOff = 2, kPlainReading = 3 };
const char* const kMaterialNames[] = {"speech", "silence", "air off", "plain reading"};

const bench::StereoSignal& material(int rate, bool silent) {
    static std::map<std::pair<int, bool>, bench::StereoSignal> cache;
    auto found = cache.find({rate, silent});
    if (found != cache.end()) return found->second;
    bench::StereoSignal s = bench::speechLikeSignal(rate, kMaterialSeconds, 1234u);
    if (silent) {
        s.left.assign(s.left.size(), 0.0f);
        s.right.assign(s.right.size(), 0.0f);
    }
    return cache.emplace(std::make_pair(rate, silent), std::move(s)).first->second;
}

VstIntPtr VSTCALLBACK silentHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

// The block settings of a fresh instance at `rate`: the parameter defaults as the shell maps them.
dsp::BlockSettings defaultSettings(int rate) {
    AEffect* effect = createInstance(silentHost);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    PluginInstance* instance = PluginInstance::fromEffect(effect);
    const dsp::BlockSettings settings = instance->takeBlockSettings();
    destroyInstance(instance);
    return settings;
}

void reportPerFrame(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
    state.counters["frame"] = benchmark::Counter(kBlockFrames, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}

void processBlockBench(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int kind = static_cast<int>(state.range(1));
    const bench::StereoSignal& in = material(rate, kind == kSilence);
    const std::size_t length = in.left.size() / kBlockFrames * kBlockFrames;

    dsp::DspState dsp;
    dsp::BlockSettings settings = defaultSettings(rate);
    if (kind == kSpeechAirOff) settings.air = 0.0;
    std::vector<float> outL(kBlockFrames), outR(kBlockFrames);
    float* out[] = {outL.data(), outR.data()};

    std::size_t at = 0;
    for (auto _ : state) {
        const float* block[] = {in.left.data() + at, in.right.data() + at};
        benchmark::DoNotOptimize(dsp::processBlock(dsp, settings, block, out, kBlockFrames));
        benchmark::ClobberMemory();
        at = at + kBlockFrames < length ? at + kBlockFrames : 0;
    }
    reportPerFrame(state);
}

void plainReadingBench(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const bench::StereoSignal& in = material(rate, false);
    const std::size_t length = in.left.size() / kBlockFrames * kBlockFrames;

    bench::ReferenceChain chain;
    chain.setSampleRate(rate);
    std::vector<float> outL(kBlockFrames), outR(kBlockFrames);
    float* out[] = {outL.data(), outR.data()};

    std::size_t at = 0;
    for (auto _ : state) {
        const float* block[] = {in.left.data() + at, in.right.data() + at};
        chain.process(block, out, kBlockFrames);
        benchmark::ClobberMemory();
        at = at + kBlockFrames < length ? at + kBlockFrames : 0;
    }
    reportPerFrame(state);
}

void rates(benchmark::internal::Benchmark* b, std::vector<int> kinds) {
    for (int rate : {44100, 48000, 96000}) {
        for (int kind : kinds) b->Args({rate, kind});
    }
    b->ArgNames({"rate", "material"});
    b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

BENCHMARK(processBlockBench)->Apply([](benchmark::internal::Benchmark* b) {
    rates(b, {kSpeech, kSilence, kSpeechAirOff});
});
BENCHMARK(plainReadingBench)->Apply([](benchmark::internal::Benchmark* b) { rates(b, {kPlainReading}); });

// The console report, then a table of nanoseconds per frame and the ratios.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs, or the fastest of the repetitions when they are asked for: on a shared
            // machine the other loads only ever add time.
            const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (run.error_occurred || !(run.run_type == Run::RT_Iteration || fastest)) continue;
            const auto& args = run.run_name.args;  // "rate:44100/material:0"
            int rate = 0, kind = 0;
            if (std::sscanf(args.c_str(), "rate:%d/material:%d", &rate, &kind) != 2) continue;
            nsPerFrame_[{rate, kind}] = run.counters.at("frame").value * 1e9;
        }
    }

    void printSummary() const {
        std::printf("\nns per stereo frame, %d-frame blocks (ratio to the plain reading)\n", kBlockFrames);
        std::printf("%8s %18s %18s %18s %14s %16s\n", "rate", kMaterialNames[kSpeech], kMaterialNames[kSilence],
                    kMaterialNames[kSpeechAirOff], kMaterialNames[kPlainReading], "silence/speech");
        for (int rate : {44100, 48000, 96000}) {
            const double plain = value(rate, kPlainReading);
            std::printf("%8d", rate);
            for (int kind : {kSpeech, kSilence, kSpeechAirOff}) {
                std::printf(" %9.1f (%5.3f)", value(rate, kind), value(rate, kind) / plain);
            }
            std::printf(" %14.1f %16.3f\n", plain, value(rate, kSilence) / value(rate, kSpeech));
        }
    }

private:
    double value(int rate, int kind) const {
        auto found = nsPerFrame_.find({rate, kind});
        return found == nsPerFrame_.end() ? 0.0 : found->second;
    }
    std::map<std::pair<int, int>, double> nsPerFrame_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
