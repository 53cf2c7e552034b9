// The output clip, the air band's sine, and what the output stage does with the dry and wet parts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "chain_test_support.h"
#include "dsp/air_output.h"

namespace lumisere::dsp {
namespace {

TEST(ClipOutput, HoldsWithinPlusMinus098) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(clipOutput(1.0), 0.98);
    EXPECT_EQ(clipOutput(-1.0), -0.98);
    EXPECT_EQ(clipOutput(0.98), 0.98);
    EXPECT_EQ(clipOutput(-0.98), -0.98);
    EXPECT_EQ(clipOutput(0.5), 0.5);
    EXPECT_EQ(clipOutput(-0.979), -0.979);
    EXPECT_EQ(clipOutput(inf), 0.98);
    EXPECT_EQ(clipOutput(-inf), -0.98);
    EXPECT_EQ(clipOutput(std::nan("")), 0.98);
}

TEST(ShaperSine, AgreesWithTheLibrarySine) {
    // The library sine of the rounded product carries an error of about t * 1e-16 itself.
    double largest = 0.0;
    for (double t = 0.0; t < 40.0; t += 0.0001234) {
        largest = std::max(largest, std::fabs(sinPiTimes(t) - std::sin(t * 3.141592653589793)));
    }
    EXPECT_LE(largest, 2e-14);
    // Exactly zero at zero, odd about every integer, and the library sine far out.
    EXPECT_EQ(sinPiTimes(0.0), 0.0);
    EXPECT_NEAR(sinPiTimes(0.5), 1.0, 1e-16);
    EXPECT_NEAR(sinPiTimes(1.5), -1.0, 1e-16);
    EXPECT_EQ(sinPiTimes(3e6 + 0.25), std::sin((3e6 + 0.25) * 3.141592653589793));
}

// The band against its plain per-sample reading (library sine everywhere), over a chunk that takes
// both of the shaper's paths: the series for ordinary samples, the library sine for samples so far out
// that the series no longer covers them. Those must agree to the bit; the rest to the series' error.
TEST(AirBand, BothShaperPathsMatchThePlainReading) {
    const RateCoefficients rate = rateCoefficients(48000.0);
    const AirOutputSettings settings = airOutputSettings(0.75, 0.0, 1.0, rate);
    AirShape shape;
    double oL[kChunkFrames], oR[kChunkFrames];
    for (int i = 0; i < kChunkFrames; ++i) {
        shape.crestNorm[i] = (i % 7) / 7.0;
        shape.levelCubic[i] = (i % 5) / 5.0;
        shape.crestWeight[i] = 1.0 / (1.0 + (i % 3));
        oL[i] = 0.4 * std::sin(i * 0.9);
        oR[i] = i % 16 == 3 ? (i % 32 == 3 ? 1e6 : -3.5e7) : -0.3 * std::cos(i * 1.3);
    }
    DspState state;
    double wetL[kChunkFrames], wetR[kChunkFrames];
    addAirBand(state, settings, oL, oR, shape, kChunkFrames, wetL, wetR);

    double lowL = 0.0, lowR = 0.0;
    int farOut = 0;
    for (int i = 0; i < kChunkFrames; ++i) {
        lowL = lowL + (oL[i] - lowL) * rate.airSmoothing;
        lowR = lowR + (oR[i] - lowR) * rate.airSmoothing;
        const double lin = (0.3 * shape.crestNorm[i] + 0.35 + 0.15 * shape.levelCubic[i]) * 0.75;
        const double shp = 0.35 * shape.crestWeight[i] + 0.2;
        const auto plain = [&](double o, double h) {
            return o + (std::sin(17.2 * std::fabs(h) * 3.141592653589793) * h * shp * (0.75 * 0.4) + h * lin);
        };
        const double hR = oR[i] - lowR;
        EXPECT_NEAR(wetL[i], plain(oL[i], oL[i] - lowL), 1e-14) << i;
        if (17.2 * std::fabs(hR) >= 1048576.0) {
            EXPECT_EQ(wetR[i], plain(oR[i], hR)) << i;
            ++farOut;
        } else {
            // Each sine of a rounded product 17.2 |h| pi carries about 17.2 |h| 1e-16 of its own.
            EXPECT_NEAR(wetR[i], plain(oR[i], hR), 1e-14 + 2e-15 * 17.2 * hR * hR) << i;
        }
    }
    EXPECT_GT(farOut, 0);
    EXPECT_LT(farOut, kChunkFrames);
    EXPECT_EQ(state.airLowL, lowL);
    EXPECT_EQ(state.airLowR, lowR);
}

// Speech-like material pushed past the clip, through a chain with all stages at work.
test::StereoSignal loudSpeech() {
    test::StereoSignal s = test::speechLikeSignal(44100.0, 1.0, 21u);
    for (float* channel : {s.left.data(), s.right.data()}) {
        for (std::size_t i = 0; i < s.left.size(); ++i) channel[i] *= 2.0f;
    }
    return s;
}

TEST(OutputStage, DryOnlyIsTheInputClipped) {
    const test::StereoSignal in = loudSpeech();
    DspState state;
    BlockSettings settings = defaultBlockSettings();
    settings.mix = 0.0;
    settings.deEssThresholdDb = -40.0;
    std::vector<BlockPeaks> blocks;
    const test::StereoSignal out = test::runInBlocks(state, settings, in, 512, &blocks);
    long clipped = 0;
    for (std::size_t i = 0; i < in.left.size(); ++i) {
        ASSERT_EQ(out.left[i], static_cast<float>(clipOutput(in.left[i]))) << i;
        ASSERT_EQ(out.right[i], static_cast<float>(clipOutput(in.right[i]))) << i;
        clipped += std::fabs(in.left[i]) > 0.98f;
    }
    EXPECT_GT(clipped, 0);
    // Every stage still ran.
    float deEss = 0.0f, gate = 0.0f;
    for (const BlockPeaks& b : blocks) {
        deEss = std::max(deEss, b.deEssMax);
        gate = std::max(gate, b.gateMax);
    }
    EXPECT_GT(deEss, 1.0f);
    EXPECT_GT(gate, 1.0f);
}

TEST(AirBand, OffKeepsItsLowPassAndOnResumesIt) {
    const test::StereoSignal in = test::speechLikeSignal(48000.0, 0.3, 23u);
    DspState state;
    BlockSettings on = defaultBlockSettings();
    on.sampleRate = 48000.0;
    BlockSettings off = on;
    off.air = 0.01f;  // a stored 0.01 sits just below 0.01 and leaves the band off
    test::runInBlocks(state, on, in, 480);
    const double lowL = state.airLowL, lowR = state.airLowR;
    ASSERT_NE(lowL, 0.0);
    test::runInBlocks(state, off, in, 480);
    EXPECT_EQ(state.airLowL, lowL);
    EXPECT_EQ(state.airLowR, lowR);
    test::runInBlocks(state, on, in, 480);
    EXPECT_NE(state.airLowL, lowL);
}

}  // namespace
}  // namespace lumisere::dsp
