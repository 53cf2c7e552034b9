// `lumisere suggest`: measures recordings with the plug-in's own detectors and proposes De-Ess
// Thresh, Focus Freq, Dipses Thresh and Noise Reduce, with the reasons in words.
//
// The gate side follows the hiss gate's own detector (the louder channel, its envelope with the
// plug-in's attack and level-bent release) frame by frame (10 ms): the quiet stretches give the hiss
// floor, the frames well above it the speech. The de-esser side runs the de-esser's own focus
// band-pass at centres across the Focus Freq range, with its band and broadband envelopes: speech
// frames whose band carries the share of the broadband level the de-esser itself asks for are the
// esses; where their energy peaks is the focus, and how far their band level stands above the rest of
// the voice sets the threshold. Levels are the detectors' (envelope peaks in dBFS), the same numbers
// the thresholds are compared with, not RMS.
//
// Nothing is guessed: a value that cannot be measured (no pauses, no speech, no esses, silence, a
// recording too short) is not proposed, and the proposal says why.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/parameters.h"

namespace lumisere::cli {

// Less than this much audio, over all files, is too short to tell pauses from speech.
constexpr double kShortestMeasurableSeconds = 1.0;

// What the detectors showed over all the files together.
struct Measurements {
    double seconds = 0.0;       // audio measured
    int files = 0;              // files measured
    bool silent = false;        // no sample above digital silence
    std::vector<float> frameLevelsDb;  // the gate detector's level of every frame that is not silent

    std::optional<double> floorDb;     // the gate detector in the pauses: median
    std::optional<double> floorTopDb;  // and its 95th percentile (the hiss's peaks)
    std::optional<double> speechDb;    // the median level of the speech frames
    double pauseSeconds = 0.0;
    double speechSeconds = 0.0;

    std::vector<double> bankHz;              // focus band-pass centres measured
    std::vector<double> sibilantSpectrumDb;  // energy per Hz in each band over the sibilant frames
    std::vector<double> restSpectrumDb;      // the same over the other speech frames
    std::optional<double> sibilantPeakHz;    // where the sibilant spectrum peaks
    std::optional<double> sibilantBandDb;    // the band envelope there: median over the sibilant frames
    std::optional<double> restBandDb;        // and its median over the rest of the voice
    double sibilantSeconds = 0.0;
};

// A file that could not be measured and why.
struct MeasureFailure {
    std::string input;
    std::string error;
};

// Measures the files, each at its own rate; a file that cannot be read goes to `failures` and the
// rest are measured. Stops between blocks when `stop` is set (then the measurements are partial).
Measurements measureFiles(const std::vector<std::string>& inputs, std::vector<MeasureFailure>& failures,
                          const std::atomic<bool>& stop);

struct Proposal {
    std::optional<double> deEssThreshDb;
    std::optional<double> focusHz;
    std::optional<double> dipsesThreshDb;
    std::optional<double> noiseReduceDb;
    std::vector<std::string> reasons;     // what was measured and what it means, for a person
    std::vector<std::string> unmeasured;  // what could not be measured and why

    bool empty() const { return !deEssThreshDb && !focusHz && !dipsesThreshDb && !noiseReduceDb; }
    // The proposed values as (parameter, units), in the table's order.
    std::vector<std::pair<int, double>> values() const;
    // The nine normalised values: the defaults with the proposed ones over them.
    std::array<float, kNumParams> params() const;
};

Proposal propose(const Measurements& m);

// The settings as the tool's options ("--de-ess-thresh -30 --focus-freq 7.4k ..."), "" when none.
std::string proposalFlags(const Proposal& p);

// The whole answer for a person: what was measured, the reasons, and the flags.
std::string proposalText(const Measurements& m, const Proposal& p);

// A preset file the tool reads back with --preset: the settings, the reasons as comments.
std::string proposalPresetText(const Proposal& p);

// The measurements and the proposal for scripts; a value not measured is null.
nlohmann::json proposalJson(const Measurements& m, const Proposal& p);

}  // namespace lumisere::cli
