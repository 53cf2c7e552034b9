#include "suggest.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio_file.h"
#include "dsp/de_esser.h"
#include "dsp/dsp_state.h"
#include "dsp/hiss_gate.h"
#include "param_args.h"

namespace lumisere::cli {

namespace {

constexpr double kFrameSeconds = 0.01;
constexpr double kSilentDb = -110.0;        // a frame's detector below this is digital silence
constexpr double kFloorPercentile = 0.05;   // the quietest frames, where a pause is looked for
constexpr double kPauseSpanDb = 6.0;        // a pause frame lies this close to them
constexpr int kPauseFrames = 20;            // and a pause lasts 200 ms at least
constexpr double kShortestPauses = 0.3;     // seconds of pauses needed to measure the floor
constexpr double kSpeechAboveFloorDb = 10.0;  // a speech frame stands this far above the quietest ones
constexpr double kShortestSpeech = 0.3;     // seconds of speech needed
constexpr double kShortestEsses = 0.1;      // seconds of sibilant frames needed
constexpr double kBankLowHz = 4000.0;       // the Focus Freq range, in steps of 250 Hz
constexpr double kBankHighHz = 11000.0;
constexpr double kBankStepHz = 250.0;
constexpr double kInaudibleHissDb = -85.0;  // a floor below this needs no gate
// A speech frame whose strongest focus band carries this share of its energy or more is an ess; one
// below kVoicedShare is the rest of the voice (vowels, voiced consonants); frames between are neither.
constexpr double kSibilantShare = 0.3;
constexpr double kVoicedShare = 0.1;

double toDb(double linear) { return 20.0 * std::log10(linear + 1e-12); }

double percentile(std::vector<double> values, double q) {
    if (values.empty()) return 0.0;
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

// One 10 ms frame as the detectors saw it.
struct Frame {
    float gateDb = 0.0f;        // the gate envelope's largest value
    float energy = 0.0f;        // mean square of the louder channel
    float focusEnergy = 0.0f;   // mean square of the strongest focus band-pass output
    int file = 0;
};

// The frames of all files, with each band's energy and largest envelope per frame.
struct FrameTable {
    std::vector<Frame> frames;
    std::vector<float> bandEnergy;  // frames x bands, mean square of the narrow analysis band-pass
    std::vector<float> bandPeak;    // frames x bands, the largest band envelope (the de-esser's e)
    std::vector<double> bankHz;
    std::size_t bands() const { return bankHz.size(); }
};

// The spectrum is read through band-passes of the focus filter's form, but narrower: the focus filter
// itself is too wide to show where a resonance lies.
constexpr double kSpectrumQ = 6.0;

dsp::FocusCoefficients narrowBandPass(double centreHz, double rate) {
    const double w = dsp::kTwoPi * centreHz / rate;
    const double alpha = std::sin(w) / (2.0 * kSpectrumQ);
    const double a0 = 1.0 + alpha;
    return {alpha / a0, 0.0, -alpha / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha) / a0};
}

// A sample as the detectors take it: not a number or infinite is silence, and a double's value past
// a million (which the plug-in's analysers read as silence too) is held there, so energies stay finite.
double readable(double x) { return std::isfinite(x) ? std::clamp(x, -dsp::kImplausibleInput, dsp::kImplausibleInput) : 0.0; }

// Runs the gate's detector and the de-esser's bank of band-passes over one file.
void measureFile(const std::string& input, FrameTable& table, int fileIndex, double& seconds,
                 const std::atomic<bool>& stop) {
    AudioReader reader(input);
    const SF_INFO& info = reader.info();
    if (info.channels > 2) {
        throw FileError("has " + std::to_string(info.channels) + " channels; only mono and stereo files can be measured");
    }
    const double rate = dsp::acceptedSampleRate(static_cast<float>(info.samplerate));
    if (rate != static_cast<double>(info.samplerate)) {
        throw FileError("the plug-in does not run at " + std::to_string(info.samplerate) + " Hz");
    }
    const dsp::RateCoefficients coefficients = dsp::rateCoefficients(rate);
    // The gate's own analyser, envelope and release bending, as on the plug-in's de-essed signal.
    const dsp::GateSettings gate = dsp::gateSettings(-54.8, -24.0, 2.5, coefficients);
    dsp::SignalAnalyser analyser;
    analyser.configure(rate);
    double gateEnv = 0.0;

    const std::size_t bands = table.bands();
    // Per band and channel: the de-esser's focus band-pass, and a narrower one for the spectrum.
    std::vector<dsp::Biquad> filters(bands * 2), narrow(bands * 2);
    std::vector<double> bandEnv(bands * 2, 0.0);
    for (std::size_t k = 0; k < bands; ++k) {
        // Centres the rate cannot hold stay silent (all-zero coefficients).
        if (table.bankHz[k] >= 0.45 * rate) continue;
        const double centre = dsp::focusCentreHz(table.bankHz[k], rate);
        const dsp::FocusCoefficients c = dsp::designFocusBandPass(centre, rate);
        const dsp::FocusCoefficients n = narrowBandPass(centre, rate);
        for (int ch = 0; ch < 2; ++ch) {
            dsp::Biquad& f = filters[k * 2 + ch];
            f.b0 = c.b0, f.b1 = c.b1, f.b2 = c.b2, f.a1 = c.a1, f.a2 = c.a2;
            dsp::Biquad& g = narrow[k * 2 + ch];
            g.b0 = n.b0, g.b1 = n.b1, g.b2 = n.b2, g.a1 = n.a1, g.a2 = n.a2;
        }
    }

    const int frameLength = std::max(1, static_cast<int>(std::lround(rate * kFrameSeconds)));
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<double> interleaved(static_cast<std::size_t>(frameLength) * channels);
    std::vector<double> energy(bands), focusEnergy(bands), peak(bands);
    dsp::GateDetector detector;
    double wobble[dsp::kChunkFrames], releaseFactor[dsp::kChunkFrames];
    dsp::AirShape shape;
    const double bandAttack = coefficients.bandAttack, bandRelease = coefficients.bandRelease;

    for (;;) {
        if (stop.load(std::memory_order_relaxed)) return;
        const sf_count_t got = reader.read(interleaved.data(), frameLength);
        if (got < frameLength) {
            seconds += static_cast<double>(got) / rate;
            break;  // a last partial frame is too short to say much; it only counts as time
        }
        seconds += kFrameSeconds;
        Frame frame;
        frame.file = fileIndex;
        double gateMax = 0.0, frameEnergy[2] = {0.0, 0.0};
        std::fill(energy.begin(), energy.end(), 0.0);
        std::fill(focusEnergy.begin(), focusEnergy.end(), 0.0);
        std::fill(peak.begin(), peak.end(), 0.0);
        for (int start = 0; start < frameLength; start += dsp::kChunkFrames) {
            const int n = std::min(dsp::kChunkFrames, frameLength - start);
            for (int i = 0; i < n; ++i) {
                const double* x = &interleaved[static_cast<std::size_t>(start + i) * channels];
                const double l = readable(x[0]);
                const double r = readable(x[channels - 1]);
                const double m = std::max(std::fabs(l), std::fabs(r));
                dsp::advanceAnalyser(analyser, m);
                detector.m[i] = m;
                detector.level[i] = analyser.level;
                detector.slowLevel[i] = analyser.slowLevel;
                wobble[i] = analyser.modulatorSin;
                const double in[2] = {l, r};
                frameEnergy[0] += l * l;
                frameEnergy[1] += r * r;
                for (std::size_t k = 0; k < bands; ++k) {
                    double louder = 0.0;
                    for (int ch = 0; ch < 2; ++ch) {
                        const double y = dsp::stepBiquad(filters[k * 2 + ch], in[ch]);
                        double& e = bandEnv[k * 2 + ch];
                        const double band = std::fabs(y);
                        e = std::max(e * bandAttack + (1.0 - bandAttack) * band, e * bandRelease + (1.0 - bandRelease) * band);
                        focusEnergy[k] += 0.5 * y * y;
                        const double z = dsp::stepBiquad(narrow[k * 2 + ch], in[ch]);
                        energy[k] += 0.5 * z * z;
                        louder = std::max(louder, e);
                    }
                    peak[k] = std::max(peak[k], louder);
                }
            }
            dsp::prepareGate(gate, detector, wobble, n, releaseFactor, shape);
            for (int i = 0; i < n; ++i) {
                gateEnv = dsp::stepGateEnvelope(gateEnv, gate.attack, detector.m[i], releaseFactor[i]);
                gateMax = std::max(gateMax, gateEnv);
            }
        }
        frame.gateDb = static_cast<float>(toDb(gateMax));
        frame.energy = static_cast<float>(std::max(frameEnergy[0], frameEnergy[1]) / frameLength);
        frame.focusEnergy = static_cast<float>(*std::max_element(focusEnergy.begin(), focusEnergy.end()) / frameLength);
        table.frames.push_back(frame);
        for (std::size_t k = 0; k < bands; ++k) {
            table.bandEnergy.push_back(static_cast<float>(energy[k] / frameLength));
            table.bandPeak.push_back(static_cast<float>(peak[k]));
        }
    }
}

// The pause frames: runs of kPauseFrames or more, within one file, above silence and no louder than
// `ceilingDb`.
std::vector<bool> pauseFrames(const std::vector<Frame>& frames, double ceilingDb) {
    std::vector<bool> pause(frames.size(), false);
    std::size_t start = 0;
    bool inRun = false;
    const auto close = [&](std::size_t end) {
        if (inRun && end - start >= static_cast<std::size_t>(kPauseFrames)) {
            std::fill(pause.begin() + static_cast<std::ptrdiff_t>(start), pause.begin() + static_cast<std::ptrdiff_t>(end), true);
        }
        inRun = false;
    };
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool quiet = frames[i].gateDb > kSilentDb && frames[i].gateDb <= ceilingDb;
        if (inRun && (!quiet || frames[i].file != frames[start].file)) close(i);
        if (quiet && !inRun) {
            start = i;
            inRun = true;
        }
    }
    close(frames.size());
    return pause;
}

// Where the spectrum peaks, between bank centres by a parabola through the top three.
double peakHz(const std::vector<double>& hz, const std::vector<double>& db) {
    const auto top = static_cast<std::size_t>(std::max_element(db.begin(), db.end()) - db.begin());
    if (top == 0 || top + 1 >= db.size()) return hz[top];
    const double a = db[top - 1], b = db[top], c = db[top + 1];
    const double denominator = a - 2.0 * b + c;
    const double shift = denominator < 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    return hz[top] + std::clamp(shift, -0.5, 0.5) * (hz[top + 1] - hz[top]);
}

void measureSibilance(const FrameTable& table, const std::vector<bool>& speech, Measurements& m) {
    const std::size_t bands = table.bands();
    std::vector<double> sibilant(bands, 0.0), rest(bands, 0.0);
    std::vector<std::size_t> sibilantFrames, restFrames;
    for (std::size_t i = 0; i < table.frames.size(); ++i) {
        if (!speech[i]) continue;
        const double share = table.frames[i].focusEnergy / (table.frames[i].energy + 1e-20);
        const bool isSibilant = share > kSibilantShare;
        if (!isSibilant && share > kVoicedShare) continue;
        (isSibilant ? sibilantFrames : restFrames).push_back(i);
        std::vector<double>& sum = isSibilant ? sibilant : rest;
        for (std::size_t k = 0; k < bands; ++k) sum[k] += table.bandEnergy[i * bands + k];
    }
    m.sibilantSeconds = static_cast<double>(sibilantFrames.size()) * kFrameSeconds;
    // Energy per Hz: the band-passes' width grows with their centre.
    const auto density = [&](const std::vector<double>& sum, std::size_t count) {
        std::vector<double> db(bands);
        for (std::size_t k = 0; k < bands; ++k) db[k] = 10.0 * std::log10(sum[k] / static_cast<double>(std::max<std::size_t>(count, 1)) / table.bankHz[k] + 1e-30);
        return db;
    };
    if (sibilantFrames.empty()) return;
    m.sibilantSpectrumDb = density(sibilant, sibilantFrames.size());
    m.restSpectrumDb = density(rest, restFrames.size());
    if (m.sibilantSeconds < kShortestEsses) return;
    m.sibilantPeakHz = peakHz(table.bankHz, m.sibilantSpectrumDb);
    const auto nearest = static_cast<std::size_t>(std::lround((*m.sibilantPeakHz - kBankLowHz) / kBankStepHz));
    const auto bandLevels = [&](const std::vector<std::size_t>& frames) {
        std::vector<double> db;
        for (std::size_t i : frames) db.push_back(toDb(table.bandPeak[i * bands + nearest]));
        return db;
    };
    m.sibilantBandDb = percentile(bandLevels(sibilantFrames), 0.5);
    if (!restFrames.empty()) m.restBandDb = percentile(bandLevels(restFrames), 0.5);
}

}  // namespace

