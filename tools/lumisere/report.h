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
    bool bypassed = false;
    ReductionStats deEss;
    ReductionStats gate;
    double outputPeak = 0.0;  // linear, 0..1
};

// A few lines for a person.
std::string reportText(const FileReport& report);

// The same figures for scripts; dB values are numbers, shares 0..1, a silent output's peak in dBFS is
// null.
nlohmann::json reportJson(const FileReport& report);

}  // namespace lumisere::cli
