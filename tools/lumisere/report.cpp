#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

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

// The length of the UTF-8 character that starts at text[i]; 0 when the bytes there are not one
// (a stray continuation byte, a cut sequence, an overlong form, a surrogate, past U+10FFFF).
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
    }
    return length;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string escapedBytes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            out += printed("\\x%02X", static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            out += text[i] == '\\' ? std::string_view("\\\\") : text.substr(i, length);
            i += length;
        }
    }
    return out;
}

}  // namespace

nlohmann::json textEntry(const std::vector<std::pair<const char*, std::string>>& texts) {
    const bool escape = !std::all_of(texts.begin(), texts.end(), [](const auto& t) { return isUtf8(t.second); });
    nlohmann::json entry = nlohmann::json::object();
    for (const auto& [key, text] : texts) entry[key] = escape ? escapedBytes(text) : text;
    if (escape) entry["escapedNames"] = true;
    return entry;
}

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
    if (!truncationText(r).empty()) text += "  " + truncationText(r) + "\n";
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

std::string truncationText(const FileReport& r) {
    if (!r.lengthKnown) {
        return printed("length unknown: the file announces none, it holds %lld frames", static_cast<long long>(r.frames));
    }
    if (r.framesAnnounced <= 0) return "";
    return printed("cut short: the header announces %lld frames, the file holds %lld",
                   static_cast<long long>(r.framesAnnounced), static_cast<long long>(r.frames));
}

nlohmann::json reportJson(const FileReport& r) {
    nlohmann::json j = textEntry({{"input", r.input}, {"output", r.output}});
    j.update({
        {"sampleRate", r.sampleRate},
        {"channels", r.channels},
        {"frames", r.frames},
        {"seconds", r.sampleRate > 0 ? static_cast<double>(r.frames) / r.sampleRate : 0.0},
        {"truncated", r.lengthKnown ? nlohmann::json(r.framesAnnounced > 0) : nlohmann::json(nullptr)},
        {"bypassed", r.bypassed},
        {"deEsser", statsJson(r.deEss, "shareAbove1Db")},
        {"gate", statsJson(r.gate, "shareActive")},
        {"outputPeak", r.outputPeak},
    });
    if (r.framesAnnounced > 0) j["framesAnnounced"] = r.framesAnnounced;
    j["outputPeakDbfs"] = r.outputPeak > 0.0 ? nlohmann::json(peakDbfs(r.outputPeak)) : nlohmann::json(nullptr);
    return j;
}

}  // namespace lumisere::cli
