// The test signals every host of the plug-in here plays, deterministic from their seeds:
//   - speechLikeSignal: a close-miked voice on a hissy channel (voiced syllables on a gliding harmonic
//     series, sibilant bursts of band-limited noise around 5 to 9 kHz, pauses with only the hiss,
//     now and then stretches of digital silence); the tests' and the core benchmark's material;
//   - pinkNoiseWithSibilance: the host benchmark's material;
//   - portableSpeech: the probe's render material, the same to the last bit on every platform;
//   - sine: a tone on both channels.
#pragma once

#include <cstdint>
#include <vector>

namespace lumisere::signals {

struct StereoSignal {
    std::vector<float> left;
    std::vector<float> right;
};

// The pair as interleaved stereo frames (left, right), as hosts of interleaving formats hand them over.
std::vector<float> interleaved(const StereoSignal& signal);

// `seconds` of a sine of `amplitude` at `hz` on both channels, at `rate` Hz.
StereoSignal sine(double hz, double amplitude, double rate, double seconds);

// `seconds` of speech-like material at `sampleRate` Hz. The same seed gives the same samples.
StereoSignal speechLikeSignal(double sampleRate, double seconds, std::uint32_t seed);

// Pink noise on both channels (independent, so the pair is wide) with sibilant bursts (band-limited
// noise around 5 to 9 kHz, 60 to 160 ms, every 0.3 to 0.8 s) on top, scaled so the whole stream sits
// at -18 dBFS RMS. The same seed gives the same samples.
StereoSignal pinkNoiseWithSibilance(double sampleRate, double seconds, std::uint32_t seed);

// The probe's material: a few seconds of voiced tone bursts, sibilant noise bursts, a hiss floor and
// a quiet tail, at kPortableRate. Generated identically to the last bit on every platform: the noise
// is integer arithmetic, the sine is our own polynomial, and nothing calls the C library's maths,
// whose last bits differ between Linux and Windows. So renders of the Linux and the Windows plug-in
// can be compared sample by sample. Peak below 0.9.
constexpr double kPortableRate = 44100.0;
constexpr int kPortableFrames = 3 * 44100;
StereoSignal portableSpeech(int frameCount = kPortableFrames);

// sin(x) within 1e-9, bit-identical wherever doubles are IEEE binary64 and nothing is fused into an FMA
// (x86-64 in ISO C++ mode on both platforms).
double portableSin(double x);

}  // namespace lumisere::signals