Measurements measureFiles(const std::vector<std::string>& inputs, std::vector<MeasureFailure>& failures,
                          const std::atomic<bool>& stop) {
    Measurements m;
    FrameTable table;
    for (double hz = kBankLowHz; hz <= kBankHighHz + 1.0; hz += kBankStepHz) table.bankHz.push_back(hz);
    m.bankHz = table.bankHz;
    for (const std::string& input : inputs) {
        const std::size_t framesBefore = table.frames.size();
        double seconds = 0.0;
        try {
            measureFile(input, table, m.files, seconds, stop);
            m.seconds += seconds;
            ++m.files;
        } catch (const FileError& e) {
            table.frames.resize(framesBefore);
            table.bandEnergy.resize(framesBefore * table.bands());
            table.bandPeak.resize(framesBefore * table.bands());
            failures.push_back({input, e.what()});
        }
    }
    if (m.files == 0 || m.seconds < kShortestMeasurableSeconds) return m;

    std::vector<double> levels;
    for (const Frame& f : table.frames) {
        if (f.gateDb > kSilentDb) levels.push_back(f.gateDb);
    }
    m.frameLevelsDb.assign(levels.begin(), levels.end());
    if (levels.empty()) {
        m.silent = true;
        return m;
    }
    const double quietest = percentile(levels, kFloorPercentile);
    const std::vector<bool> pause = pauseFrames(table.frames, quietest + kPauseSpanDb);
    std::vector<double> pauseLevels, speechLevels;
    std::vector<bool> speech(table.frames.size(), false);
    for (std::size_t i = 0; i < table.frames.size(); ++i) {
        if (pause[i]) pauseLevels.push_back(table.frames[i].gateDb);
        if (table.frames[i].gateDb > kSilentDb && table.frames[i].gateDb >= quietest + kSpeechAboveFloorDb) {
            speech[i] = true;
            speechLevels.push_back(table.frames[i].gateDb);
        }
    }
    m.pauseSeconds = static_cast<double>(pauseLevels.size()) * kFrameSeconds;
    m.speechSeconds = static_cast<double>(speechLevels.size()) * kFrameSeconds;
    if (m.pauseSeconds >= kShortestPauses) {
        m.floorDb = percentile(pauseLevels, 0.5);
        m.floorTopDb = percentile(pauseLevels, 0.95);
    }
    if (m.speechSeconds >= kShortestSpeech) {
        m.speechDb = percentile(speechLevels, 0.5);
        measureSibilance(table, speech, m);
    }
    return m;
}

