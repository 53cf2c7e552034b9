#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "plugin_library.h"
#include "test_signals.h"

namespace lumisere::probe {

namespace {

using signals::StereoSignal;

// One pass through a fresh instance, block by block as a host plays it; appends to out.
bool renderPass(VstPluginMainProc entry, const StereoSignal& signal, const ParameterSetting* settings,
                std::size_t settingCount, std::vector<float>& out) {
    AEffect* effect = host::startEffect(entry, signals::kPortableRate, kRenderBlockFrames);
    if (effect == nullptr) return false;
    for (std::size_t i = 0; i < settingCount; ++i) effect->setParameter(effect, settings[i].index, settings[i].value);
    const StereoSignal rendered = host::renderInBlocks(effect, signal, kRenderBlockFrames);
    host::stopEffect(effect);
    for (std::size_t i = 0; i < rendered.left.size(); ++i) out.insert(out.end(), {rendered.left[i], rendered.right[i]});
    return true;
}

bool readFloats(const std::string& path, std::vector<float>& samples) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "vst_probe: cannot open %s\n", path.c_str());
        return false;
    }
    std::vector<char> bytes;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || bytes.size() % sizeof(float) != 0) {
        std::fprintf(stderr, "vst_probe: %s is not a float32 render (%zu bytes)\n", path.c_str(), bytes.size());
        return false;
    }
    samples.resize(bytes.size() / sizeof(float));
    if (!bytes.empty()) std::memcpy(samples.data(), bytes.data(), bytes.size());
    return true;
}

}  // namespace

bool renderPasses(VstPluginMainProc entry, std::vector<float>& out) {
    const StereoSignal signal = signals::portableSpeech();
    out.reserve(4 * signal.left.size());
    return renderPass(entry, signal, nullptr, 0, out) &&
           renderPass(entry, signal, kStrongSettings, std::size(kStrongSettings), out);
}

int renderToFile(VstPluginMainProc entry, const std::string& path) {
    std::vector<float> out;
    if (!renderPasses(entry, out)) {
        std::fprintf(stderr, "vst_probe: the plug-in gave no usable instance\n");
        return 1;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "vst_probe: cannot write %s\n", path.c_str());
        return 1;
    }
    const bool written = std::fwrite(out.data(), sizeof(float), out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "vst_probe: writing %s failed\n", path.c_str());
        return 1;
    }
    std::printf("rendered  %zu frames x 2 passes, %g Hz, %d-frame blocks -> %s\n", out.size() / 4,
                signals::kPortableRate, kRenderBlockFrames, path.c_str());
    return 0;
}

int compareRenders(const std::string& expectedPath, const std::string& actualPath, double tolerance) {
    std::vector<float> expected, actual;
    if (!readFloats(expectedPath, expected) || !readFloats(actualPath, actual)) return 2;
    if (expected.size() != actual.size() || expected.empty()) {
        std::printf("renders differ: %zu samples in %s, %zu in %s\n", expected.size(), expectedPath.c_str(),
                    actual.size(), actualPath.c_str());
        return 1;
    }
    // Position of sample i: pass, frame within the pass, channel.
    const std::size_t passSamples = expected.size() / 2;
    auto describe = [&](std::size_t i) {
        char where[96];
        std::snprintf(where, sizeof where, "pass %zu frame %zu %s", i / passSamples + 1, (i % passSamples) / 2,
                      i % 2 == 0 ? "left" : "right");
        return std::string(where);
    };
    double largest = 0.0;
    std::size_t largestAt = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (!std::isfinite(expected[i]) || !std::isfinite(actual[i])) {
            std::printf("renders differ: a non-finite sample at %s (%g vs %g)\n", describe(i).c_str(),
                        static_cast<double>(expected[i]), static_cast<double>(actual[i]));
            return 1;
        }
        const double difference = std::fabs(static_cast<double>(expected[i]) - static_cast<double>(actual[i]));
        if (difference > largest) {
            largest = difference;
            largestAt = i;
        }
    }
    const bool match = largest <= tolerance;
    std::printf("renders %s: largest difference %.3g at %s (%.9g vs %.9g), tolerance %.3g, %zu samples\n",
                match ? "match" : "differ", largest, describe(largestAt).c_str(),
                static_cast<double>(expected[largestAt]), static_cast<double>(actual[largestAt]), tolerance,
                expected.size());
    return match ? 0 : 1;
}

}  // namespace lumisere::probe
