#include "speech_like_signal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace lumisere::bench {

namespace {

constexpr double kPi = 3.141592653589793;

// xorshift32: the same numbers on every platform, unlike the standard distributions.
struct Noise {
    std::uint32_t s;
    std::uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    double uniform() { return static_cast<double>(next()) / 4294967296.0; }  // 0..1
    double bipolar() { return 2.0 * uniform() - 1.0; }                       // -1..1
    double between(double lo, double hi) { return lo + (hi - lo) * uniform(); }
};

// A constant-peak band-pass for shaping the sibilant noise.
struct BandPass {
    double b0 = 0.0, a1 = 0.0, a2 = 0.0, x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    void design(double centreHz, double q, double rate) {
        const double w = 2.0 * kPi * centreHz / rate;
        const double alpha = std::sin(w) / (2.0 * q);
        b0 = alpha / (1.0 + alpha);
        a1 = -2.0 * std::cos(w) / (1.0 + alpha);
        a2 = (1.0 - alpha) / (1.0 + alpha);
    }
    double step(double x) {
        const double y = b0 * x - b0 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Raised-cosine fade in and out over the first and last `edge` of a segment (position 0..1).
double segmentEnvelope(double position, double edge) {
    if (position < edge) return 0.5 - 0.5 * std::cos(kPi * position / edge);
    if (position > 1.0 - edge) return 0.5 - 0.5 * std::cos(kPi * (1.0 - position) / edge);
    return 1.0;
}

enum class Segment { voiced, sibilant, pause, digitalSilence };

// Paul Kellet's three-pole approximation of a -3 dB/octave slope on white noise: within about 0.5 dB
// of pink from 40 Hz up at 44.1 and 48 kHz, which is all a level detector can tell.
struct PinkFilter {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0;
    double step(double white) {
        b0 = 0.99765 * b0 + white * 0.0990460;
        b1 = 0.96300 * b1 + white * 0.2965164;
        b2 = 0.57000 * b2 + white * 1.0526913;
        return b0 + b1 + b2 + white * 0.1848;
    }
};

constexpr double kBenchLevelDbfs = -18.0;   // RMS of the whole host-benchmark stream
constexpr double kBurstOverPink = 2.0;      // a burst's amplitude over the pink floor's (about +6 dB)

}  // namespace

StereoSignal speechLikeSignal(double sampleRate, double seconds, std::uint32_t seed) {
    const std::size_t total = static_cast<std::size_t>(seconds * sampleRate);
    StereoSignal out;
    out.left.assign(total, 0.0f);
    out.right.assign(total, 0.0f);

    Noise noise{seed == 0 ? 0x9e3779b9u : seed};
    const double hissLevel = 0.0008;  // about -62 dBFS
    BandPass sibilanceL, sibilanceR;
    double f0Phase = 0.0;

    std::size_t at = 0;
    while (at < total) {
        const double draw = noise.uniform();
        const Segment kind = draw < 0.45 ? Segment::voiced
                             : draw < 0.75 ? Segment::sibilant
                             : draw < 0.93 ? Segment::pause
                                           : Segment::digitalSilence;
        double lengthSeconds = 0.0;
        switch (kind) {
            case Segment::voiced: lengthSeconds = noise.between(0.15, 0.35); break;
            case Segment::sibilant: lengthSeconds = noise.between(0.06, 0.18); break;
            case Segment::pause: lengthSeconds = noise.between(0.1, 0.3); break;
            case Segment::digitalSilence: lengthSeconds = noise.between(0.1, 0.25); break;
        }
        const std::size_t length = std::max<std::size_t>(1, static_cast<std::size_t>(lengthSeconds * sampleRate));
        const std::size_t end = std::min(total, at + length);

        // Per-segment character.
        const double amplitude = kind == Segment::voiced ? noise.between(0.2, 0.75) : noise.between(0.05, 0.35);
        const double f0Start = noise.between(100.0, 220.0);
        const double f0End = f0Start * noise.between(0.8, 1.25);
        const double pan = noise.between(0.7, 1.0);
        sibilanceL.design(noise.between(5000.0, 9000.0), 1.5, sampleRate);
        sibilanceR = sibilanceL;

        for (std::size_t i = at; i < end; ++i) {
            const double position = static_cast<double>(i - at) / static_cast<double>(length);
            double l = 0.0;
            double r = 0.0;
            if (kind == Segment::voiced) {
                const double f0 = f0Start + (f0End - f0Start) * position;
                f0Phase += 2.0 * kPi * f0 / sampleRate;
                if (f0Phase > 2.0 * kPi) f0Phase -= 2.0 * kPi;
                double v = 0.0;
                // Harmonics up to 4 kHz, falling off, with a formant lift around 500 Hz and 2.5 kHz.
                for (int h = 1; h * f0 < 4000.0 && h <= 24; ++h) {
                    const double fh = h * f0;
                    const double formant = 1.0 + 2.0 * std::exp(-std::pow((fh - 500.0) / 250.0, 2.0)) +
                                           std::exp(-std::pow((fh - 2500.0) / 400.0, 2.0));
                    v += std::sin(h * f0Phase) * formant / h;
                }
                const double env = segmentEnvelope(position, 0.25) * amplitude * 0.35;
                l = v * env;
                r = v * env * pan;
            } else if (kind == Segment::sibilant) {
                const double env = segmentEnvelope(position, 0.3) * amplitude * 4.0;
                l = sibilanceL.step(noise.bipolar()) * env;
                r = sibilanceR.step(noise.bipolar()) * env * pan;
            }
            if (kind != Segment::digitalSilence) {
                l += hissLevel * noise.bipolar();
                r += hissLevel * noise.bipolar();
            }
            out.left[i] = static_cast<float>(l);
            out.right[i] = static_cast<float>(r);
        }
        at = end;
    }
    return out;
}

StereoSignal pinkNoiseWithSibilance(double sampleRate, double seconds, std::uint32_t seed) {
    const std::size_t total = static_cast<std::size_t>(seconds * sampleRate);
    std::vector<double> left(total), right(total);
    Noise noise{seed == 0 ? 0x9e3779b9u : seed};
    PinkFilter pinkL, pinkR;
    BandPass burstL, burstR;
    std::size_t burstStart = 0, burstLength = 0;
    std::size_t nextBurst = static_cast<std::size_t>(noise.between(0.1, 0.4) * sampleRate);
    double sumOfSquares = 0.0;
    for (std::size_t i = 0; i < total; ++i) {
        double l = pinkL.step(noise.bipolar());
        double r = pinkR.step(noise.bipolar());
        if (i == nextBurst) {
            burstStart = i;
            burstLength = std::max<std::size_t>(1, static_cast<std::size_t>(noise.between(0.06, 0.16) * sampleRate));
            nextBurst = i + burstLength + static_cast<std::size_t>(noise.between(0.3, 0.8) * sampleRate);
            burstL.design(noise.between(5000.0, 9000.0), 1.5, sampleRate);
            burstR = burstL;
        }
        if (i >= burstStart && i < burstStart + burstLength) {
            const double position = static_cast<double>(i - burstStart) / static_cast<double>(burstLength);
            const double env = segmentEnvelope(position, 0.3) * kBurstOverPink * 4.0;
            l += burstL.step(noise.bipolar()) * env;
            r += burstR.step(noise.bipolar()) * env;
        }
        left[i] = l;
        right[i] = r;
        sumOfSquares += l * l + r * r;
    }
    const double rms = std::sqrt(sumOfSquares / (2.0 * static_cast<double>(std::max<std::size_t>(total, 1))));
    const double scale = rms > 0.0 ? std::pow(10.0, kBenchLevelDbfs / 20.0) / rms : 0.0;
    StereoSignal out;
    out.left.resize(total);
    out.right.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        out.left[i] = static_cast<float>(left[i] * scale);
        out.right[i] = static_cast<float>(right[i] * scale);
    }
    return out;
}

}  // namespace lumisere::bench