namespace {

constexpr double kHissMarginDb = 3.0;     // the gate threshold above the hiss's peaks
constexpr double kFloorMarginDb = 2.0;    // and above the point where the median hiss reaches the floor
constexpr double kSpeechMarginDb = 10.0;  // and this far below the speech, so words keep their tails
constexpr double kLeastReductionDb = 18.0;
constexpr double kMostReductionDb = 40.0;
constexpr double kHissBelowSpeechDb = 60.0;  // the reduction aims to put the hiss this far under the speech
// The median ess stands this far over the de-esser's threshold. The rest of the voice may reach the
// threshold too: the de-esser acts only where the band carries a good share of the whole level, so
// vowels pass.
constexpr double kEssOverDb = 12.0;

double roundTo(double value, double step) { return std::round(value / step) * step; }

std::string db(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f dB", value == 0.0 ? 0.0 : value);
    return text;
}

std::string khz(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kHz", hz / 1000.0);
    return text;
}

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", s);
    return text;
}

// The gate's slope at a Noise Reduce depth, as the plug-in derives it.
double slopeAt(double reductionDb) {
    return gateSlope(static_cast<float>(unitsToNormalised(kParamNoiseReduce, -reductionDb)));
}

void proposeGate(const Measurements& m, Proposal& p) {
    if (!m.floorDb) {
        p.unmeasured.push_back("no pauses: no stretch of 0.2 s or more stays near the quietest level, so the hiss "
                               "cannot be told from the voice; Dipses Thresh and Noise Reduce are left as they are");
        return;
    }
    const double floor = *m.floorDb, top = *m.floorTopDb, speech = *m.speechDb;
    const double gap = speech - floor;
    if (floor < kInaudibleHissDb) {
        p.reasons.push_back("the pauses are nearly silent (" + db(floor) + "): no gate is needed");
        p.dipsesThreshDb = paramUnits(kParamDipsesThresh, 0.0);
        p.noiseReduceDb = 0.0;
        return;
    }
    double reduction = std::clamp(std::round(kHissBelowSpeechDb - gap), kLeastReductionDb, kMostReductionDb);
    const double highest = std::min(speech - kSpeechMarginDb, paramUnits(kParamDipsesThresh, 1.0));
    double threshold = std::max(top + kHissMarginDb, floor + reduction / slopeAt(reduction) + kFloorMarginDb);
    // Too close to the speech: a shallower floor needs a lower threshold.
    while (threshold > highest && reduction > kLeastReductionDb) {
        reduction -= 1.0;
        threshold = std::max(top + kHissMarginDb, floor + reduction / slopeAt(reduction) + kFloorMarginDb);
    }
    if (threshold > highest) {
        p.unmeasured.push_back("the hiss (" + db(floor) + ") lies only " + db(gap) + " under the speech (" + db(speech) +
                               "): a gate cannot lower the one without cutting into the other; Dipses Thresh and "
                               "Noise Reduce are left as they are");
        return;
    }
    threshold = std::max(roundTo(threshold, 0.5), paramUnits(kParamDipsesThresh, 0.0));
    p.dipsesThreshDb = threshold;
    p.noiseReduceDb = -reduction;
    p.reasons.push_back("hiss floor " + db(floor) + " in the pauses (" + seconds(m.pauseSeconds) + " of them), speech around " +
                        db(speech) + ": the gate opens at " + db(threshold) + " and lowers the pauses by " +
                        db(reduction));
}

