#include "test_signal.h"

namespace lumisere::probe {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

double portableCos(double x) { return portableSin(x + 0.5 * kPi); }

// Band-pass biquad (constant 0 dB peak gain), the sibilant band of the noise bursts.
struct BandPass {
    double b0, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    BandPass(double centreHz, double q) {
        const double w = kTwoPi * centreHz / kSignalSampleRate;
        const double alpha = portableSin(w) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        b0 = alpha / a0;
        b2 = -alpha / a0;
        a1 = -2.0 * portableCos(w) / a0;
        a2 = (1.0 - alpha) / a0;
    }

    double run(double x) {
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// A raised-cosine envelope over a segment: 0 at both ends, 1 in the middle. position in [0, 1].
double hann(double position) { return 0.5 - 0.5 * portableCos(kTwoPi * position); }

}  // namespace

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

std::vector<float> makeTestSignal(int frameCount) {
    // Syllables of 300 ms: 180 ms voiced, 60 ms sibilant, 60 ms pause; the last 500 ms only hiss.
    const int syllable = static_cast<int>(0.300 * kSignalSampleRate);
    const int voicedEnd = static_cast<int>(0.180 * kSignalSampleRate);
    const int sibilantEnd = static_cast<int>(0.240 * kSignalSampleRate);
    const int tailStart = frameCount - static_cast<int>(0.5 * kSignalSampleRate);

    NoiseSource hissL{0x2545F491u}, hissR{0x9E3779B9u}, sibilantL{0x1234567u}, sibilantR{0x7654321u};
    BandPass bandL(6500.0, 2.0), bandR(7200.0, 2.0);

    std::vector<float> frames(2 * static_cast<std::size_t>(frameCount));
    for (int n = 0; n < frameCount; ++n) {
        const int index = n / syllable;
        const int pos = n % syllable;
        double left = 0.002 * hissL.next();  // about -57 dBFS, under the gate's default threshold
        double right = 0.002 * hissR.next();
        const double noiseL = bandL.run(sibilantL.next());
        const double noiseR = bandR.run(sibilantR.next());
        if (n < tailStart && pos < voicedEnd) {
            // A vowel: harmonics 1..8 of a fundamental that changes from syllable to syllable.
            const double f0 = 100.0 + 15.0 * (index % 5);
            const double phase = kTwoPi * f0 * pos / kSignalSampleRate;
            const double envelope = 0.25 * hann(static_cast<double>(pos) / voicedEnd);
            double voiceL = 0.0, voiceR = 0.0;
            for (int k = 1; k <= 8; ++k) {
                voiceL += portableSin(k * phase) / k;
                voiceR += portableSin(k * (phase + 0.3)) / k;
            }
            left += envelope * voiceL;
            right += 0.8 * envelope * voiceR;
        } else if (n < tailStart && pos < sibilantEnd) {
            // An "s": the noise in the sibilant band, louder on even syllables.
            const double level = (index % 2 == 0 ? 1.2 : 0.6) * hann(static_cast<double>(pos - voicedEnd) / (sibilantEnd - voicedEnd));
            left += level * noiseL;
            right += 0.9 * level * noiseR;
        }
        frames[2 * static_cast<std::size_t>(n)] = static_cast<float>(left);
        frames[2 * static_cast<std::size_t>(n) + 1] = static_cast<float>(right);
    }
    return frames;
}

}  // namespace lumisere::probe
