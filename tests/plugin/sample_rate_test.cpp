// The sample-rate rules and everything derived from the rate and the focus setting, seen through the
// instance as the audio core sees it at a block start.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "dsp/dsp_state.h"
#include "formats/vst2/vst2_instance.h"
#include "vst2_test_host.h"

namespace lumisere {
namespace {

using namespace vst2;

struct Fixture : ::testing::Test {
    test::Vst2Effect effect{createInstance};
    Processor& fx = vst2::Vst2Instance::fromEffect(effect)->processor;

    double requestRate(float hz) {
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, hz);
        return fx.sampleRate();
    }
    // What the audio core does first in every processed block.
    void blockStart() {
        float silence[1] = {0.0f};
        float* channels[] = {silence, silence};
        fx.process(channels, channels, 0);
    }
};

TEST_F(Fixture, RequestedRatesAboveEightKilohertzAreTaken) {
    EXPECT_EQ(requestRate(48000.0f), 48000.0);
    EXPECT_EQ(requestRate(8000.5f), 8000.5);
    EXPECT_EQ(requestRate(8001.0f), 8001.0);
    EXPECT_EQ(requestRate(8000.0f), 44100.0);
    EXPECT_EQ(requestRate(0.0f), 44100.0);
    EXPECT_EQ(requestRate(-1.0f), 44100.0);
    EXPECT_EQ(requestRate(std::nanf("")), 44100.0);
    EXPECT_EQ(requestRate(std::numeric_limits<float>::infinity()), 44100.0);
}

TEST_F(Fixture, AnalyserCoefficientsFollowTheRate) {
    const dsp::SignalAnalyser& a = fx.audioState().bandAnalyser;
    EXPECT_NEAR(a.peakDecay, 0.9999848830, 1e-10);
    EXPECT_NEAR(a.attackCoef, 0.9775794253, 1e-10);
    EXPECT_NEAR(a.releaseCoef, 0.9996221425, 1e-10);
    EXPECT_NEAR(a.slowCoef, 0.0002834065, 1e-10);
    EXPECT_NEAR(a.inputCoef, 0.0045248791, 1e-10);
    EXPECT_NEAR(a.laplacianPeakDecay, 0.9999546496, 1e-10);
    EXPECT_NEAR(a.laplacianCoef, 0.0056528962, 1e-10);
    EXPECT_NEAR(a.phaseStep, 0.0008263600, 1e-10);
    EXPECT_EQ(a.decimation, 88);

    const dsp::RateCoefficients& r = fx.audioState().rate;
    EXPECT_NEAR(r.bandAttack, 0.9720532703, 1e-10);
    EXPECT_NEAR(r.bandRelease, 0.9994332672, 1e-10);
    EXPECT_NEAR(r.gateAttack, 0.9775794253, 1e-10);
    EXPECT_NEAR(r.gateRelease, 0.9993523316, 1e-10);
    EXPECT_EQ(r.airSmoothing, 0.85);

    requestRate(48000.0f);
    blockStart();
    for (const dsp::SignalAnalyser* an : {&fx.audioState().bandAnalyser, &fx.audioState().deEssedAnalyser}) {
        EXPECT_EQ(an->decimation, 96);
        EXPECT_NEAR(an->phaseStep, 0.0007592182, 1e-10);
    }
    requestRate(8001.0f);
    blockStart();
    EXPECT_EQ(fx.audioState().deEssedAnalyser.decimation, 16);
    requestRate(96000.0f);
    blockStart();
    EXPECT_EQ(fx.audioState().bandAnalyser.decimation, 192);
    EXPECT_NEAR(fx.audioState().rate.airSmoothing, 0.6218, 1e-4);
    requestRate(192000.0f);
    blockStart();
    EXPECT_NEAR(fx.audioState().rate.airSmoothing, 0.3109, 1e-4);
}

TEST_F(Fixture, FocusBandPassAtTheDefaultSetting) {
    const dsp::Biquad& f = fx.audioState().focusFilterL;
    EXPECT_NEAR(f.b0, 0.1577701437, 1e-10);
    EXPECT_EQ(f.b1, 0.0);
    EXPECT_EQ(f.b2, -f.b0);
    EXPECT_NEAR(f.a1, -0.9538412311, 1e-10);
    EXPECT_NEAR(f.a2, 0.6844597126, 1e-10);
    EXPECT_EQ(fx.audioState().tunedFocusHz, 6800.000041723251);
}

TEST_F(Fixture, OnlyTheFocusParameterRedesignsTheBandPassAndStatesSurvive) {
    // Give the filters and envelopes some memory to watch.
    fx.audioState().focusFilterL.x1 = 0.1;
    fx.audioState().focusFilterL.y2 = -0.2;
    fx.audioState().focusFilterR.y1 = 0.3;
    fx.audioState().bandEnvL = 0.4;
    fx.audioState().gateEnv = 0.5;
    fx.audioState().bandAnalyser.level = 0.6;
    fx.audioState().bandAnalyser.decimationCounter = 7;
    const dsp::Biquad before = fx.audioState().focusFilterL;

    for (int index : {0, 2, 3, 4, 5, 6, 7}) {
        effect->setParameter(effect, index, 0.9f);
        blockStart();
        EXPECT_EQ(fx.audioState().focusFilterL.b0, before.b0) << "index " << index;
        EXPECT_EQ(fx.audioState().focusFilterL.a1, before.a1) << "index " << index;
    }

    effect->setParameter(effect, kParamFocusFreq, 1.0f);
    blockStart();
    const dsp::FocusCoefficients expected = dsp::designFocusBandPass(11000.0, 44100.0);
    for (const dsp::Biquad* f : {&fx.audioState().focusFilterL, &fx.audioState().focusFilterR}) {
        EXPECT_EQ(f->b0, expected.b0);
        EXPECT_EQ(f->a1, expected.a1);
        EXPECT_EQ(f->a2, expected.a2);
    }
    requestRate(48000.0f);
    blockStart();
    EXPECT_EQ(fx.audioState().focusFilterL.b0, dsp::designFocusBandPass(11000.0, 48000.0).b0);

    EXPECT_EQ(fx.audioState().focusFilterL.x1, 0.1);
    EXPECT_EQ(fx.audioState().focusFilterL.y2, -0.2);
    EXPECT_EQ(fx.audioState().focusFilterR.y1, 0.3);
    EXPECT_EQ(fx.audioState().bandEnvL, 0.4);
    EXPECT_EQ(fx.audioState().gateEnv, 0.5);
    EXPECT_EQ(fx.audioState().bandAnalyser.level, 0.6);
    EXPECT_EQ(fx.audioState().bandAnalyser.decimationCounter, 7);
}

// Largest pole magnitude of 1 + a1 z^-1 + a2 z^-2.
double poleRadius(const dsp::FocusCoefficients& k) {
    const std::complex<double> disc = std::sqrt(std::complex<double>(k.a1 * k.a1 - 4.0 * k.a2, 0.0));
    return std::max(std::abs((-k.a1 + disc) / 2.0), std::abs((-k.a1 - disc) / 2.0));
}

TEST(FocusDesign, CentreStaysBelowHalfTheRateAtLowRates) {
    // From 22050 Hz up every focus setting is designed as asked.
    for (double rate : {22050.0, 44100.0, 96000.0}) {
        EXPECT_EQ(dsp::focusCentreHz(11000.0, rate), 11000.0);
    }
    // Below it the centre is held under half the rate and the filter stays stable.
    for (double rate : {8000.5, 12000.0, 16000.0, 22000.0, 22049.0}) {
        for (double f = 4000.0; f <= 11000.0; f += 250.0) {
            const double centre = dsp::focusCentreHz(f, rate);
            EXPECT_LT(centre, rate / 2.0);
            EXPECT_LE(centre, f);
            EXPECT_LT(poleRadius(dsp::designFocusBandPass(f, rate)), 1.0) << rate << " Hz, focus " << f;
        }
    }
    // A setting already below the limit is untouched.
    EXPECT_EQ(dsp::focusCentreHz(4000.0, 16000.0), 4000.0);
}

}  // namespace
}  // namespace lumisere
