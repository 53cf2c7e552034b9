// `lumisere suggest` on a corpus with known truth: an espeak-ng voice (made once per run) with white
// hiss at known levels, sibilance emphasised in known bands, spoken loud and quiet. Each case is
// measured and rendered with the proposal through the tool's own code, and judged against the clean
// voice it was made from. Then the command as a user runs it: its outputs, and clear answers where
// nothing can be measured.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "dsp/dsp_state.h"
#include "render.h"
#include "suggest.h"
#include "tool_test_support.h"

namespace lumisere::testing {
namespace {

using cli::Measurements;
using cli::Proposal;

constexpr int kRate = 44100;
constexpr int kFrame = kRate / 100;  // 10 ms, the frames the truth is judged in

double energyDb(double sumOfSquares, std::size_t count) { return 10.0 * std::log10(sumOfSquares / static_cast<double>(std::max<std::size_t>(count, 1)) + 1e-30); }

// Runs a biquad (b0 b1 b2 a1 a2) over a signal.
std::vector<double> filtered(const std::vector<double>& x, const dsp::FocusCoefficients& c) {
    std::vector<double> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = c.b0 * x[i] + c.b1 * x1 + c.b2 * x2 - c.a1 * y1 - c.a2 * y2;
        x2 = x1, x1 = x[i], y2 = y1, y1 = y[i];
    }
    return y;
}

// A 4 kHz high-pass (Butterworth), which tells esses from the rest of the voice.
dsp::FocusCoefficients highPass4k() {
    const double w = dsp::kTwoPi * 4000.0 / kRate, alpha = std::sin(w) / std::sqrt(2.0), a0 = 1.0 + alpha;
    return {(1.0 + std::cos(w)) / 2.0 / a0, -(1.0 + std::cos(w)) / a0, (1.0 + std::cos(w)) / 2.0 / a0,
            -2.0 * std::cos(w) / a0, (1.0 - alpha) / a0};
}

// A resonance (band-pass, Q 4) where the emphasis lies.
dsp::FocusCoefficients resonance(double hz) {
    const double w = dsp::kTwoPi * hz / kRate, alpha = std::sin(w) / 8.0, a0 = 1.0 + alpha;
    return {alpha / a0, 0.0, -alpha / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha) / a0};
}

// The clean voice, once per run: two sentences at 44.1 kHz with 0.6 s of silence around them.
const std::vector<double>& cleanVoice() {
    static const std::vector<double> voice = [] {
        ScratchDir dir;
        const std::string make = "espeak-ng -v en-us -s 150 -w '" + dir / "raw.wav" +
                                 "' 'Sister Susie sits and sews shirts for soldiers. A lovely morning over the rolling hills.' && "
                                 "sox '" + dir / "raw.wav" + "' -r 44100 -e float -b 32 '" + dir / "voice.wav" + "'";
        if (std::system(make.c_str()) != 0) return std::vector<double>();
        const Audio raw = readAudio(dir / "voice.wav");
        std::vector<double> v(static_cast<std::size_t>(0.6 * kRate), 0.0);
        for (float s : raw.samples) v.push_back(s);
        v.resize(v.size() + static_cast<std::size_t>(0.6 * kRate), 0.0);
        return v;
    }();
    return voice;
}

struct Case {
    double hissDb;      // RMS of the white hiss, dBFS
    double emphasisHz;  // centre of the +12 dB sibilance emphasis
    double peakDb;      // the voice's peak, dBFS
    bool separable = true;  // whether the speech stands far enough above the hiss for a gate
};

struct Outcome {
    Proposal proposal;
    double speechRmsDb = 0, pausesDb = 0, speechDb = 0, essesDb = 0, vowelsDb = 0;
};

