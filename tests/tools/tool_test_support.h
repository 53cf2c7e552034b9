// Helpers of the command-line tool's tests: a scratch folder, audio files written and read through
// libsndfile, and runs of the built tool.
#pragma once

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "test_signals.h"

namespace lumisere::testing {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device seed;
        path_ = fs::temp_directory_path() / ("lumisere-tool-test-" + std::to_string(seed()));
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Interleaved samples in -1..1.
struct Audio {
    int rate = 44100;
    int channels = 2;
    int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::vector<float> samples;
    sf_count_t frames() const { return static_cast<sf_count_t>(samples.size()) / channels; }
};

inline void writeAudio(const std::string& path, const Audio& audio) {
    SF_INFO info{};
    info.samplerate = audio.rate;
    info.channels = audio.channels;
    info.format = audio.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    sf_writef_float(file, audio.samples.data(), audio.frames());
    sf_close(file);
}

inline Audio readAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    Audio audio;
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    audio.format = info.format;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Writes interleaved samples exactly as given: left-justified 32-bit words, or doubles.
template <typename Sample>
void writeExact(const std::string& path, int format, int channels, const std::vector<Sample>& samples) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
    if constexpr (std::is_same_v<Sample, int>) {
        sf_writef_int(file, samples.data(), frames);
    } else {
        sf_writef_double(file, samples.data(), frames);
    }
    sf_close(file);
}

// Samples exactly as libsndfile hands them out: integers as left-justified 32-bit words, or doubles
// (the tool's own reading, exact for PCM up to 32 bits and for doubles).
template <typename Sample>
std::vector<Sample> readExact(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) throw std::runtime_error("cannot read " + path);
    std::vector<Sample> samples(static_cast<std::size_t>(info.frames * info.channels));
    if constexpr (std::is_same_v<Sample, int>) {
        sf_readf_int(file, samples.data(), info.frames);
    } else {
        sf_readf_double(file, samples.data(), info.frames);
    }
    sf_close(file);
    return samples;
}

inline std::vector<int> readInts(const std::string& path) { return readExact<int>(path); }
inline std::vector<double> readDoubles(const std::string& path) { return readExact<double>(path); }

// The kit's sine of `hz` at `amplitude` on every channel.
inline Audio sine(double hz, double amplitude, double seconds, int channels = 2, int rate = 44100) {
    Audio a;
    a.rate = rate;
    a.channels = channels;
    for (float v : signals::sine(hz, amplitude, rate, seconds).left) a.samples.insert(a.samples.end(), channels, v);
    return a;
}

// Uniform white noise with peaks at `amplitude`, a different stream per channel.
inline Audio noise(double amplitude, double seconds, int channels = 2, int rate = 44100, unsigned seed = 7) {
    Audio a;
    a.rate = rate;
    a.channels = channels;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    a.samples.resize(static_cast<std::size_t>(seconds * rate) * static_cast<std::size_t>(channels));
    for (float& s : a.samples) s = static_cast<float>(uniform(random));
    return a;
}

inline void append(Audio& a, const Audio& b) { a.samples.insert(a.samples.end(), b.samples.begin(), b.samples.end()); }

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Whether the tool can run with permission bits in force. They stop every user but root, so as root
// the run is made as nobody through setpriv (from util-linux); the scratch folder is readable for
// all, not writable.
inline bool permissionsApply() {
    return ::geteuid() != 0 || std::system("setpriv --version > /dev/null 2>&1") == 0;
}

// Runs the built tool with the arguments (each quoted for the shell) from inside `dir`; with
// `unprivileged`, as nobody when we are root (see permissionsApply()).
inline ToolRun runTool(const ScratchDir& dir, const std::vector<std::string>& args, bool unprivileged = false) {
    const std::string asNobody = unprivileged && ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::string command = "cd '" + dir.path().string() + "' && " + asNobody + "'" LUMISERE_TOOL_PATH "'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " > .tool-stdout 2> .tool-stderr";
    const int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readText(dir / ".tool-stdout");
    run.err = readText(dir / ".tool-stderr");
    fs::remove(dir / ".tool-stdout");
    fs::remove(dir / ".tool-stderr");
    return run;
}

}  // namespace lumisere::testing
