#include "dsp/air_output.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

namespace {

constexpr double kPi = 3.141592653589793;

// The air band's shape. The high part h is what the one-pole split leaves above its corner.
constexpr double kShaperCycles = 17.2;         // half-cycles of the shaper's sine per unit of |h|
constexpr double kLinearBase = 0.35;           // linear share of h at zero crest and level, times the amount
constexpr double kLinearPerCrest = 0.3;        // added per unit of normalised crest
constexpr double kLinearPerLevel = 0.15;       // added per unit of the cubic level reading
constexpr double kShaperBase = 0.2;            // the shaper's weight with the crest weight at 0
constexpr double kShaperPerCrestWeight = 0.35; // added per unit of crest weight (1 for a steady signal)
constexpr double kShaperDepthPerAmount = 0.4;  // the shaper's depth is this share of the air amount
constexpr double kAirOnAbove = 0.01;           // the band runs only for amounts above this
constexpr double kSinPiSeriesBelow = 1048576.0;        // 2^20: from here on the library sine takes over
constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 * 2^52: adding and taking it away rounds to an integer

// Taylor coefficients of sin(pi r) in r: (-1)^k pi^(2k+1) / (2k+1)!, k = 0..10. For |r| <= 1/2 the
// first term left out is below 2e-18.
struct SinPiTerms {
    double c[11];
};
constexpr SinPiTerms sinPiCoefficients() {
    SinPiTerms t{};
    double term = kPi;
    for (int k = 0; k < 11; ++k) {
        t.c[k] = (k % 2 == 0) ? term : -term;
        term = term * kPi * kPi / static_cast<double>((2 * k + 2) * (2 * k + 3));
    }
    return t;
}
constexpr SinPiTerms kSinPi = sinPiCoefficients();

// sin(pi t) for 0 <= t < 2^20, written so the compiler can take several at once: t = k + r with k
// the nearest integer (exact, by the rounding shift) and |r| <= 1/2, sin(pi t) = (-1)^k sin(pi r),
// and the sign of k's parity is read off the last bit of the shifted value. The series is summed in
// Estrin's order, a short dependency chain instead of eleven steps in a row.
inline double sinPiSeries(double t) {
    const double shifted = t + kRoundingShift;
    const double r = t - (shifted - kRoundingShift);
    std::uint64_t parity;
    std::memcpy(&parity, &shifted, sizeof parity);
    const std::uint64_t oddSign = parity << 63;

    const double q = r * r;
    const double q2 = q * q;
    const double q4 = q2 * q2;
    const double q8 = q4 * q4;
    const double a0 = kSinPi.c[0] + kSinPi.c[1] * q;
    const double a1 = kSinPi.c[2] + kSinPi.c[3] * q;
    const double a2 = kSinPi.c[4] + kSinPi.c[5] * q;
    const double a3 = kSinPi.c[6] + kSinPi.c[7] * q;
    const double a4 = kSinPi.c[8] + kSinPi.c[9] * q;
    const double p = ((a0 + a1 * q2) + (a2 + a3 * q2) * q4) + (a4 + kSinPi.c[10] * q2) * q8;

    double s = p * r;
    std::uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    bits ^= oddSign;
    std::memcpy(&s, &bits, sizeof s);
    return s;
}

// The largest of start (0 or more) and |x[i]|, for outputs that are never NaN. The bits of a float
// magnitude, read as an unsigned integer, grow with it, so the largest is sought among integers, which
// the compiler takes several at a time.
double largestMagnitude(const float* x, int frames, double start) {
    const float first = static_cast<float>(start);
    std::uint32_t largest;
    std::memcpy(&largest, &first, sizeof largest);
    for (int i = 0; i < frames; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &x[i], sizeof bits);
        bits &= 0x7fffffffu;
        largest = largest < bits ? bits : largest;
    }
    float result;
    std::memcpy(&result, &largest, sizeof result);
    return result;
}

// How much of the high part goes back in, frame by frame from the de-essed analyser's readings: the
// linear share grows with the signal's crest and level, the shaper's weight falls as the crest grows.
struct AirWeights {
    double linear;  // share of h added as it is
    double shaper;  // weight of the sine-shaped h
};

inline AirWeights airWeights(const AirShape& shape, int i, double air) {
    AirWeights w;
    w.linear = (kLinearPerCrest * shape.crestNorm[i] + kLinearBase + kLinearPerLevel * shape.levelCubic[i]) * air;
    w.shaper = kShaperPerCrestWeight * shape.crestWeight[i] + kShaperBase;
    return w;
}

