#include "test_signals.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace lumisere::signals {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

// Band-pass biquad (constant 0 dB peak gain) from the sine and cosine of its centre's angle, so the
// portable material designs it with its own sine.
struct BandPass {
    double b0 = 0.0, a1 = 0.0, a2 = 0.0, x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;

    BandPass() = default;
    BandPass(double sinW, double cosW, double q) {
        const double alpha = sinW / (2.0 * q);
        b0 = alpha / (1.0 + alpha);
        a1 = -2.0 * cosW / (1.0 + alpha);
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

BandPass bandPass(double centreHz, double q, double rate) {
    const double w = kTwoPi * centreHz / rate;
    return BandPass(std::sin(w), std::cos(w), q);
}

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

// Uniform noise in [-1, 1) from a 32-bit linear congruential generator (Numerical Recipes constants).
struct PortableNoise {
    std::uint32_t state;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(static_cast<std::int32_t>(state)) / 2147483648.0;
    }
};

// Raised-cosine fade in and out over the first and last `edge` of a segment (position 0..1).
double segmentEnvelope(double position, double edge) {
    if (position < edge) return 0.5 - 0.5 * std::cos(kPi * position / edge);
    if (position > 1.0 - edge) return 0.5 - 0.5 * std::cos(kPi * (1.0 - position) / edge);
    return 1.0;
}

double portableCos(double x) { return portableSin(x + 0.5 * kPi); }

// A raised-cosine envelope over a segment: 0 at both ends, 1 in the middle. position in [0, 1].
double portableHann(double position) { return 0.5 - 0.5 * portableCos(kTwoPi * position); }

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

StereoSignal sine(double hz, double amplitude, double rate, double seconds) {
    StereoSignal s;
    const std::size_t n = static_cast<std::size_t>(seconds * rate);
    s.left.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        s.left[i] = static_cast<float>(amplitude * std::sin(6.283185307179586 * hz * static_cast<double>(i) / rate));
    }
    s.right = s.left;
    return s;
}

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
        sibilanceL = bandPass(noise.between(5000.0, 9000.0), 1.5, sampleRate);
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
            burstL = bandPass(noise.between(5000.0, 9000.0), 1.5, sampleRate);
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

double portableSin(double x) {
    // Reduce to [-pi, pi], then fold to [-pi/2, pi/2] where the Taylor series converges fast.
    double r = x - kTwoPi * static_cast<double>(static_cast<long long>(x / kTwoPi + (x >= 0 ? 0.5 : -0.5)));
    if (r > 0.5 * kPi) r = kPi - r;
    if (r < -0.5 * kPi) r = -kPi - r;
    const double r2 = r * r;
    // Horner form of r - r^3/3! + r^5/5! - ... - r^15/15!
    double sum = 1.0;
    for (int k = 15; k >= 3; k -= 2) sum = 1.0 - sum * r2 / static_cast<double>(k * (k - 1));
    return r * sum;
}

StereoSignal portableSpeech(int frameCount) {
    // Syllables of 300 ms: 180 ms voiced, 60 ms sibilant, 60 ms pause; the last 500 ms only hiss.
    const int syllable = static_cast<int>(0.300 * kPortableRate);
    const int voicedEnd = static_cast<int>(0.180 * kPortableRate);
    const int sibilantEnd = static_cast<int>(0.240 * kPortableRate);
    const int tailStart = frameCount - static_cast<int>(0.5 * kPortableRate);

    PortableNoise hissL{0x2545F491u}, hissR{0x9E3779B9u}, sibilantL{0x1234567u}, sibilantR{0x7654321u};
    const auto portableBandPass = [](double centreHz) {
        const double w = kTwoPi * centreHz / kPortableRate;
        return BandPass(portableSin(w), portableCos(w), 2.0);
    };
    BandPass bandL = portableBandPass(6500.0), bandR = portableBandPass(7200.0);

    StereoSignal out;
    out.left.resize(static_cast<std::size_t>(frameCount));
    out.right.resize(out.left.size());
    for (int n = 0; n < frameCount; ++n) {
        const int index = n / syllable;
        const int pos = n % syllable;
        double left = 0.002 * hissL.next();  // about -57 dBFS, under the gate's default threshold
        double right = 0.002 * hissR.next();
        const double noiseL = bandL.step(sibilantL.next());
        const double noiseR = bandR.step(sibilantR.next());
        if (n < tailStart && pos < voicedEnd) {
            // A vowel: harmonics 1..8 of a fundamental that changes from syllable to syllable.
            const double f0 = 100.0 + 15.0 * (index % 5);
            const double phase = kTwoPi * f0 * pos / kPortableRate;
            const double envelope = 0.25 * portableHann(static_cast<double>(pos) / voicedEnd);
            double voiceL = 0.0, voiceR = 0.0;
            for (int k = 1; k <= 8; ++k) {
                voiceL += portableSin(k * phase) / k;
                voiceR += portableSin(k * (phase + 0.3)) / k;
            }
            left += envelope * voiceL;
            right += 0.8 * envelope * voiceR;
        } else if (n < tailStart && pos < sibilantEnd) {
            // An "s": the noise in the sibilant band, louder on even syllables.
            const double level = (index % 2 == 0 ? 1.2 : 0.6) *
                                 portableHann(static_cast<double>(pos - voicedEnd) / (sibilantEnd - voicedEnd));
            left += level * noiseL;
            right += 0.9 * level * noiseR;
        }
        out.left[static_cast<std::size_t>(n)] = static_cast<float>(left);
        out.right[static_cast<std::size_t>(n)] = static_cast<float>(right);
    }
    return out;
}

std::vector<float> interleaved(const StereoSignal& signal) {
    std::vector<float> frames;
    frames.reserve(2 * signal.left.size());
    for (std::size_t i = 0; i < signal.left.size(); ++i) frames.insert(frames.end(), {signal.left[i], signal.right[i]});
    return frames;
}

}  // namespace lumisere::signals