// Makes the case's file, measures and renders it, and judges each kind of frame by the clean voice.
Outcome run(const ScratchDir& dir, const Case& c, int index) {
    // The emphasis: a resonance in the esses, noise through it following their own envelope (the
    // voice above 4 kHz), well above them. The voice itself, made at 22 kHz, has little at 9 kHz.
    std::vector<double> voice = cleanVoice();
    const std::vector<double> high = filtered(voice, highPass4k());
    std::mt19937 random(static_cast<unsigned>(index) + 1);
    std::normal_distribution<double> unit(0.0, 1.0);
    std::vector<double> noise(voice.size());
    for (double& n : noise) n = unit(random);
    noise = filtered(noise, resonance(c.emphasisHz));
    double envelope = 0, peak = 0;
    for (std::size_t i = 0; i < voice.size(); ++i) {
        envelope += (std::fabs(high[i]) - envelope) * 0.005;
        peak = std::max(peak, std::fabs(voice[i] += 10.0 * envelope * noise[i]));
    }
    for (double& s : voice) s *= std::pow(10.0, c.peakDb / 20.0) / peak;

    std::normal_distribution<double> hiss(0.0, std::pow(10.0, c.hissDb / 20.0));
    Audio noisy;
    for (double s : voice) {
        noisy.samples.push_back(static_cast<float>(s + hiss(random)));
        noisy.samples.push_back(static_cast<float>(s + hiss(random)));
    }
    const std::string in = dir / ("case" + std::to_string(index) + ".wav"), out = dir / ("out" + std::to_string(index) + ".wav");
    writeAudio(in, noisy);

    Outcome o;
    std::vector<cli::MeasureFailure> failures;
    const Measurements m = cli::measureFiles({in}, failures, std::atomic<bool>(false));
    o.proposal = cli::propose(m);
    cli::RenderOptions options;
    options.params = o.proposal.params();
    cli::RenderProgress progress;
    cli::renderFile(in, out, options, progress, std::atomic<bool>(false));
    const Audio rendered = readAudio(out);

    // Frame classes from the clean voice: silent with silence around (pauses), esses (mostly above
    // 4 kHz), vowels (almost nothing above it, within 20 dB of the loudest), and all other speech.
    const std::vector<double> highNow = filtered(voice, highPass4k());
    const std::size_t frames = voice.size() / kFrame;
    std::vector<double> level(frames), share(frames);
    double loudest = -300;
    for (std::size_t f = 0; f < frames; ++f) {
        double all = 0, hf = 0;
        for (std::size_t i = f * kFrame; i < (f + 1) * kFrame; ++i) all += voice[i] * voice[i], hf += highNow[i] * highNow[i];
        level[f] = energyDb(all, kFrame);
        share[f] = hf / (all + 1e-30);
        loudest = std::max(loudest, level[f]);
    }
    double sums[4][2] = {};  // pauses, speech, esses, vowels: input and output energy
    std::vector<double> speechLevels;
    for (std::size_t f = 15; f + 15 < frames; ++f) {
        bool quietAround = true;
        for (std::size_t g = f - 15; g <= f + 15; ++g) quietAround = quietAround && level[g] < loudest - 70;
        const bool speech = level[f] > loudest - 40 && share[f] < 0.3;
        const bool ess = level[f] > loudest - 30 && share[f] > 0.5;
        const bool vowel = level[f] > loudest - 20 && share[f] < 0.05;
        if (speech) speechLevels.push_back(level[f]);
        for (std::size_t i = f * kFrame * 2; i < (f + 1) * kFrame * 2; ++i) {
            const double x = noisy.samples[i], y = rendered.samples[i];
            for (int k : {quietAround ? 0 : -1, speech ? 1 : -1, ess ? 2 : -1, vowel ? 3 : -1}) {
                if (k >= 0) sums[k][0] += x * x, sums[k][1] += y * y;
            }
        }
    }
    std::sort(speechLevels.begin(), speechLevels.end());
    o.speechRmsDb = speechLevels[speechLevels.size() / 2];
    double* change[4] = {&o.pausesDb, &o.speechDb, &o.essesDb, &o.vowelsDb};
    for (int k = 0; k < 4; ++k) *change[k] = 10.0 * std::log10((sums[k][1] + 1e-30) / (sums[k][0] + 1e-30));
    return o;
}