// The air band of one sample: the gated sample o plus its high part h, once linearly and once through
// the sine shaper, where sine = sin(pi * kShaperCycles * |h|).
inline double withAir(double o, double h, double sine, const AirWeights& w, double depth) {
    return o + (sine * h * w.shaper * depth + h * w.linear);
}

// The shaper over a chunk whose high parts h are known: each frame on its own, so the compiler takes
// several frames at once.
void shapeAirBand(const AirOutputSettings& settings, const double* __restrict oL, const double* __restrict oR,
                  const double* __restrict hL, const double* __restrict hR, const AirShape& shape, int frames,
                  double* __restrict wetL, double* __restrict wetR) {
    const double air = settings.air;
    const double depth = settings.shaperDepth;
    for (int i = 0; i < frames; ++i) {
        const AirWeights w = airWeights(shape, i, air);
        wetL[i] = withAir(oL[i], hL[i], sinPiSeries(kShaperCycles * std::fabs(hL[i])), w, depth);
        wetR[i] = withAir(oR[i], hR[i], sinPiSeries(kShaperCycles * std::fabs(hR[i])), w, depth);
    }
    int beyondSeries = 0;
    for (int i = 0; i < frames; ++i) {
        beyondSeries |= !(kShaperCycles * std::fabs(hL[i]) < kSinPiSeriesBelow) |
                        !(kShaperCycles * std::fabs(hR[i]) < kSinPiSeriesBelow);
    }

    // Only a wildly out-of-range sample gets here, beyond what the series covers: the same sample with
    // the library sine.
    if (beyondSeries) {
        const auto redo = [air, depth, &shape](int i, double o, double h, double& wet) {
            const double t = kShaperCycles * std::fabs(h);
            if (t < kSinPiSeriesBelow) return;
            wet = withAir(o, h, std::sin(t * kPi), airWeights(shape, i, air), depth);
        };
        for (int i = 0; i < frames; ++i) {
            redo(i, oL[i], hL[i], wetL[i]);
            redo(i, oR[i], hR[i], wetR[i]);
        }
    }
}

}  // namespace

void addAirBand(DspState& state, const AirOutputSettings& settings, const double* oL, const double* oR,
                const AirShape& shape, int frames, double* wetL, double* wetR) {
    Lanes low = {state.airLowL, state.airLowR};
    const Lanes smoothing = {settings.smoothing, settings.smoothing};
    double hL[kChunkFrames], hR[kChunkFrames];
    for (int i = 0; i < frames; ++i) {
        const Lanes h = splitAirFrame(low, Lanes{oL[i], oR[i]}, smoothing);
        hL[i] = h[0];
        hR[i] = h[1];
    }
    state.airLowL = low[0];
    state.airLowR = low[1];
    shapeAirBand(settings, oL, oR, hL, hR, shape, frames, wetL, wetR);
}

AirOutputSettings airOutputSettings(double air, double outputTrimDb, double mix, const RateCoefficients& rate) {
    AirOutputSettings s;
    s.air = air;
    s.airOn = air > kAirOnAbove;
    s.smoothing = rate.airSmoothing;
    s.shaperDepth = air * kShaperDepthPerAmount;
    s.outputGain = std::pow(10.0, outputTrimDb / 20.0);  // dB to gain
    s.mix = mix;
    s.dry = 1.0 - mix;
    return s;
}

double sinPiTimes(double t) {
    if (!(t < kSinPiSeriesBelow)) return std::sin(t * kPi);
    return sinPiSeries(t);
}

void runAirOutput(const AirOutputSettings& settings, const double* oL, const double* oR, const double* hL,
                  const double* hR, const AirShape& shape, const double* xL, const double* xR, int frames,
                  float* outL, float* outR, double& peakL, double& peakR) {
    double wetL[kChunkFrames], wetR[kChunkFrames];
    if (settings.airOn) {
        shapeAirBand(settings, oL, oR, hL, hR, shape, frames, wetL, wetR);
    } else {
        for (int i = 0; i < frames; ++i) {
            wetL[i] = oL[i];
            wetR[i] = oR[i];
        }
    }
    const double gain = settings.outputGain;
    const double mix = settings.mix;
    const double dry = settings.dry;
    // One channel at a time, so no write can be taken for a change to the other's input.
    for (int i = 0; i < frames; ++i) outL[i] = static_cast<float>(clipOutput(wetL[i] * gain * mix + dry * xL[i]));
    for (int i = 0; i < frames; ++i) outR[i] = static_cast<float>(clipOutput(wetR[i] * gain * mix + dry * xR[i]));
    // The peaks from the written samples: the largest |narrowed sample| is the narrowed largest
    // |clipped value|, since narrowing keeps the order.
    peakL = largestMagnitude(outL, frames, peakL);
    peakR = largestMagnitude(outR, frames, peakR);
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
