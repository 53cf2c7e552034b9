#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumisere::cli {

namespace {

double peakDbfs(double peak) { return 20.0 * std::log10(peak); }

template <typename... Args>
std::string printed(const char* format, Args... args) {
    char line[160];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

nlohmann::json statsJson(const ReductionStats& stats, const char* shareName) {
    return {{"maxDb", stats.maxDb()}, {"meanDb", stats.meanDb()}, {shareName, stats.shareAudible()}};
}

}  // namespace

void ReductionStats::addBlock(double reductionDb, std::int64_t frames) {
    if (frames <= 0) return;
    max_ = std::max(max_, reductionDb);
    weightedSum_ += reductionDb * static_cast<double>(frames);
    frames_ += frames;
    if (reductionDb > kAudibleReductionDb) audibleFrames_ += frames;
}

double ReductionStats::meanDb() const { return frames_ > 0 ? weightedSum_ / static_cast<double>(frames_) : 0.0; }

double ReductionStats::shareAudible() const {
    return frames_ > 0 ? static_cast<double>(audibleFrames_) / static_cast<double>(frames_) : 0.0;
}

std::string reportText(const FileReport& r) {
    const double seconds = r.sampleRate > 0 ? static_cast<double>(r.frames) / r.sampleRate : 0.0;
    std::string text = r.input + " -> " + r.output + "\n";
    text += printed("  %.2f s at %d Hz, %s\n", seconds, r.sampleRate, r.channels == 1 ? "mono" : "stereo");
    if (r.bypassed) {
        text += "  bypassed: the input passed through unchanged\n";
    } else {
        text += printed("  de-esser  max %5.1f dB  mean %5.1f dB  above 1 dB %5.1f %% of the time\n", r.deEss.maxDb(),
                        r.deEss.meanDb(), 100.0 * r.deEss.shareAudible());
        text += printed("  hiss gate max %5.1f dB  mean %5.1f dB  active     %5.1f %% of the time\n", r.gate.maxDb(),
                        r.gate.meanDb(), 100.0 * r.gate.shareAudible());
    }
    text += r.outputPeak > 0.0 ? printed("  output    peak %.1f dBFS\n", peakDbfs(r.outputPeak))
                               : std::string("  output    silent\n");
    return text;
}

nlohmann::json reportJson(const FileReport& r) {
    nlohmann::json j = {
        {"input", r.input},
        {"output", r.output},
        {"sampleRate", r.sampleRate},
        {"channels", r.channels},
        {"frames", r.frames},
        {"seconds", r.sampleRate > 0 ? static_cast<double>(r.frames) / r.sampleRate : 0.0},
        {"bypassed", r.bypassed},
        {"deEsser", statsJson(r.deEss, "shareAbove1Db")},
        {"gate", statsJson(r.gate, "shareActive")},
        {"outputPeak", r.outputPeak},
    };
    j["outputPeakDbfs"] = r.outputPeak > 0.0 ? nlohmann::json(peakDbfs(r.outputPeak)) : nlohmann::json(nullptr);
    return j;
}

}  // namespace lumisere::cli
