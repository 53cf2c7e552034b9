// Deterministic test material that behaves like a close-miked voice on a hissy channel: voiced
// syllables (a gliding harmonic series under a syllable envelope), sibilant bursts (band-limited noise
// around 5 to 9 kHz), pauses with only the hiss, and now and then stretches of digital silence.
#pragma once

#include <cstdint>
#include <vector>

namespace lumisere::bench {

struct StereoSignal {
    std::vector<float> left;
    std::vector<float> right;
};

// `seconds` of material at `sampleRate` Hz. The same seed gives the same samples.
StereoSignal speechLikeSignal(double sampleRate, double seconds, std::uint32_t seed);

// The host benchmark's material: pink noise on both channels (independent, so the pair is wide) with
// sibilant bursts (band-limited noise around 5 to 9 kHz, 60 to 160 ms, every 0.3 to 0.8 s) on top,
// scaled so the whole stream sits at -18 dBFS RMS. The same seed gives the same samples.
StereoSignal pinkNoiseWithSibilance(double sampleRate, double seconds, std::uint32_t seed);

}  // namespace lumisere::bench
