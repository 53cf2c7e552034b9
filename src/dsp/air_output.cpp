#include "dsp/air_output.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace lumisere::dsp {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSinPiSeriesBelow = 1048576.0;        // 2^20: from here on the library sine takes over
constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 * 2^52: adding and taking it away rounds to an integer

// Taylor coefficients of sin(pi r) in r: (-1)^k pi^(2k+1) / (2k+1)!, k = 0..10. For |r| <= 1/2 the
// first term left out is below 2e-18.
constexpr std::array<double, 11> sinPiCoefficients() {
    std::array<double, 11> c{};
    double term = kPi;
    for (std::size_t k = 0; k < c.size(); ++k) {
        c[k] = (k % 2 == 0) ? term : -term;
        term = term * kPi * kPi / static_cast<double>((2 * k + 2) * (2 * k + 3));
    }
    return c;
}
constexpr std::array<double, 11> kSinPi = sinPiCoefficients();

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
    const double a0 = kSinPi[0] + kSinPi[1] * q;
    const double a1 = kSinPi[2] + kSinPi[3] * q;
    const double a2 = kSinPi[4] + kSinPi[5] * q;
    const double a3 = kSinPi[6] + kSinPi[7] * q;
    const double a4 = kSinPi[8] + kSinPi[9] * q;
    const double p = ((a0 + a1 * q2) + (a2 + a3 * q2) * q4) + (a4 + kSinPi[10] * q2) * q8;

    double s = p * r;
    std::uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    bits ^= oddSign;
    std::memcpy(&s, &bits, sizeof s);
    return s;
}

// The largest of start and |x[i]|; two running maxima so one compare need not wait for the last.
double largestMagnitude(const float* x, int frames, double start) {
    float even = static_cast<float>(start);
    float odd = even;
    int i = 0;
    for (; i + 1 < frames; i += 2) {
        even = std::max(even, std::fabs(x[i]));
        odd = std::max(odd, std::fabs(x[i + 1]));
    }
    if (i < frames) even = std::max(even, std::fabs(x[i]));
    return std::max(even, odd);
}

// The air band over one chunk: o in, o with the air added in wet. The arrays never overlap.
void addAir(DspState& state, const AirOutputSettings& settings, const double* __restrict oL,
            const double* __restrict oR, const AirShape& shape, int frames, double* __restrict wetL,
            double* __restrict wetR) {
    // First the two one-pole splits, the only recurrences.
    const double a = settings.smoothing;
    double lowL = state.airLowL;
    double lowR = state.airLowR;
    double hL[kChunkFrames], hR[kChunkFrames];
    bool beyondSeries = false;
    for (int i = 0; i < frames; ++i) {
        lowL = lowL + (oL[i] - lowL) * a;
        lowR = lowR + (oR[i] - lowR) * a;
        hL[i] = oL[i] - lowL;
        hR[i] = oR[i] - lowR;
        beyondSeries |= !(17.2 * std::fabs(hL[i]) < kSinPiSeriesBelow) | !(17.2 * std::fabs(hR[i]) < kSinPiSeriesBelow);
    }
    state.airLowL = lowL;
    state.airLowR = lowR;

    // Then the shaper, each frame on its own, so the compiler takes several frames at once.
    const double air = settings.air;
    const double depth = settings.shaperDepth;
    for (int i = 0; i < frames; ++i) {
        const double lin = (0.3 * shape.crestNorm[i] + 0.35 + 0.15 * shape.levelCubic[i]) * air;
        const double shp = 0.35 * shape.crestWeight[i] + 0.2;
        const double sL = sinPiSeries(17.2 * std::fabs(hL[i]));
        const double sR = sinPiSeries(17.2 * std::fabs(hR[i]));
        wetL[i] = oL[i] + (sL * hL[i] * shp * depth + hL[i] * lin);
        wetR[i] = oR[i] + (sR * hR[i] * shp * depth + hR[i] * lin);
    }

    // Only a wildly out-of-range sample gets here, beyond what the series covers.
    if (beyondSeries) {
        const auto redo = [air, depth, &shape](int i, double o, double h, double& wet) {
            const double t = 17.2 * std::fabs(h);
            if (t < kSinPiSeriesBelow) return;
            const double lin = (0.3 * shape.crestNorm[i] + 0.35 + 0.15 * shape.levelCubic[i]) * air;
            const double shp = 0.35 * shape.crestWeight[i] + 0.2;
            wet = o + (std::sin(t * kPi) * h * shp * depth + h * lin);
        };
        for (int i = 0; i < frames; ++i) {
            redo(i, oL[i], hL[i], wetL[i]);
            redo(i, oR[i], hR[i], wetR[i]);
        }
    }
}

}  // namespace

AirOutputSettings airOutputSettings(double air, double outputTrimDb, double mix, const RateCoefficients& rate) {
    AirOutputSettings s;
    s.air = air;
    s.airOn = air > 0.01;
    s.smoothing = rate.airSmoothing;
    s.shaperDepth = air * 0.4;
    s.outputGain = std::pow(10.0, outputTrimDb / 20.0);
    s.mix = mix;
    s.dry = 1.0 - mix;
    return s;
}

double sinPiTimes(double t) {
    if (!(t < kSinPiSeriesBelow)) return std::sin(t * kPi);
    return sinPiSeries(t);
}

void runAirOutput(DspState& state, const AirOutputSettings& settings, const double* oL, const double* oR,
                  const AirShape& shape, const double* xL, const double* xR, int frames, float* outL, float* outR,
                  double& peakL, double& peakR) {
    double wetL[kChunkFrames], wetR[kChunkFrames];
    if (settings.airOn) {
        addAir(state, settings, oL, oR, shape, frames, wetL, wetR);
    } else {
        // The band's low-pass states keep their values until it runs again.
        std::copy(oL, oL + frames, wetL);
        std::copy(oR, oR + frames, wetR);
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

}  // namespace lumisere::dsp