void proposeDeEsser(const Measurements& m, Proposal& p) {
    if (!m.sibilantPeakHz) {
        p.unmeasured.push_back("no esses: no speech frame carries enough of its level at 4 to 11 kHz for the "
                               "de-esser to act on; De-Ess Thresh and Focus Freq are left as they are");
        return;
    }
    const double focus = std::clamp(roundTo(*m.sibilantPeakHz, 100.0), kBankLowHz, kBankHighHz);
    const double esses = *m.sibilantBandDb;
    const double threshold = std::clamp(std::round(esses - kEssOverDb), paramUnits(kParamDeEssThresh, 0.0), paramUnits(kParamDeEssThresh, 1.0));
    p.focusHz = focus;
    p.deEssThreshDb = threshold;
    std::string line = "esses peak near " + khz(focus) + " at " + db(esses);
    if (m.restBandDb) line += ", " + db(esses - *m.restBandDb) + " above the rest of the voice in that band";
    p.reasons.push_back(line + ": the de-esser acts from " + db(threshold));
}

// Six significant digits at most, as a person writes a setting.
std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value == 0.0 ? 0.0 : value);
    return text;
}

std::string valueText(int param, double units) {
    return param == kParamFocusFreq ? number(units / 1000.0) + "k" : number(units);
}

}  // namespace

