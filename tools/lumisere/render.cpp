#include "render.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "plugin_host.h"

namespace lumisere::cli {

FileReport renderFile(const std::string& input, const std::string& output, const RenderOptions& options,
                      RenderProgress& progress, const std::atomic<bool>& stop) {
    AudioReader reader(input);
    const SF_INFO& in = reader.info();
    if (in.channels > 2) {
        throw FileError("has " + std::to_string(in.channels) + " channels; only mono and stereo files can be processed");
    }
    progress.framesTotal = in.frames;

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
    std::vector<float> interleaved(block * channels);
    std::vector<float> inL(block), inR(block), outL(block), outR(block);
    float* const inputs[2] = {inL.data(), inR.data()};
    float* const outputs[2] = {outL.data(), outR.data()};
    float peak = 0.0f;

    for (;;) {
        if (stop.load(std::memory_order_relaxed)) throw FileError("interrupted");
        const sf_count_t frames = reader.read(interleaved.data(), options.blockSize);
        if (frames == 0) break;
        const auto n = static_cast<std::size_t>(frames);
        // A mono file feeds both inputs; the outputs are then equal and the left one is written.
        for (std::size_t i = 0; i < n; ++i) {
            inL[i] = interleaved[i * channels];
            inR[i] = interleaved[i * channels + channels - 1];
        }
        const BlockReductions r = plugin.process(inputs, outputs, static_cast<int>(frames));
        report.deEss.addBlock(r.deEssDb, frames);
        report.gate.addBlock(r.gateDb, frames);
        for (std::size_t i = 0; i < n; ++i) {
            interleaved[i * channels] = outL[i];
            if (channels == 2) interleaved[i * channels + 1] = outR[i];
            peak = std::max({peak, std::fabs(outL[i]), channels == 2 ? std::fabs(outR[i]) : 0.0f});
        }
        writer.write(interleaved.data(), frames);
        report.frames += frames;
        progress.framesDone = report.frames;
    }
    if (report.frames == 0) throw FileError("contains no audio (zero length)");

    writer.commit(options.replace);
    report.outputPeak = peak;
    return report;
}

}  // namespace lumisere::cli
