#include "reference_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumisere::test {

namespace {

constexpr double kTwoPi = 6.283185307179586;

double stepBiquad(ReferenceBiquad& f, double x) {
    const double y = f.b0 * x + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    f.x2 = f.x1;
    f.x1 = x;
    f.y2 = f.y1;
    f.y1 = y;
    return y;
}

double clip(double out) {
    if (out >= 0.98 || std::isnan(out)) return 0.98;
    if (out > -0.98) return out;
    return -0.98;
}

}  // namespace

void ReferenceAnalyser::configure(double rate) {
    peakDecay = std::exp(-1.0 / (1.5 * rate));
    attackCoef = std::exp(-1.0 / (0.001 * rate));
    releaseCoef = std::exp(-1.0 / (0.06 * rate));
    slowCoef = 1.0 - std::exp(-1.0 / (0.08 * rate));
    inputCoef = 1.0 - std::exp(-1.0 / (0.005 * rate));
    laplacianPeakDecay = std::exp(-1.0 / (0.5 * rate));
    laplacianCoef = 1.0 - std::exp(-1.0 / (0.004 * rate));
    phaseStep = 36.4424747816416 / rate;
    const double samples = 0.002 * rate;
    decimation = samples >= 1.0 && samples < 2147483647.0 ? static_cast<std::int32_t>(samples) : 1;
}

void ReferenceAnalyser::update(double x) {
    const double xs = (x >= 0.0 && x < 1000000.0) ? x : 0.0;
    peak = std::max(0.001, std::max(peak * peakDecay, xs));
    const double n = std::min(xs / peak, 1.0);
    const double k = n > level ? attackCoef : releaseCoef;
    level = (1.0 - k) * n + level * k;
    slowLevel = slowLevel + (level - slowLevel) * slowCoef;
    crest = level / (std::fabs(0.1 * slowLevel) + 0.04);
    crestNorm = std::min(crest / 25.0, 1.0);
    crestWeight = 1.0 / ((crestNorm + crestNorm) * crestNorm + 1.0);
    const double l = level;
    levelSquare = l * l * 81.0 / 91.0;
    levelCubic = std::min(l * l * l * 91.0 / 81.0, 1.0);
    levelPow15 = std::pow(l, 1.5);
    smoothInput = smoothInput + (n - smoothInput) * inputCoef;
    decimationCounter = decimationCounter + 1;
    if (decimationCounter >= decimation) {
        decimationCounter = 0;
        const double h0 = history[0], h1 = history[1], h2 = history[2], h3 = history[3];
        const double d = smoothInput - 4.0 * h0 + 6.0 * h1 - 4.0 * h2 + h3;
        history[3] = h2;
        history[2] = h1;
        history[1] = h0;
        history[0] = smoothInput;
        laplacianPeak = std::max(0.02, std::max(laplacianPeak * laplacianPeakDecay, std::fabs(d)));
        const double q = d / laplacianPeak;
        if (q >= 1.0 || std::isnan(q)) {
            laplacianHeld = 1.0;
        } else {
            laplacianHeld = std::max(q, -1.0);
        }
    }
    laplacian = laplacian + (laplacianHeld - laplacian) * laplacianCoef;
    phase = phase + phaseStep;
    if (phase > kTwoPi) phase = phase - kTwoPi;
    wobble = std::sin(phase + 0.8224670334241132);
    wobbleDepth = 0.08 * wobble / (std::fabs(crest) + 1.0);
}

ReferenceChain::ReferenceChain() {
    for (int i = 0; i < kNumParams; ++i) params[i] = kParams[i].defaultValue;
    setSampleRate(44100.0);
}

void ReferenceChain::setSampleRate(double rate) {
    sampleRate = rate;
    bandAnalyser.configure(rate);
    deEssedAnalyser.configure(rate);
    designFocusFilters();
}