TEST(Suggest, CorpusOfKnownHissAndSibilanceGetsSettingsThatDoTheJob) {
    ASSERT_FALSE(cleanVoice().empty()) << "espeak-ng and sox are needed to make the corpus (scripts/install-deps)";
    ScratchDir dir;
    std::vector<Case> cases;
    for (double hiss : {-70.0, -60.0, -50.0}) {
        for (double hz : {5000.0, 7000.0, 9000.0}) cases.push_back({hiss, hz, -3.0});
    }
    for (double hiss : {-70.0, -60.0}) cases.push_back({hiss, 7000.0, -12.0});
    cases.push_back({-50.0, 7000.0, -12.0, false});

    std::printf("| hiss | emphasis | voice peak | speech | Dipses Thresh | Noise Reduce | Focus Freq | De-Ess Thresh "
                "| pauses | speech | esses | vowels |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Outcome o = run(dir, c, static_cast<int>(i));
        const Proposal& p = o.proposal;
        std::printf("| %.0f | %.0f kHz | %.0f | %.0f | %.1f | %.0f | %.1f kHz | %.0f | %.1f | %.2f | %.1f | %.2f |\n", c.hissDb,
                    c.emphasisHz / 1000, c.peakDb, o.speechRmsDb, p.dipsesThreshDb.value_or(NAN),
                    p.noiseReduceDb.value_or(NAN), p.focusHz.value_or(NAN) / 1000, p.deEssThreshDb.value_or(NAN),
                    o.pausesDb, o.speechDb, o.essesDb, o.vowelsDb);
        SCOPED_TRACE("hiss " + std::to_string(c.hissDb) + " dB, emphasis " + std::to_string(c.emphasisHz) +
                     " Hz, peak " + std::to_string(c.peakDb) + " dB");
        if (!c.separable) {
            EXPECT_FALSE(p.dipsesThreshDb || p.noiseReduceDb);
            ASSERT_EQ(p.unmeasured.size(), 1u);
            EXPECT_NE(p.unmeasured[0].find("a gate cannot lower the one without cutting into the other"), std::string::npos);
            continue;
        }
        ASSERT_TRUE(p.dipsesThreshDb && p.noiseReduceDb && p.focusHz && p.deEssThreshDb) << cli::proposalText({}, p);
        EXPECT_GT(*p.dipsesThreshDb, c.hissDb);
        EXPECT_LT(*p.dipsesThreshDb, o.speechRmsDb);
        EXPECT_LE(o.pausesDb, -15.0);
        EXPECT_LT(std::fabs(o.speechDb), 1.0);
        EXPECT_LE(std::fabs(*p.focusHz - c.emphasisHz), 1000.0);
        EXPECT_LE(o.essesDb, -3.0);
        EXPECT_LT(std::fabs(o.vowelsDb), 1.0);
    }
}

}  // namespace
}  // namespace lumisere::testing