std::vector<std::pair<int, double>> Proposal::values() const {
    std::vector<std::pair<int, double>> out;
    if (deEssThreshDb) out.emplace_back(kParamDeEssThresh, *deEssThreshDb);
    if (focusHz) out.emplace_back(kParamFocusFreq, *focusHz);
    if (dipsesThreshDb) out.emplace_back(kParamDipsesThresh, *dipsesThreshDb);
    if (noiseReduceDb) out.emplace_back(kParamNoiseReduce, *noiseReduceDb);
    return out;
}

std::array<float, kNumParams> Proposal::params() const {
    std::array<float, kNumParams> params{};
    for (int i = 0; i < kNumParams; ++i) params[i] = kParams[i].defaultValue;
    for (const auto& [param, units] : values()) {
        params[param] = clampParam(static_cast<float>(unitsToNormalised(param, units)));
    }
    return params;
}

Proposal propose(const Measurements& m) {
    Proposal p;
    if (m.files == 0) return p;
    if (m.seconds < kShortestMeasurableSeconds) {
        p.unmeasured.push_back("too short to measure: " + seconds(m.seconds) + " of audio, at least " +
                               seconds(kShortestMeasurableSeconds) + " is needed");
        return p;
    }
    if (m.silent) {
        p.unmeasured.push_back("silent: nothing above digital silence to measure");
        return p;
    }
    if (!m.speechDb) {
        p.unmeasured.push_back("no speech: the level never rises " + db(kSpeechAboveFloorDb) +
                               " above its quietest for long enough, so there is nothing to set the thresholds by");
        return p;
    }
    proposeGate(m, p);
    proposeDeEsser(m, p);
    return p;
}

