#include "dsp/hiss_gate.h"

#include <cmath>

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

namespace {

// The release slows down with the de-essed level and breathes with the modulator:
// bend = (kBendBase + kBendPerLevel * levelSquare) * (1 - kBendWobble * wobbleDepth), held to
// kBendMin..kBendMax, and the release step is divided by it (a larger bend releases more slowly).
constexpr double kBendBase = 0.65;
constexpr double kBendPerLevel = 0.75;
constexpr double kBendWobble = 0.2;
constexpr double kBendMin = 0.4;
constexpr double kBendMax = 2.0;

}  // namespace

GateSettings gateSettings(double thresholdDb, double floorDb, double slope, const RateCoefficients& rate) {
    GateSettings s;
    s.threshold = std::pow(10.0, thresholdDb / 20.0);  // dB to gain
    s.slope = slope;
    // Formed as the floor's own dB-to-gain step, so a clamped sample gets exactly that gain.
    s.floorGain = std::pow(10.0, floorDb / 20.0);
    // slope * 20 log10(ratio) = floorDb at ratio = 10^(floorDb / (20 slope)); the offset envelope
    // at that ratio. A 0 dB floor puts it at the threshold: everything below is held at unity gain.
    s.floorEnvelope = std::pow(10.0, floorDb / (20.0 * slope)) * s.threshold;
    s.attack = rate.gateAttack;
    s.release = rate.gateRelease;
    return s;
}

void prepareGate(const GateSettings& settings, const GateDetector& detector, const double* wobble, int frames,
                 double* releaseFactor, AirShape& shape) {
    // The release slows down with the de-essed level and breathes with the modulator; the clamp of r
    // to 0.4..2 only guards, the analyser's ranges keep it near 0.64..1.34. A larger r releases more
    // slowly.
    const double releaseStep = 1.0 - settings.release;
    for (int i = 0; i < frames; ++i) {
        const AnalyserReadings r = readingsOf(detector.level[i], detector.slowLevel[i], wobble[i]);
        double bend = (kBendPerLevel * r.levelSquare + kBendBase) * (1.0 - kBendWobble * r.wobbleDepth);
        bend = bend < kBendMax ? bend : kBendMax;
        bend = bend > kBendMin ? bend : kBendMin;
        releaseFactor[i] = 1.0 - releaseStep / bend;
        shape.crestNorm[i] = r.crestNorm;
        shape.levelCubic[i] = r.levelCubic;
        shape.crestWeight[i] = r.crestWeight;
    }
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
