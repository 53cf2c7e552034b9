// processBlock in 512-frame blocks at 44100, 48000 and 96000 Hz on speech-like material with hiss, on
// digital silence, with the air band off and in the generic copy of the core (what a CPU without AVX2
// runs), beside the plain per-sample reading of the chain on the same material. Each case reports nanoseconds per stereo frame ("frame"); a summary at the end gives
// the ratio of each case to the plain reading and of silence to speech. With --benchmark_repetitions
// the summary takes each case's fastest repetition: on a shared machine other loads only add time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/processor.h"
#include "dsp/process_block.h"
#include "reference_chain.h"
#include "test_signals.h"

namespace {

using namespace lumisere;

constexpr int kBlockFrames = 512;
constexpr double kMaterialSeconds = 4.0;
constexpr int kRates[] = {44100, 48000, 96000};

enum Case : int { kSpeech, kSilence, kAirOff, kGenericCopy, kPlainReading, kNumCases };
const char* const kCaseNames[kNumCases] = {"speech", "silence", "air off", "generic copy", "plain reading"};

const signals::StereoSignal& material(int rate, bool silent) {
    static std::map<std::pair<int, bool>, signals::StereoSignal> cache;
    auto found = cache.find({rate, silent});
    if (found != cache.end()) return found->second;
    signals::StereoSignal s = signals::speechLikeSignal(rate, kMaterialSeconds, 1234u);
    if (silent) {
        s.left.assign(s.left.size(), 0.0f);
        s.right.assign(s.right.size(), 0.0f);
    }
    return cache.emplace(std::make_pair(rate, silent), std::move(s)).first->second;
}

// The block settings of a fresh instance at `rate`: the parameter defaults as the processor maps them.
dsp::BlockSettings defaultSettings(int rate) { return defaultBlockSettings(rate); }

// Runs `processOne(block, out)` on consecutive 512-frame blocks of the material, wrapping around.
template <typename Process>
void runBlocks(benchmark::State& state, const signals::StereoSignal& in, Process processOne) {
    const std::size_t length = in.left.size() / kBlockFrames * kBlockFrames;
    std::vector<float> outL(kBlockFrames), outR(kBlockFrames);
    float* out[] = {outL.data(), outR.data()};
    std::size_t at = 0;
    for (auto _ : state) {
        const float* block[] = {in.left.data() + at, in.right.data() + at};
        processOne(block, out);
        benchmark::ClobberMemory();
        at = at + kBlockFrames < length ? at + kBlockFrames : 0;
    }
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
    state.counters["frame"] = benchmark::Counter(kBlockFrames, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}

void processBlockCase(benchmark::State& state, int rate, Case which) {
    dsp::DspState dsp;
    dsp::BlockSettings settings = defaultSettings(rate);
    if (which == kAirOff) settings.air = 0.0;
    dsp::useCoreCopy(which == kGenericCopy ? dsp::CoreCopy::generic : dsp::fastestCoreCopy());
    runBlocks(state, material(rate, which == kSilence), [&](const float* const* in, float* const* out) {
        benchmark::DoNotOptimize(dsp::processBlock(dsp, settings, in, out, kBlockFrames));
    });
    dsp::useCoreCopy(dsp::fastestCoreCopy());
}

void plainReadingCase(benchmark::State& state, int rate) {
    test::ReferenceChain chain;
    chain.setSampleRate(rate);
    runBlocks(state, material(rate, false),
              [&](const float* const* in, float* const* out) { chain.process(in, out, kBlockFrames); });
}

// Which rate and case each registered name stands for.
std::map<std::string, std::pair<int, Case>>& registered() {
    static std::map<std::string, std::pair<int, Case>> names;
    return names;
}

void registerCases() {
    const auto fastest = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    for (int rate : kRates) {
        for (Case which : {kSpeech, kSilence, kAirOff, kGenericCopy, kPlainReading}) {
            const std::string name = std::string(which == kPlainReading ? "plainReading/" : "processBlock/") +
                                     (which == kSilence       ? "silence"
                                      : which == kAirOff      ? "air_off"
                                      : which == kGenericCopy ? "speech_generic_copy"
                                                              : "speech") +
                                     "/" + std::to_string(rate);
            registered()[name] = {rate, which};
            benchmark::RegisterBenchmark(name.c_str(), [rate, which](benchmark::State& state) {
                if (which == kPlainReading) {
                    plainReadingCase(state, rate);
                } else {
                    processBlockCase(state, rate, which);
                }
            })->ComputeStatistics("min", fastest);
        }
    }
}

// The console report, then a table of nanoseconds per frame and the ratios.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (run.error_occurred || !(run.run_type == Run::RT_Iteration || fastest)) continue;
            auto found = registered().find(run.run_name.function_name);
            auto counter = run.counters.find("frame");
            if (found == registered().end() || counter == run.counters.end()) continue;
            nsPerFrame_[found->second] = counter->second.value * 1e9;
        }
    }

    void printSummary() const {
        std::printf("\nns per stereo frame, %d-frame blocks (ratio to the plain reading)\n", kBlockFrames);
        std::printf("%8s %18s %18s %18s %18s %14s %16s\n", "rate", kCaseNames[kSpeech], kCaseNames[kSilence],
                    kCaseNames[kAirOff], kCaseNames[kGenericCopy], kCaseNames[kPlainReading], "silence/speech");
        for (int rate : kRates) {
            const double plain = value(rate, kPlainReading);
            std::printf("%8d", rate);
            for (Case which : {kSpeech, kSilence, kAirOff, kGenericCopy}) {
                std::printf(" %9.1f (%5.3f)", value(rate, which), value(rate, which) / plain);
            }
            std::printf(" %14.1f %16.3f\n", plain, value(rate, kSilence) / value(rate, kSpeech));
        }
    }

private:
    double value(int rate, Case which) const {
        auto found = nsPerFrame_.find({rate, which});
        return found == nsPerFrame_.end() ? 0.0 : found->second;
    }
    std::map<std::pair<int, Case>, double> nsPerFrame_;
};

}  // namespace

int main(int argc, char** argv) {
    registerCases();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
