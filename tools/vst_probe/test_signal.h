// The probe's test signal: a few seconds of speech-like stereo material (voiced tone bursts, sibilant
// noise bursts, a hiss floor and a quiet tail). It is generated identically to the last bit on every
// platform: the noise is integer arithmetic, the sine is our own polynomial, and nothing calls the C
// library's maths, whose last bits differ between Linux and Windows. So renders of the Linux and the
// Windows plug-in can be compared sample by sample.
#pragma once

#include <cstdint>
#include <vector>

namespace lumisere::probe {

constexpr double kSignalSampleRate = 44100.0;
constexpr int kSignalFrames = 3 * 44100;

// Uniform noise in [-1, 1) from a 32-bit linear congruential generator (Numerical Recipes constants).
struct NoiseSource {
    std::uint32_t state;

    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(static_cast<std::int32_t>(state)) / 2147483648.0;
    }
};

// sin(x) within 1e-9, bit-identical wherever doubles are IEEE binary64 and nothing is fused into an FMA
// (x86-64 in ISO C++ mode on both platforms).
double portableSin(double x);

// The test signal as interleaved stereo frames (left, right), peak below 0.9.
std::vector<float> makeTestSignal(int frameCount = kSignalFrames);

}  // namespace lumisere::probe