void ReferenceChain::designFocusFilters() {
    const double requested = static_cast<double>(params[kParamFocusFreq]) * 7000.0 + 4000.0;
    const double f = std::min(requested, 0.499 * sampleRate);
    const double w = f / sampleRate * kTwoPi;
    const double s = std::sin(w);
    const double c = std::cos(w);
    const double alpha = s / 4.4;
    const double a0 = 1.0 + alpha;
    for (ReferenceBiquad* q : {&focusFilterL, &focusFilterR}) {
        q->b0 = alpha / a0;
        q->b1 = 0.0;
        q->b2 = -q->b0;
        q->a1 = -2.0 * c / a0;
        q->a2 = (1.0 - alpha) / a0;
    }
}

void ReferenceChain::process(const float* const* inputs, float* const* outputs, int frameCount) {
    if (suspended || params[kParamBypass] > 0.5f) {
        for (int ch = 0; ch < 2; ++ch) {
            if (frameCount > 0 && outputs[ch] != inputs[ch]) {
                std::memmove(outputs[ch], inputs[ch], sizeof(float) * static_cast<unsigned>(frameCount));
            }
        }
        return;
    }

    // Block values.
    const double p0 = params[kParamDeEssThresh];
    const double deEssThreshold = std::pow(10.0, (p0 * 40.0 - 40.0) / 20.0);
    const bool listen = params[kParamListenSibilance] > 0.5f;
    const double p3 = params[kParamDipsesThresh];
    const double gateThreshold = std::pow(10.0, (p3 * 56.0 - 80.0) / 20.0);
    const double p4 = params[kParamNoiseReduce];
    const double gateFloorDb = -(p4 * 40.0);
    const double slope = (p4 * 2.5 + 2.0) - 1.0;
    const double air = params[kParamAirSilk];
    const double p6 = params[kParamOutputTrim];
    const double outputGain = std::pow(10.0, ((p6 - 0.5) * 24.0) / 20.0);
    const double mix = params[kParamDryWet];
    const double fs = sampleRate;
    const double bandAttack = std::exp(-1.0 / (0.0008 * fs));
    const double bandRelease = std::exp(-1.0 / (0.04 * fs));
    const double gateAttack = std::exp(-1.0 / (0.001 * fs));
    const double gateRelease = std::exp(-1.0 / (0.035 * fs));
    const double a = std::min(std::max(59690.26041820607 / fs, 0.02), 0.85);
    designFocusFilters();

    float peakL = 0.0f, peakR = 0.0f, deEssMax = 0.0f, gateMax = 0.0f;

    for (int i = 0; i < frameCount; ++i) {
        const float inL = inputs[0][i];
        const float inR = inputs[1][i];
        const double xL = std::isfinite(inL) ? static_cast<double>(inL) : 0.0;
        const double xR = std::isfinite(inR) ? static_cast<double>(inR) : 0.0;

        // De-esser.
        const double yL = stepBiquad(focusFilterL, xL);
        const double yR = stepBiquad(focusFilterR, xR);
        if (std::fabs(yL) > bandEnvL) {
            bandEnvL = bandEnvL * bandAttack + (1.0 - bandAttack) * std::fabs(yL);
        } else {
            bandEnvL = bandEnvL * bandRelease + (1.0 - bandRelease) * std::fabs(yL);
        }
        if (std::fabs(yR) > bandEnvR) {
            bandEnvR = bandEnvR * bandAttack + (1.0 - bandAttack) * std::fabs(yR);
        } else {
            bandEnvR = bandEnvR * bandRelease + (1.0 - bandRelease) * std::fabs(yR);
        }
        bandAnalyser.update(std::max(std::fabs(yL), std::fabs(yR)));
        inputEnvL = inputEnvL * bandRelease + std::fabs(xL) * (1.0 - bandRelease);
        inputEnvR = inputEnvR * bandRelease + std::fabs(xR) * (1.0 - bandRelease);
        const double e = std::max(bandEnvL, bandEnvR);
        const double b = std::max(inputEnvL, inputEnvR);
        const double cw = bandAnalyser.crestWeight;
        const double wd = bandAnalyser.wobbleDepth;
        double k = 1.0;
        if (e > deEssThreshold && e / (b + 0.00001) > (0.35 * cw + 0.75) * 0.22 * (1.0 - 0.1 * wd)) {
            const double over = 20.0 * std::log10(e / (deEssThreshold + 0.000000001));
            const double lp = std::max(0.0, bandAnalyser.laplacian);
            const double lv = bandAnalyser.levelPow15;
            k = 1.0 / ((lp * 0.65 + 1.0) * 0.45 * over + 1.0 + over * ((0.75 * lv + 1.0) * 0.08 * over));
            if (k >= 1.0 || std::isnan(k)) {
                k = 1.0;
            } else if (k <= 0.05) {
                k = 0.05;
            }
        }
        const double r = -20.0 * std::log10(k + 0.000000001);
        deEssMax = std::max(deEssMax, static_cast<float>(r));
        double sL, sR;
        if (listen) {
            sL = (1.0 - k) * yL;
            sR = (1.0 - k) * yR;
        } else {
            sL = xL - (1.0 - k) * yL;
            sR = xR - (1.0 - k) * yR;
        }

        // Hiss gate.
        const double m = std::max(std::fabs(sL), std::fabs(sR));
        deEssedAnalyser.update(m);
        double rel = (0.75 * deEssedAnalyser.levelSquare + 0.65) * (1.0 - 0.2 * deEssedAnalyser.wobbleDepth);
        if (rel >= 2.0 || std::isnan(rel)) {
            rel = 2.0;
        } else {
            rel = std::max(rel, 0.4);
        }
        if (m > gateEnv) {
            gateEnv = (1.0 - gateAttack) * m + gateEnv * gateAttack;
        } else {
            const double c = 1.0 - (1.0 - gateRelease) / rel;
            gateEnv = (1.0 - c) * m + gateEnv * c;
        }
        double g = 1.0;
        if (gateThreshold > gateEnv) {
            const double below = 20.0 * std::log10((gateEnv + 0.000000001) / gateThreshold);
            double gdB = slope * below;
            gdB = std::max(gdB, gateFloorDb);
            g = std::pow(10.0, gdB / 20.0);
        }
        const double rg = -20.0 * std::log10(g + 0.000000001);
        gateMax = std::max(gateMax, static_cast<float>(rg));
        double oL = sL * g;
        double oR = sR * g;

        // Air band.
        if (air > 0.01) {
            airLowL = airLowL + (oL - airLowL) * a;
            airLowR = airLowR + (oR - airLowR) * a;
            const double hL = oL - airLowL;
            const double hR = oR - airLowR;
            const double lin = (0.3 * deEssedAnalyser.crestNorm + 0.35 + 0.15 * deEssedAnalyser.levelCubic) * air;
            const double shp = 0.35 * deEssedAnalyser.crestWeight + 0.2;
            oL = oL + (std::sin(17.2 * std::fabs(hL) * 3.141592653589793) * hL * shp * (air * 0.4) + hL * lin);
            oR = oR + (std::sin(17.2 * std::fabs(hR) * 3.141592653589793) * hR * shp * (air * 0.4) + hR * lin);
        }

        // Output stage.
        const double outL = clip(oL * outputGain * mix + (1.0 - mix) * xL);
        const double outR = clip(oR * outputGain * mix + (1.0 - mix) * xR);
        outputs[0][i] = static_cast<float>(outL);
        outputs[1][i] = static_cast<float>(outR);
        const double aL = std::fabs(outL);
        const double aR = std::fabs(outR);
        if (aL > peakL) peakL = static_cast<float>(aL);
        if (aR > peakR) peakR = static_cast<float>(aR);
    }

    meters[0] = meters[0] * 0.85f + peakL * 0.15f;
    meters[1] = meters[1] * 0.85f + peakR * 0.15f;
    meters[2] = meters[2] * 0.82f + deEssMax * 0.18f;
    meters[3] = meters[3] * 0.85f + gateMax * 0.15f;
}

}  // namespace lumisere::test
