// The optimised core against the plain per-sample reading of the chain, through the processor every
// plug-in format's process entry forwards to: speech-like material with hiss, sibilant bursts and silence, block sizes that vary
// from 0 to 1500 frames and parameter changes between blocks, at the three common rates, in each copy
// of the core the machine can run. Every output sample and every meter must equal the plain reading's
// to the last bit, but where the plain reading, which runs without flushing, gives a subnormal float
// that the core's flush turns into zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "core/processor.h"
#include "dsp/process_block.h"
#include "reference_chain.h"
#include "test_random.h"
#include "test_signals.h"

namespace lumisere {
namespace {

// The same float, bit for bit, or a subnormal of the plain reading that the core flushed to zero.
bool sameOrFlushed(float core, float plain) {
    if (std::memcmp(&core, &plain, sizeof core) == 0) return true;
    return core == 0.0f && std::fabs(plain) < FLT_MIN;
}

struct Comparison {
    long differingSamples = 0;  // neither equal nor a flushed subnormal
    long differingMeters = 0;
    long flushedSamples = 0;    // subnormals of the plain reading that came out as zero
    double largestSampleDeviation = 0.0;
    float largestDeEssMeter = 0.0f;
    float largestGateMeter = 0.0f;
    long clippedSamples = 0;
};

// Runs the same stream, block by block, through a plug-in instance and the plain reading.
Comparison compareAt(float rate, double seconds, std::uint32_t seed, bool changeParameters) {
    const signals::StereoSignal signal = signals::speechLikeSignal(rate, seconds, seed);
    const int total = static_cast<int>(signal.left.size());

    Processor fx;
    test::ReferenceChain reference;
    fx.setSampleRate(rate);
    reference.setSampleRate(fx.sampleRate());

    std::vector<float> coreL(static_cast<std::size_t>(total)), coreR(coreL.size());
    std::vector<float> refL(coreL.size()), refR(coreL.size());
    Comparison result;
    test::TestRandom random{seed * 7919u + 1u};

    int at = 0;
    for (int block = 0; at < total; ++block) {
        if (changeParameters && block % 23 == 22) {
            // Two or three parameters jump to new values; the switches and the air band's on/off
            // point come up often enough to be crossed in both directions.
            for (int n = 2 + random.below(2); n > 0; --n) {
                const int index = random.below(kParamBypass);  // bypass has its own block below
                float value = random.unit();
                if (index == kParamAirSilk && random.below(4) == 0) value = 0.005f;
                fx.setParam(index, value);
                reference.params[static_cast<std::size_t>(index)] = fx.param(index);
            }
        }
        const bool bypass = changeParameters && block % 97 == 50;
        fx.setParam(kParamBypass, bypass ? 1.0f : 0.0f);
        reference.params[kParamBypass] = fx.param(kParamBypass);

        const int frames = std::min(total - at, block % 11 == 0 ? random.below(3) : random.below(1500));
        const std::size_t offset = static_cast<std::size_t>(at);
        const float* in[] = {signal.left.data() + offset, signal.right.data() + offset};
        float* coreOut[] = {coreL.data() + offset, coreR.data() + offset};
        float* refOut[] = {refL.data() + offset, refR.data() + offset};
        fx.process(in, coreOut, frames);
        reference.process(in, refOut, frames);

        for (int m = 0; m < kNumMeters; ++m) {
            if (!sameOrFlushed(fx.meter(m), reference.meters[static_cast<std::size_t>(m)])) ++result.differingMeters;
        }
        result.largestDeEssMeter = std::max(result.largestDeEssMeter, fx.meter(kMeterDeEssReduction));
        result.largestGateMeter = std::max(result.largestGateMeter, fx.meter(kMeterGateReduction));
        at += frames;
    }

    for (std::size_t i = 0; i < coreL.size(); ++i) {
        for (auto [core, plain] : {std::pair{coreL[i], refL[i]}, {coreR[i], refR[i]}}) {
            if (!sameOrFlushed(core, plain)) ++result.differingSamples;
            if (core != plain && core == 0.0f) ++result.flushedSamples;
            result.largestSampleDeviation =
                std::max(result.largestSampleDeviation, std::fabs(static_cast<double>(core) - plain));
        }
        if (std::fabs(refL[i]) == 0.98f || std::fabs(refR[i]) == 0.98f) ++result.clippedSamples;
    }
    return result;
}

void recordDeviation(const std::string& copy, float rate, const Comparison& c) {
    char text[128];
    std::snprintf(text, sizeof text, "%ld flushed subnormals, largest %.3g; largest de-esser %.2f dB, gate %.2f dB",
                  c.flushedSamples, c.largestSampleDeviation, static_cast<double>(c.largestDeEssMeter),
                  static_cast<double>(c.largestGateMeter));
    ::testing::Test::RecordProperty(copy + "_at_" + std::to_string(static_cast<int>(rate)), text);
}

// Runs `check` once per copy of the core this machine can run, with that copy in use.
template <typename Check>
void inEveryCoreCopy(Check check) {
    check(std::string("generic"), dsp::CoreCopy::generic);
    if (dsp::fastestCoreCopy() == dsp::CoreCopy::avx2) check(std::string("avx2"), dsp::CoreCopy::avx2);
    dsp::useCoreCopy(dsp::fastestCoreCopy());
}

TEST(ReferenceMatch, DefaultSettingsMatchToTheBitAtEveryRate) {
    inEveryCoreCopy([](const std::string& copy, dsp::CoreCopy which) {
        dsp::useCoreCopy(which);
        for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
            const Comparison c = compareAt(rate, 4.0, 11u, false);
            EXPECT_EQ(c.differingSamples, 0) << copy << ", " << rate << " Hz";
            EXPECT_EQ(c.differingMeters, 0) << copy << ", " << rate << " Hz";
            // The material must have worked both dynamics stages hard.
            EXPECT_GT(c.largestDeEssMeter, 6.0f) << rate << " Hz";
            EXPECT_GT(c.largestGateMeter, 6.0f) << rate << " Hz";
            recordDeviation(copy, rate, c);
        }
    });
}

TEST(ReferenceMatch, ChangingSettingsMatchToTheBitAtEveryRate) {
    inEveryCoreCopy([](const std::string& copy, dsp::CoreCopy which) {
        dsp::useCoreCopy(which);
        std::uint32_t seed = 3;
        for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
            const Comparison c = compareAt(rate, 6.0, ++seed, true);
            EXPECT_EQ(c.differingSamples, 0) << copy << ", " << rate << " Hz";
            EXPECT_EQ(c.differingMeters, 0) << copy << ", " << rate << " Hz";
            EXPECT_GT(c.clippedSamples, 0) << rate << " Hz: the trim never drove the clip";
            recordDeviation(copy, rate, c);
        }
    });
}

}  // namespace
}  // namespace lumisere
