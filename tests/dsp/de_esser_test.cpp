// The de-esser: its gain curve, the focus band-pass it listens through, and what it leaves alone.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "chain_test_support.h"
#include "dsp/de_esser.h"

namespace lumisere::dsp {
namespace {

TEST(DeEsserGain, FollowsTheExcessOverTheThreshold) {
    // With a = 0.45 and b = 0.08 (no laplacian, no level): 1, 3, 6 and 10 dB over.
    EXPECT_NEAR(deEsserGain(1.0, 0.0, 0.0), 0.6536, 5e-5);
    EXPECT_NEAR(deEsserGain(3.0, 0.0, 0.0), 0.3257, 5e-5);
    EXPECT_NEAR(deEsserGain(6.0, 0.0, 0.0), 0.1520, 5e-5);
    EXPECT_NEAR(deEsserGain(10.0, 0.0, 0.0), 0.0741, 5e-5);
    // The 0.05 floor: at about 12.85 dB with the smallest a and b, 9.30 dB with the largest.
    EXPECT_GT(deEsserGain(12.8, 0.0, 0.0), 0.05);
    EXPECT_EQ(deEsserGain(12.9, 0.0, 0.0), 0.05);
    EXPECT_GT(deEsserGain(9.25, 1.0, 1.0), 0.05);
    EXPECT_EQ(deEsserGain(9.35, 1.0, 1.0), 0.05);
    // A falling laplacian counts as none; 0 dB over and a NaN both give unity.
    EXPECT_EQ(deEsserGain(3.0, -0.8, 0.0), deEsserGain(3.0, 0.0, 0.0));
    EXPECT_EQ(deEsserGain(0.0, 0.0, 0.0), 1.0);
    EXPECT_EQ(deEsserGain(std::nan(""), 0.0, 0.0), 1.0);
}

double magnitudeAt(const FocusCoefficients& k, double hz, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -kTwoPi * hz / rate);
    const std::complex<double> z2 = z1 * z1;
    return std::abs((k.b0 + k.b1 * z1 + k.b2 * z2) / (1.0 + k.a1 * z1 + k.a2 * z2));
}

TEST(FocusBandPass, UnityAtTheCentreFallingAwayOnBothSides) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (double centre : {4000.0, 6800.000041723251, 11000.0}) {
            const FocusCoefficients k = designFocusBandPass(centre, rate);
            EXPECT_NEAR(magnitudeAt(k, centre, rate), 1.0, 1e-12) << centre << " Hz at " << rate;
            double below = 1.0, above = 1.0;
            for (double ratio = 1.1; ratio < 4.0; ratio *= 1.1) {
                const double lower = magnitudeAt(k, centre / ratio, rate);
                EXPECT_LT(lower, below) << centre / ratio << " Hz at " << rate;
                below = lower;
                if (centre * ratio < 0.5 * rate) {
                    const double upper = magnitudeAt(k, centre * ratio, rate);
                    EXPECT_LT(upper, above) << centre * ratio << " Hz at " << rate;
                    above = upper;
                }
            }
        }
    }
}

TEST(DeEsser, NeverReducesALoudToneFarBelowTheBand) {
    const test::StereoSignal low = test::sine(150.0, 0.9, 44100.0, 0.5);
    for (double thresholdDb : {-40.0, -30.0, -20.0, -10.0, 0.0}) {
        DspState state;
        BlockSettings settings = test::deEsserOnly(44100.0);
        settings.deEssThresholdDb = thresholdDb;
        std::vector<BlockPeaks> blocks;
        const test::StereoSignal out = test::runInBlocks(state, settings, low, 512, &blocks);
        for (const BlockPeaks& b : blocks) EXPECT_EQ(b.deEssMax, 0.0f) << thresholdDb << " dB";
        EXPECT_EQ(test::largestDifference(out, low), 0.0) << thresholdDb << " dB";
    }
}

TEST(DeEsser, ReducesAToneAtTheCentreDownToItsFloor) {
    // A full-scale tone in the band, the threshold at its lowest: some 39 dB over, so K sits at its
    // floor and the reduction at -20 log10(0.05) = 26.02 dB.
    const test::StereoSignal sib = test::sine(6800.0, 0.9, 44100.0, 0.5);
    DspState state;
    BlockSettings settings = test::deEsserOnly(44100.0);
    settings.deEssThresholdDb = -40.0;
    std::vector<BlockPeaks> blocks;
    test::runInBlocks(state, settings, sib, 512, &blocks);
    EXPECT_NEAR(blocks.back().deEssMax, 26.0206, 1e-4);
}

// What the listen output holds is exactly what the normal output lacks.
TEST(DeEsser, NormalPlusListenGivesTheInput) {
    const test::StereoSignal speech = test::speechLikeSignal(48000.0, 3.0, 7u);
    BlockSettings normal = test::deEsserOnly(48000.0);
    normal.deEssThresholdDb = -40.0;
    BlockSettings listen = normal;
    listen.listen = true;
    DspState a, b;
    const test::StereoSignal kept = test::runInBlocks(a, normal, speech, 256);
    const test::StereoSignal removed = test::runInBlocks(b, listen, speech, 256);

    double largestRemoved = 0.0, largestMismatch = 0.0;
    for (std::size_t i = 0; i < speech.left.size(); ++i) {
        largestRemoved = std::max(largestRemoved, std::fabs(static_cast<double>(removed.left[i])));
        largestMismatch = std::max(
            {largestMismatch, std::fabs(static_cast<double>(kept.left[i]) + removed.left[i] - speech.left[i]),
             std::fabs(static_cast<double>(kept.right[i]) + removed.right[i] - speech.right[i])});
    }
    EXPECT_GT(largestRemoved, 0.05);      // the de-esser was at work
    EXPECT_LE(largestMismatch, 2e-7);     // two float roundings of values below 1
}

}  // namespace
}  // namespace lumisere::dsp
