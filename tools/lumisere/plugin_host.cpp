#include "plugin_host.h"

#include <algorithm>
#include <string>

#include "audio_file.h"
#include "dsp/process_block.h"
#include "plugin/plugin_instance.h"

// The plug-in's exported entry point, linked into the tool.
extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host);

namespace lumisere::cli {

namespace {

// The plug-in never calls its host; answer the version question like any 2.4 host would.
VstIntPtr VSTCALLBACK toolHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstIntPtr value = 0, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, 0, value, nullptr, opt);
}

dsp::MeterValues publishedMeters(const PluginInstance& instance) {
    dsp::MeterValues m;
    m.outPeakL = instance.meter(kMeterOutPeakL);
    m.outPeakR = instance.meter(kMeterOutPeakR);
    m.deEssReduction = instance.meter(kMeterDeEssReduction);
    m.gateReduction = instance.meter(kMeterGateReduction);
    return m;
}

// One published meter is decayed + weight * figure, both from the plug-in's smoothing step: the
// decay is that step with a block figure of 0, the weight that step from 0 with a figure of 1.
double blockFigure(float after, float decayed, float weight) {
    if (weight <= 0.0f) return after;
    return std::max(0.0, (static_cast<double>(after) - static_cast<double>(decayed)) / static_cast<double>(weight));
}

}  // namespace

HostedPlugin::HostedPlugin(int sampleRate, int blockSize, const std::array<float, kNumParams>& params) {
    effect_ = VSTPluginMain(toolHostCallback);
    if (effect_ == nullptr || effect_->magic != kEffectMagic) throw FileError("the plug-in did not start");
    instance_ = static_cast<PluginInstance*>(effect_->object);
    dispatch(effect_, effOpen);
    dispatch(effect_, effSetSampleRate, 0, static_cast<float>(sampleRate));
    // The plug-in falls back to its default rate for rates it cannot run at.
    if (instance_->sampleRate.load() != static_cast<double>(static_cast<float>(sampleRate))) {
        dispatch(effect_, effClose);
        throw FileError("the plug-in does not run at " + std::to_string(sampleRate) + " Hz");
    }
    dispatch(effect_, effSetBlockSize, blockSize);
    dispatch(effect_, effMainsChanged, 1);
    for (VstInt32 i = 0; i < kNumParams; ++i) effect_->setParameter(effect_, i, params[i]);
}

HostedPlugin::~HostedPlugin() {
    dispatch(effect_, effMainsChanged, 0);
    dispatch(effect_, effClose);
}

BlockReductions HostedPlugin::process(float* const inputs[2], float* const outputs[2], int frames) {
    const dsp::MeterValues before = publishedMeters(*instance_);
    effect_->processReplacing(effect_, const_cast<float**>(inputs), const_cast<float**>(outputs), frames);
    const dsp::MeterValues after = publishedMeters(*instance_);

    const dsp::MeterValues decayed = dsp::smoothMeters(before, dsp::BlockPeaks{});
    dsp::BlockPeaks unit;
    unit.deEssMax = 1.0f;
    unit.gateMax = 1.0f;
    const dsp::MeterValues weight = dsp::smoothMeters(dsp::MeterValues{}, unit);

    BlockReductions r;
    r.deEssDb = blockFigure(after.deEssReduction, decayed.deEssReduction, weight.deEssReduction);
    r.gateDb = blockFigure(after.gateReduction, decayed.gateReduction, weight.gateReduction);
    return r;
}

}  // namespace lumisere::cli
