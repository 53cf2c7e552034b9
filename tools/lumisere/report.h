// The report of one processed file: how much the de-esser and the hiss gate reduced, and how loud the
// output got.
//
// Both reductions are taken per process block (the --block size): the figure of a block is the
// largest reduction inside it, in dB, as the plug-in's meters see it. Over the file:
//   max    the largest figure of any block;
//   mean   the average of the block figures, weighted by the frames of each block;
//   share  the part of the file's time spent in blocks whose figure is above 1 dB ("above 1 dB" for
//          the de-esser, "active" for the gate).
// The output peak is the largest absolute sample the plug-in wrote, before the output file's
// encoding.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumisere::cli {

// A reduction counts as doing something above this many dB.
constexpr double kAudibleReductionDb = 1.0;

class ReductionStats {
public:
    void addBlock(double reductionDb, std::int64_t frames);

    double maxDb() const { return max_; }
    double meanDb() const;
    // 0..1 of the frames.
    double shareAudible() const;

private:
    double max_ = 0.0;
    double weightedSum_ = 0.0;
    std::int64_t frames_ = 0;
    std::int64_t audibleFrames_ = 0;
};

struct FileReport {
    std::string input;
    std::string output;
    int sampleRate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    std::int64_t framesAnnounced = 0;  // what the input's header announced, when it held fewer; else 0
    bool lengthKnown = true;           // false when the input announced no length at all
    bool bypassed = false;
    ReductionStats deEss;
    ReductionStats gate;
    double outputPeak = 0.0;  // linear, 0..1
};

// A few lines for a person.
std::string reportText(const FileReport& report);

// One line for stderr when the input was cut short ("cut short: ...") or announced no length
// ("length unknown: ..."), "" otherwise.
std::string truncationText(const FileReport& report);

// The same figures for scripts; dB values are numbers, shares 0..1, a silent output's peak in dBFS is
// null; "truncated" says whether the input was cut short (then "framesAnnounced" follows), null when
// the input announced no length to compare with.
nlohmann::json reportJson(const FileReport& report);

// A JSON object with the given texts of one file (names, a message). JSON holds Unicode text but a
// Linux file name is any bytes, so when one of them is not valid UTF-8, all of them are written
// escaped, a backslash as \\ and each byte that is not part of a UTF-8 character as \xHH, and the
// object gets "escapedNames": true; read that way, every name comes back byte for byte.
nlohmann::json textEntry(const std::vector<std::pair<const char*, std::string>>& texts);

}  // namespace lumisere::cli
