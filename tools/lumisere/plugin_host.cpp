#include "plugin_host.h"

#include <string>

#include "audio_file.h"
#include "formats/vst2/vst2_instance.h"
#include "plugin_library.h"

// The plug-in's exported entry point, linked into the tool.
extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host);

namespace lumisere::cli {

namespace {

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstIntPtr value = 0, float opt = 0.0f) {
    return host::dispatch(effect, opcode, 0, value, nullptr, opt);
}

}  // namespace

HostedPlugin::HostedPlugin(int sampleRate, int blockSize, const std::array<float, kNumParams>& params) {
    effect_ = VSTPluginMain(host::stubHostCallback);
    if (effect_ == nullptr || effect_->magic != kEffectMagic) throw FileError("the plug-in did not start");
    processor_ = vst2::processorOf(effect_);
    dispatch(effect_, effOpen);
    dispatch(effect_, effSetSampleRate, 0, static_cast<float>(sampleRate));
    // The plug-in falls back to its default rate for rates it cannot run at.
    if (processor_->sampleRate() != static_cast<double>(static_cast<float>(sampleRate))) {
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
    effect_->processReplacing(effect_, const_cast<float**>(inputs), const_cast<float**>(outputs), frames);
    const dsp::BlockPeaks block = processor_->lastBlock();
    BlockReductions r;
    r.deEssDb = block.deEssMax;
    r.gateDb = block.gateMax;
    return r;
}

}  // namespace lumisere::cli
