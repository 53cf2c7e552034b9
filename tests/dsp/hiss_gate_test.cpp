// The hiss gate's gain below its threshold, and its power-form rewrite against the dB form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "dsp/hiss_gate.h"

namespace lumisere::dsp {
namespace {

// The envelope `dbBelow` dB under the threshold, as the gain step sees it (with its 1e-9 offset).
double envelopeBelow(const GateSettings& g, double dbBelow) {
    return g.threshold * std::pow(10.0, -dbBelow / 20.0) - 0.000000001;
}

TEST(GateGain, ExpandsDownToTheFloor) {
    const RateCoefficients rate = rateCoefficients(44100.0);
    // The defaults: threshold -54.8 dB, floor -24 dB, slope 2.5.
    const GateSettings g = gateSettings(-54.8, -24.0, 2.5, rate);
    EXPECT_NEAR(gateGain(g, envelopeBelow(g, 6.0)), 0.1778279410, 1e-9);  // -15 dB
    EXPECT_NEAR(gateGain(g, envelopeBelow(g, 20.0)), 0.0630957344, 1e-9);  // -50 dB, held at -24 dB
    EXPECT_NEAR(-20.0 * std::log10(gateGain(g, 0.0) + 0.000000001), 24.0, 1e-6);
    // At and above the threshold the gain is exactly 1.
    EXPECT_EQ(gateGain(g, g.threshold), 1.0);
    EXPECT_EQ(gateGain(g, 0.5), 1.0);

    // Noise Reduce at 1: floor -40 dB and slope 3.5, so 20 dB under already sits on the floor.
    const GateSettings deep = gateSettings(-54.8, -40.0, 3.5, rate);
    EXPECT_NEAR(gateGain(deep, envelopeBelow(deep, 20.0)), 0.01, 1e-12);
    EXPECT_NEAR(gateGain(deep, envelopeBelow(deep, 10.0)), std::pow(10.0, -35.0 / 20.0), 1e-12);

    // Noise Reduce at 0: a 0 dB floor, so the gate never lowers anything.
    const GateSettings off = gateSettings(-54.8, -0.0, 1.0, rate);
    for (double env : {0.0, 1e-7, 0.001, off.threshold * 0.999}) EXPECT_EQ(gateGain(off, env), 1.0) << env;
}

// The gain as the dB form reads: the level under the threshold in dB, times the slope, raised to the
// floor, back to a gain.
double gainInDecibels(double thresholdDb, double floorDb, double slope, double env) {
    const double threshold = std::pow(10.0, thresholdDb / 20.0);
    if (!(threshold > env)) return 1.0;
    const double below = 20.0 * std::log10((env + 0.000000001) / threshold);
    return std::pow(10.0, std::max(slope * below, floorDb) / 20.0);
}

TEST(GateGain, MatchesTheDecibelFormEverywhereBelowTheThreshold) {
    const RateCoefficients rate = rateCoefficients(48000.0);
    for (double thresholdDb : {-80.0, -54.8, -24.0}) {
        for (double p4 : {0.0, 0.3, 0.6, 1.0}) {
            const double floorDb = -(p4 * 40.0);
            const double slope = (p4 * 2.5 + 2.0) - 1.0;
            const GateSettings g = gateSettings(thresholdDb, floorDb, slope, rate);
            for (double env = 1e-8; env < 1.0; env *= 1.01) {
                const double expected = gainInDecibels(thresholdDb, floorDb, slope, env);
                EXPECT_NEAR(gateGain(g, env), expected, 1e-13 * expected)
                    << "env " << env << " threshold " << thresholdDb << " dB, floor " << floorDb << " dB";
            }
        }
    }
}

}  // namespace
}  // namespace lumisere::dsp
