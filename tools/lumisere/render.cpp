#include "render.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "plugin_host.h"

namespace lumisere::cli {

namespace {

// The plug-in takes floats: a double file's sample past the float range goes in at the range's
// edge rather than as an infinity the file does not hold (the plug-in takes those as silence).
float toPluginSample(double x) {
    return std::isfinite(x) ? static_cast<float>(std::clamp(x, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)))
                            : static_cast<float>(x);
}

// The plug-in's output is finite for any input, but can overflow the float range near its top;
// such a sample is written as the largest float of its sign.
double fromPluginSample(float y) { return std::isinf(y) ? std::copysign(static_cast<double>(FLT_MAX), y) : y; }

}  // namespace

FileReport renderFile(const std::string& input, const std::string& output, const RenderOptions& options,
                      RenderProgress& progress, const std::atomic<bool>& stop) {
    AudioReader reader(input);
    const SF_INFO& in = reader.info();
    if (in.channels > 2) {
        throw FileError("has " + std::to_string(in.channels) + " channels; only mono and stereo files can be processed");
    }
    progress.framesTotal = reader.lengthKnown() ? in.frames : 0;

    SF_INFO out{};
    out.samplerate = in.samplerate;
    out.channels = in.channels;
    out.format = outputFormat(in, options.format);

    HostedPlugin plugin(in.samplerate, options.blockSize, options.params);
    AudioWriter writer(output, out);

    FileReport report;
    report.input = input;
    report.output = output;
    report.sampleRate = in.samplerate;
    report.channels = in.channels;
    report.bypassed = isSwitchOn(options.params[kParamBypass]);

    const auto block = static_cast<std::size_t>(options.blockSize);
    const auto channels = static_cast<std::size_t>(in.channels);
    std::vector<double> interleaved(block * channels);
    std::vector<float> inL(block), inR(block), outL(block), outR(block);
    float* const inputs[2] = {inL.data(), inR.data()};
    float* const outputs[2] = {outL.data(), outR.data()};
    double peak = 0.0;

    for (;;) {
        if (stop.load(std::memory_order_relaxed)) throw FileError("interrupted");
        const sf_count_t frames = reader.read(interleaved.data(), options.blockSize);
        if (frames == 0) break;
        const auto n = static_cast<std::size_t>(frames);
        // Bypassed, the plug-in would copy its float buffers; the samples are copied here instead,
        // at the file's own precision (32-bit PCM and doubles do not fit a float).
        if (!report.bypassed) {
            // A mono file feeds both inputs; the outputs are then equal and the left one is written.
            for (std::size_t i = 0; i < n; ++i) {
                inL[i] = toPluginSample(interleaved[i * channels]);
                inR[i] = toPluginSample(interleaved[i * channels + channels - 1]);
            }
            const BlockReductions r = plugin.process(inputs, outputs, static_cast<int>(frames));
            report.deEss.addBlock(r.deEssDb, frames);
            report.gate.addBlock(r.gateDb, frames);
            for (std::size_t i = 0; i < n; ++i) {
                interleaved[i * channels] = fromPluginSample(outL[i]);
                if (channels == 2) interleaved[i * channels + 1] = fromPluginSample(outR[i]);
            }
        }
        for (std::size_t i = 0; i < n * channels; ++i) peak = std::max(peak, std::fabs(interleaved[i]));
        writer.write(interleaved.data(), frames);
        report.frames += frames;
        progress.framesDone = report.frames;
    }
    if (report.frames == 0) throw FileError("contains no audio (zero length)");
    // A stop that came while the last read waited (a pipe) still leaves no output.
    if (stop.load(std::memory_order_relaxed)) throw FileError("interrupted");

    writer.commit(options.replace);
    report.framesAnnounced = reader.framesAnnounced();
    report.lengthKnown = reader.lengthKnown();
    report.outputPeak = peak;
    return report;
}

}  // namespace lumisere::cli