std::string proposalFlags(const Proposal& p) {
    std::string flags;
    for (const auto& [param, units] : p.values()) {
        flags += (flags.empty() ? "--" : " --") + optionName(param) + " " + valueText(param, units);
    }
    return flags;
}

std::string proposalText(const Measurements& m, const Proposal& p) {
    std::string text = "  measured " + seconds(m.seconds) + " in " + std::to_string(m.files) +
                       (m.files == 1 ? " file\n" : " files\n");
    for (const std::string& line : p.reasons) text += "  " + line + "\n";
    for (const std::string& line : p.unmeasured) text += "  " + line + "\n";
    text += p.empty() ? "nothing to propose\n" : "settings:\n  " + proposalFlags(p) + "\n";
    return text;
}

std::string proposalPresetText(const Proposal& p) {
    std::string text = "# proposed by lumisere suggest\n";
    for (const std::string& line : p.reasons) text += "# " + line + "\n";
    for (const auto& [param, units] : p.values()) text += optionName(param) + " = " + valueText(param, units) + "\n";
    return text;
}

nlohmann::json proposalJson(const Measurements& m, const Proposal& p) {
    const auto optional = [](const std::optional<double>& v) { return v ? nlohmann::json(*v) : nlohmann::json(nullptr); };
    nlohmann::json settings = nlohmann::json::object();
    for (int param : {kParamDeEssThresh, kParamFocusFreq, kParamDipsesThresh, kParamNoiseReduce}) {
        settings[optionName(param)] = nullptr;
    }
    for (const auto& [param, units] : p.values()) settings[optionName(param)] = units;
    return {{"seconds", m.seconds},
            {"files", m.files},
            {"measured",
             {{"floorDb", optional(m.floorDb)},
              {"floorPeakDb", optional(m.floorTopDb)},
              {"speechDb", optional(m.speechDb)},
              {"pauseSeconds", m.pauseSeconds},
              {"speechSeconds", m.speechSeconds},
              {"sibilantPeakHz", optional(m.sibilantPeakHz)},
              {"sibilantBandDb", optional(m.sibilantBandDb)},
              {"restBandDb", optional(m.restBandDb)},
              {"sibilantSeconds", m.sibilantSeconds}}},
            {"settings", settings},
            {"flags", proposalFlags(p)},
            {"reasons", p.reasons},
            {"unmeasured", p.unmeasured}};
}

}  // namespace lumisere::cli
