// Block processing: bad input, block sizes, in-place buffers, empty blocks, the meter smoothing, the
// floating-point mode around the call, and no heap allocation while it runs.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "allocation_counter.h"
#include "chain_test_support.h"
#include "dsp/denormal_guard.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace lumisere::dsp {
namespace {

// Every value of the state that carries from sample to sample.
std::vector<double> carried(const DspState& s) {
    std::vector<double> v = {s.focusFilterL.x1, s.focusFilterL.x2, s.focusFilterL.y1, s.focusFilterL.y2,
                             s.focusFilterR.x1, s.focusFilterR.x2, s.focusFilterR.y1, s.focusFilterR.y2,
                             s.bandEnvL,        s.bandEnvR,        s.inputEnvL,       s.inputEnvR,
                             s.gateEnv,         s.airLowL,         s.airLowR};
    for (const SignalAnalyser* a : {&s.bandAnalyser, &s.deEssedAnalyser}) {
        v.insert(v.end(), {a->level, a->levelCubic, a->levelSquare, a->levelPow15, a->laplacian, a->crest,
                           a->crestNorm, a->crestWeight, a->wobble, a->wobbleDepth, a->peak, a->slowLevel,
                           a->smoothInput, a->laplacianPeak, a->laplacianHeld, a->phase, a->history[0],
                           a->history[1], a->history[2], a->history[3], a->modulatorSin, a->modulatorCos,
                           static_cast<double>(a->decimationCounter), static_cast<double>(a->modulatorLeft)});
    }
    return v;
}

bool allFinite(const DspState& s) {
    for (double v : carried(s)) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

TEST(ProcessBlock, NonFiniteInputIsProcessedAsSilence) {
    const float inf = std::numeric_limits<float>::infinity();
    const test::StereoSignal clean = test::speechLikeSignal(44100.0, 2.0, 31u);
    test::StereoSignal bad = clean;
    test::StereoSignal zeroed = clean;
    // Bursts of every kind, on one channel or both, single samples and runs.
    const struct { std::size_t at, length; float value; bool both; } bursts[] = {
        {1000, 1, std::nanf(""), false}, {5000, 64, inf, true},       {20000, 300, -inf, false},
        {40000, 7, -std::nanf(""), true}, {60000, 2000, std::nanf(""), true}, {88000, 3, inf, false}};
    for (const auto& b : bursts) {
        for (std::size_t i = b.at; i < b.at + b.length; ++i) {
            bad.right[i] = b.value;
            zeroed.right[i] = 0.0f;
            if (b.both) {
                bad.left[i] = b.value;
                zeroed.left[i] = 0.0f;
            }
        }
    }
    for (double mix : {1.0, 0.5}) {  // the dry part of the mix too
        BlockSettings settings = defaultBlockSettings();
        settings.mix = mix;
        DspState withBad, withZeros;
        std::vector<BlockPeaks> badBlocks, zeroBlocks;
        const test::StereoSignal a = test::runInBlocks(withBad, settings, bad, 441, &badBlocks);
        const test::StereoSignal b = test::runInBlocks(withZeros, settings, zeroed, 441, &zeroBlocks);
        EXPECT_EQ(std::memcmp(a.left.data(), b.left.data(), a.left.size() * sizeof(float)), 0) << mix;
        EXPECT_EQ(std::memcmp(a.right.data(), b.right.data(), a.right.size() * sizeof(float)), 0) << mix;
        for (std::size_t i = 0; i < badBlocks.size(); ++i) {
            EXPECT_EQ(badBlocks[i].peakL, zeroBlocks[i].peakL);
            EXPECT_EQ(badBlocks[i].deEssMax, zeroBlocks[i].deEssMax);
            EXPECT_EQ(badBlocks[i].gateMax, zeroBlocks[i].gateMax);
        }
        EXPECT_TRUE(allFinite(withBad));
    }
}

TEST(ProcessBlock, HugeSamplesAreClippedAndForgotten) {
    // Samples at the float range's end: in double nothing overflows, the output clips, and the
    // analysers read band values of a million and more as silence. What the burst leaves behind in
    // the analysers' peaks decays with their 1.5 s time constant.
    const double rate = 48000.0;
    const test::StereoSignal clean = test::speechLikeSignal(rate, 30.0, 32u);
    test::StereoSignal hit = clean;
    for (std::size_t i = 48000; i < 48100; ++i) {
        hit.left[i] = (i % 2 == 0) ? FLT_MAX : -FLT_MAX;
        hit.right[i] = 1e30f;
    }
    BlockSettings settings = defaultBlockSettings();
    settings.sampleRate = rate;
    DspState a, b;
    const test::StereoSignal outClean = test::runInBlocks(b, settings, clean, 512);
    test::StereoSignal out = outClean;
    const int total = static_cast<int>(hit.left.size());
    for (int at = 0; at < total; at += 512) {
        const int frames = std::min(512, total - at);
        const float* in[] = {hit.left.data() + at, hit.right.data() + at};
        float* o[] = {out.left.data() + at, out.right.data() + at};
        processBlock(a, settings, in, o, frames);
        ASSERT_TRUE(allFinite(a)) << "at frame " << at;
    }
    double lastSecond = 0.0;
    for (std::size_t i = 0; i < out.left.size(); ++i) {
        ASSERT_LE(std::fabs(out.left[i]), 0.98f);
        ASSERT_LE(std::fabs(out.right[i]), 0.98f);
        if (i >= out.left.size() - static_cast<std::size_t>(rate)) {
            lastSecond = std::max({lastSecond, std::fabs(static_cast<double>(out.left[i]) - outClean.left[i]),
                                   std::fabs(static_cast<double>(out.right[i]) - outClean.right[i])});
        }
    }
    // Half a minute on, the chain sounds as if the burst had never been.
    EXPECT_LE(lastSecond, 1e-6);
}

TEST(ProcessBlock, AudioDoesNotDependOnTheBlockSize) {
    const test::StereoSignal in = test::speechLikeSignal(96000.0, 3.0, 33u);
    BlockSettings settings = defaultBlockSettings();
    settings.sampleRate = 96000.0;
    settings.deEssThresholdDb = -35.0;
    DspState whole, odd;
    const test::StereoSignal a = test::runInBlocks(whole, settings, in, 4096);
    // Sizes that straddle the internal chunks in every way, empty blocks among them.
    test::StereoSignal b = a;
    const int sizes[] = {1, 127, 128, 129, 0, 300, 1000, 2, 511};
    int at = 0;
    for (int n = 0; at < static_cast<int>(in.left.size()); ++n) {
        const int frames = std::min(sizes[n % 9], static_cast<int>(in.left.size()) - at);
        const float* inputs[] = {in.left.data() + at, in.right.data() + at};
        float* outputs[] = {b.left.data() + at, b.right.data() + at};
        processBlock(odd, settings, inputs, outputs, frames);
        at += frames;
    }
    EXPECT_EQ(std::memcmp(a.left.data(), b.left.data(), a.left.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(a.right.data(), b.right.data(), a.right.size() * sizeof(float)), 0);
}

TEST(ProcessBlock, InPlaceBuffersGiveTheSameOutput) {
    const test::StereoSignal in = test::speechLikeSignal(44100.0, 1.0, 34u);
    BlockSettings settings = defaultBlockSettings();
    DspState separate, inPlace;
    const test::StereoSignal expected = test::runInBlocks(separate, settings, in, 300);
    test::StereoSignal buffers = in;
    for (int at = 0; at < static_cast<int>(in.left.size()); at += 300) {
        const int frames = std::min(300, static_cast<int>(in.left.size()) - at);
        float* io[] = {buffers.left.data() + at, buffers.right.data() + at};
        processBlock(inPlace, settings, io, io, frames);
    }
    EXPECT_EQ(std::memcmp(expected.left.data(), buffers.left.data(), in.left.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(expected.right.data(), buffers.right.data(), in.right.size() * sizeof(float)), 0);
}

TEST(ProcessBlock, AnEmptyBlockTouchesNoSampleAndNoState) {
    DspState state;
    BlockSettings settings = defaultBlockSettings();
    test::runInBlocks(state, settings, test::speechLikeSignal(44100.0, 0.2, 35u), 256);
    const std::vector<double> before = carried(state);
    float in[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    float out[4] = {7.0f, 7.0f, 7.0f, 7.0f};
    const float* inputs[] = {in, in};
    float* outputs[] = {out, out};
    for (int frames : {0, -1, -512}) {
        const BlockPeaks peaks = processBlock(state, settings, inputs, outputs, frames);
        EXPECT_EQ(peaks.peakL, 0.0f);
        EXPECT_EQ(peaks.peakR, 0.0f);
        EXPECT_EQ(peaks.deEssMax, 0.0f);
        EXPECT_EQ(peaks.gateMax, 0.0f);
    }
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[3], 7.0f);
    EXPECT_EQ(carried(state), before);
}

TEST(ProcessBlock, BothCoreCopiesGiveTheSameBits) {
    if (fastestCoreCopy() != CoreCopy::avx2) GTEST_SKIP() << "this CPU has no AVX2: only the generic copy runs";
    // Every stage in every mode: the settings move every few blocks, the block sizes straddle the
    // chunks, and a burst of NaN comes in on the way.
    test::StereoSignal in = test::speechLikeSignal(48000.0, 8.0, 36u);
    for (std::size_t i = 100000; i < 100300; ++i) in.left[i] = std::nanf("");
    struct Render {
        test::StereoSignal out;
        std::vector<BlockPeaks> blocks;
        std::vector<double> state;
    };
    const auto render = [&in](CoreCopy copy) {
        useCoreCopy(copy);
        Render r;
        r.out = in;
        DspState state;
        BlockSettings settings = defaultBlockSettings(48000.0);
        const int total = static_cast<int>(in.left.size());
        for (int at = 0, n = 0; at < total; ++n) {
            settings.listen = n % 37 > 30;
            settings.air = n % 11 < 3 ? 0.0 : 0.25 * (n % 5);
            settings.deEssThresholdDb = -40.0 + 3.0 * (n % 13);
            settings.gateThresholdDb = -80.0 + 7.0 * (n % 9);
            settings.gateFloorDb = -5.0 * (n % 9);
            settings.gateSlope = 1.0 + 0.5 * (n % 6);
            settings.mix = n % 7 == 0 ? 0.6 : 1.0;
            settings.outputTrimDb = n % 19 == 0 ? 12.0 : 0.0;
            const int frames = std::min((n * 97) % 700, total - at);
            const float* inputs[] = {in.left.data() + at, in.right.data() + at};
            float* outputs[] = {r.out.left.data() + at, r.out.right.data() + at};
            r.blocks.push_back(processBlock(state, settings, inputs, outputs, frames));
            at += frames;
        }
        r.state = carried(state);
        useCoreCopy(fastestCoreCopy());
        return r;
    };
    const Render generic = render(CoreCopy::generic);
    const Render avx2 = render(CoreCopy::avx2);
    EXPECT_EQ(std::memcmp(generic.out.left.data(), avx2.out.left.data(), in.left.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(generic.out.right.data(), avx2.out.right.data(), in.right.size() * sizeof(float)), 0);
    ASSERT_EQ(generic.blocks.size(), avx2.blocks.size());
    EXPECT_EQ(std::memcmp(generic.blocks.data(), avx2.blocks.data(), generic.blocks.size() * sizeof(BlockPeaks)), 0);
    ASSERT_EQ(generic.state.size(), avx2.state.size());
    EXPECT_EQ(std::memcmp(generic.state.data(), avx2.state.data(), generic.state.size() * sizeof(double)), 0);
}

TEST(Meters, SmoothOncePerBlockInFloat) {
    // A block without figures decays each meter by its own factor.
    const MeterValues full{1.0f, 1.0f, 1.0f, 1.0f};
    const MeterValues decayed = smoothMeters(full, BlockPeaks{});
    EXPECT_EQ(decayed.outPeakL, 0.85f);
    EXPECT_EQ(decayed.outPeakR, 0.85f);
    EXPECT_EQ(decayed.deEssReduction, 0.82f);
    EXPECT_EQ(decayed.gateReduction, 0.85f);
    // A clipped peak of 0.98 from rest: 0.98 * 0.15 in float.
    const float clipped = smoothMeters(MeterValues{}, BlockPeaks{0.98f, 0.0f, 0.0f, 0.0f}).outPeakL;
    EXPECT_EQ(clipped, 0.98f * 0.15f);
    EXPECT_NEAR(clipped, 0.147f, 1e-7f);
}

TEST(Meters, GateReductionApproachesItsFloor) {
    // Silence with Noise Reduce at 1: the gate sits on its -40 dB floor block after block.
    DspState state;
    BlockSettings settings = defaultBlockSettings();
    settings.gateFloorDb = -40.0;
    settings.gateSlope = 3.5;
    std::vector<BlockPeaks> blocks;
    test::runInBlocks(state, settings, test::sine(0.0, 0.0, 44100.0, 1.0), 512, &blocks);
    MeterValues meters;
    for (const BlockPeaks& b : blocks) meters = smoothMeters(meters, b);
    EXPECT_NEAR(meters.gateReduction, 40.0f, 0.01f);
}

#if defined(__SSE2__) || defined(_M_X64)
TEST(DenormalGuard, FlushesInsideAndRestoresTheCallersMode) {
    const unsigned callerMode = _mm_getcsr();
    volatile double tiny = 1e-310;  // subnormal
    {
        const DenormalGuard guard;
        EXPECT_EQ(tiny * 1.0, 0.0);
    }
    EXPECT_EQ(_mm_getcsr(), callerMode);
    EXPECT_NE(tiny * 1.0, 0.0);

    // Whatever the caller had, processBlock hands it back: plain, flushing already, or another
    // rounding mode.
    const DspState fresh;
    float in[64] = {}, out[64];
    const float* inputs[] = {in, in};
    float* outputs[] = {out, out};
    for (unsigned mode : {callerMode & ~0x8040u, callerMode | 0x8040u, (callerMode & ~0x6000u) | 0x6000u}) {
        DspState state = fresh;
        _mm_setcsr(mode);
        processBlock(state, defaultBlockSettings(), inputs, outputs, 64);
        const unsigned after = _mm_getcsr();
        _mm_setcsr(callerMode);
        EXPECT_EQ(after, mode);
    }
}
#endif

TEST(Realtime, TheAudioCoreAllocatesNothing) {
    // With a rate change and a focus change on the way.
    const test::StereoSignal in = test::speechLikeSignal(48000.0, 1.0, 41u);
    test::StereoSignal out = in;
    const int total = static_cast<int>(in.left.size());
    DspState state;
    BlockSettings settings = defaultBlockSettings();
    const long allocations = test::allocationsDuring([&] {
        for (int at = 0, n = 0; at < total; at += 512, ++n) {
            settings.sampleRate = n < 40 ? 44100.0 : 48000.0;
            settings.focusHz = n % 10 < 5 ? 6800.0 : 9000.0;
            const float* inputs[] = {in.left.data() + at, in.right.data() + at};
            float* outputs[] = {out.left.data() + at, out.right.data() + at};
            processBlock(state, settings, inputs, outputs, std::min(512, total - at));
        }
    });
    EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace lumisere::dsp
