// The signal analyser: its figures from the creation state, its input sanitising, the decimated
// fourth difference, the modulator's wrap and phase, and a long run against the plain reading.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/signal_analyser.h"
#include "reference_chain.h"

namespace lumisere::dsp {
namespace {

SignalAnalyser configuredAt(double rate) {
    SignalAnalyser a;
    a.configure(rate);
    return a;
}

TEST(SignalAnalyser, FirstSamplesFromCreation) {
    // A constant 0.5: the first call sets the peak, n = 1, and the level rises by one attack step.
    SignalAnalyser a = configuredAt(44100.0);
    a.update(0.5);
    EXPECT_EQ(a.peak, 0.5);
    EXPECT_DOUBLE_EQ(a.level, 1.0 - a.attackCoef);
    EXPECT_NEAR(a.level, 0.0224205747, 1e-10);

    // 0.0005 against the 0.001 floor of the peak reads as n = 0.5.
    SignalAnalyser b = configuredAt(44100.0);
    b.update(0.0005);
    EXPECT_EQ(b.peak, 0.001);
    EXPECT_DOUBLE_EQ(b.level, (1.0 - b.attackCoef) * 0.5);

    // Silence leaves the crest at 0, so the weight is exactly 1; the modulator starts at
    // sin(pi^2/12 + one step).
    SignalAnalyser c = configuredAt(44100.0);
    c.update(0.0);
    EXPECT_EQ(c.crestWeight, 1.0);
    EXPECT_NEAR(c.wobble, std::sin(0.8224670334241132 + c.phaseStep), 1e-15);
}

TEST(SignalAnalyser, BadDetectorValuesReadAsSilence) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {2000000.0, 1000000.0, -1.0, -inf, inf, std::nan("")}) {
        SignalAnalyser a = configuredAt(44100.0);
        a.update(0.5);
        const double peakBefore = a.peak;
        const double levelBefore = a.level;
        a.update(bad);
        // n = 0: the peak only decays and the level releases toward 0.
        EXPECT_EQ(a.peak, peakBefore * a.peakDecay) << bad;
        EXPECT_DOUBLE_EQ(a.level, levelBefore * a.releaseCoef) << bad;
        EXPECT_TRUE(std::isfinite(a.crest) && std::isfinite(a.wobbleDepth) && std::isfinite(a.laplacian)) << bad;
    }
}

TEST(SignalAnalyser, FourthDifferenceStepsEveryDecimation) {
    SignalAnalyser a = configuredAt(44100.0);
    ASSERT_EQ(a.decimation, 88);
    for (int call = 1; call < 88; ++call) a.update(0.5);
    EXPECT_EQ(a.history[0], 0.0);
    EXPECT_EQ(a.decimationCounter, 87);
    a.update(0.5);
    // The first step sees an all-zero history, so d is smoothInput itself.
    EXPECT_EQ(a.decimationCounter, 0);
    EXPECT_EQ(a.history[0], a.smoothInput);
    EXPECT_EQ(a.laplacianPeak, std::max(0.02, a.smoothInput));
    const double first = a.history[0];
    for (int call = 0; call < 87; ++call) a.update(0.5);
    EXPECT_EQ(a.history[0], first);
    a.update(0.5);
    EXPECT_EQ(a.history[1], first);

    // At 500 Hz the 2 ms decimation is below one sample and rounds up to every call.
    SignalAnalyser every = configuredAt(400.0);
    ASSERT_EQ(every.decimation, 1);
    for (int call = 0; call < 3; ++call) {
        every.update(0.3);
        EXPECT_EQ(every.history[0], every.smoothInput);
    }
}

TEST(SignalAnalyser, ModulatorWrapsJustAboveZero) {
    SignalAnalyser a = configuredAt(44100.0);
    a.phase = 6.283185307179586 - a.phaseStep / 2.0;
    a.modulatorLeft = 0;  // the phase was set by hand
    a.update(0.0);
    EXPECT_GT(a.phase, 0.0);
    EXPECT_NEAR(a.phase, a.phaseStep / 2.0, 1e-12);
    // Near phase 0 the wobble is sin(pi^2/12), about 0.7328.
    EXPECT_NEAR(a.wobble, 0.7328, 1e-3);
}

TEST(SignalAnalyser, CrestWeightSpansOneThirdToOne) {
    EXPECT_EQ(readingsOf(0.0, 0.0, 0.0).crestWeight, 1.0);
    EXPECT_EQ(readingsOf(1.0, 0.0, 0.0).crestNorm, 1.0);
    EXPECT_EQ(readingsOf(1.0, 0.0, 0.0).crestWeight, 1.0 / 3.0);
}

// A minute of varied detector input, with a rate change half-way: every value the readers take stays
// within 1e-12 of the plain reading, whose modulator takes a sine every sample.
TEST(SignalAnalyser, TracksThePlainReadingOverAMinute) {
    SignalAnalyser a = configuredAt(44100.0);
    test::ReferenceAnalyser plain;
    plain.configure(44100.0);
    std::uint32_t noise = 12345u;
    double largest = 0.0;
    for (int i = 0; i < 60 * 44100; ++i) {
        if (i == 30 * 44100) {
            a.configure(96000.0);
            plain.configure(96000.0);
        }
        noise = noise * 1664525u + 1013904223u;
        const double burst = (i / 4410) % 3 == 0 ? 0.5 : 0.01;  // 100 ms loud, 200 ms quiet
        const double x = burst * static_cast<double>(noise >> 8) / 16777216.0;
        a.update(x);
        plain.update(x);
        for (auto [mine, theirs] : {std::pair{a.level, plain.level}, {a.levelCubic, plain.levelCubic},
                                    {a.levelSquare, plain.levelSquare}, {a.levelPow15, plain.levelPow15},
                                    {a.laplacian, plain.laplacian}, {a.crestNorm, plain.crestNorm},
                                    {a.crestWeight, plain.crestWeight}, {a.wobble, plain.wobble},
                                    {a.wobbleDepth, plain.wobbleDepth}, {a.phase, plain.phase}}) {
            largest = std::max(largest, std::fabs(mine - theirs));
        }
    }
    EXPECT_LE(largest, 1e-12);
}

}  // namespace
}  // namespace lumisere::dsp