namespace lumisere::testing {
namespace {

// A steady tone swinging 20 dB three times a second: loud throughout, never a pause.
Audio swinging(double seconds) {
    Audio a = sine(1000.0, 0.5, seconds);
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
        const double t = static_cast<double>(i / 2) / kRate;
        a.samples[i] *= static_cast<float>(std::pow(10.0, (std::sin(dsp::kTwoPi * 3.0 * t) - 1.0) / 2.0));
    }
    return a;
}

TEST(Suggest, TheCommandWritesWhatItIsAskedAndSaysWhatItCannotMeasure) {
    ScratchDir dir;
    // What cannot be measured gets its reason, no setting, and status 1.
    writeAudio(dir / "short.wav", noise(0.01, 0.5));
    writeAudio(dir / "silent.wav", sine(1000.0, 0.0, 2.0));
    writeAudio(dir / "hiss.wav", noise(0.01, 3.0));
    writeAudio(dir / "loud.wav", swinging(3.0));
    const std::pair<const char*, const char*> unmeasurable[] = {{"short.wav", "too short to measure: 0.5 s"},
                                                               {"silent.wav", "silent: nothing above digital silence"},
                                                               {"hiss.wav", "no speech: the level never rises"},
                                                               {"loud.wav", "no pauses: no stretch"}};
    for (const auto& [file, reason] : unmeasurable) {
        ToolRun run = runTool(dir, {"suggest", file, "--write-preset", "p.preset"});
        EXPECT_EQ(run.status, 1) << file;
        EXPECT_NE(run.out.find(reason), std::string::npos) << file << ":\n" << run.out;
        EXPECT_NE(run.out.find("nothing to propose"), std::string::npos) << run.out;
        run = runTool(dir, {"suggest", file, "--json"});
        const auto json = nlohmann::json::parse(run.out);
        for (const auto& [name, value] : json["settings"].items()) EXPECT_TRUE(value.is_null()) << file << " " << name;
    }
    EXPECT_FALSE(fs::exists(dir / "p.preset"));

    ASSERT_FALSE(cleanVoice().empty()) << "espeak-ng and sox are needed to make the voice (scripts/install-deps)";
    // A voice with hiss: the proposal as flags, a preset the tool reads back, the picture, and the
    // render; two takes measured together give one proposal, and a file that fails is named.
    Audio take;
    std::mt19937 random(3);
    std::normal_distribution<double> hiss(0.0, 0.003);
    for (double s : cleanVoice()) {
        for (int c = 0; c < 2; ++c) take.samples.push_back(static_cast<float>(0.5 * s + hiss(random)));
    }
    writeAudio(dir / "take.wav", take);
    ToolRun run = runTool(dir, {"suggest", "take.wav", "--plot", "p.png", "--write-preset", "p.preset", "--apply", "-o", "out.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("settings:\n  --de-ess-thresh "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("the gate opens at"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("take.wav -> out.wav"), std::string::npos) << run.out;
    EXPECT_EQ(readText(dir / "p.png").substr(1, 3), "PNG");
    EXPECT_EQ(runTool(dir, {"process", "take.wav", "-o", "again.wav", "--preset", "p.preset"}).status, 0);
    EXPECT_EQ(readAudio(dir / "again.wav").samples, readAudio(dir / "out.wav").samples);
    run = runTool(dir, {"suggest", "take.wav", "take.wav", "missing.wav", "--json"});
    EXPECT_EQ(run.status, 1);
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["files"], 2);
    EXPECT_EQ(json["failed"][0]["input"], "missing.wav");
    EXPECT_FALSE(json["settings"]["dipses-thresh"].is_null());
    // Samples that are no numbers read as silence.
    for (std::size_t i = 0; i < 200; i += 2) take.samples[take.samples.size() / 2 + i] = i % 4 ? NAN : INFINITY;
    writeAudio(dir / "broken.wav", take);
    EXPECT_EQ(runTool(dir, {"suggest", "broken.wav"}).status, 0);
    run = runTool(dir, {"suggest", "take.wav", "--json", "--apply", "-o", "j.wav"});
    EXPECT_EQ(nlohmann::json::parse(run.out)["rendered"][0]["output"], "j.wav") << run.out;

    // The named presets by name, in any case; an unknown name is read as a file and refused.
    EXPECT_EQ(runTool(dir, {"process", "take.wav", "-o", "podcast.wav", "--preset", "podcast-voice"}).status, 0);
    run = runTool(dir, {"process", "take.wav", "-o", "none.wav", "--preset", "Radio voice"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot read preset Radio voice"), std::string::npos) << run.err;
    EXPECT_EQ(runTool(dir, {"suggest", "take.wav", "-o", "x.wav"}).status, 2);
}

}  // namespace
}  // namespace lumisere::testing
