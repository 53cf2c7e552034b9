#include "plugin/plugin_instance.h"

#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>

#include "platform/graphics_runtime.h"
#include "platform/library_hooks.h"
#include "plugin/dispatcher.h"

namespace lumisere {

static_assert(std::is_standard_layout_v<PluginInstance> && offsetof(PluginInstance, header) == 0,
              "the AEffect header must be the first member so the host's pointer is the record's");

namespace {

// Library-wide state, one copy per loaded library. Creation and close may come from several host
// threads; they are serialised here (never on the audio path) so the graphics runtime starts with the
// first live instance and stops with the last, whatever the interleaving.
std::mutex gLifecycleMutex;
std::atomic<int> gInstanceCount{0};
std::atomic<std::uintptr_t> gGraphicsToken{0};
std::atomic<void*> gModuleHandle{nullptr};

void VSTCALLBACK processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (PluginInstance* instance = PluginInstance::fromEffect(effect)) {
        instance->processBlock(inputs, outputs, sampleFrames);
    }
}

void VSTCALLBACK setParameterEntry(AEffect* effect, VstInt32 index, float value) {
    if (PluginInstance* instance = PluginInstance::fromEffect(effect)) instance->setParameter(index, value);
}

float VSTCALLBACK getParameterEntry(AEffect* effect, VstInt32 index) {
    const PluginInstance* instance = PluginInstance::fromEffect(effect);
    return instance == nullptr ? 0.0f : instance->getParameter(index);
}

bool isValidParam(VstInt32 index) { return static_cast<std::uint32_t>(index) < kNumParams; }

}  // namespace

PluginInstance::PluginInstance(audioMasterCallback host) : hostCallback(host) {
    for (int i = 0; i < kNumParams; ++i) params[i].store(kParams[i].defaultValue, std::memory_order_relaxed);
    for (auto& m : meters) m.store(0.0f, std::memory_order_relaxed);
    applySampleRate(static_cast<float>(dsp::kDefaultSampleRate));
    dsp.retune(sampleRate.load(std::memory_order_relaxed),
               focusFrequencyHz(params[kParamFocusFreq].load(std::memory_order_relaxed)));

    std::memset(&header, 0, sizeof header);
    header.magic = kEffectMagic;
    header.dispatcher = dispatcherEntry;
    header.process = processEntry;
    header.setParameter = setParameterEntry;
    header.getParameter = getParameterEntry;
    header.numPrograms = 1;
    header.numParams = kNumParams;
    header.numInputs = 2;
    header.numOutputs = 2;
    header.flags = effFlagsHasEditor | effFlagsCanReplacing;
    header.object = this;
    header.uniqueID = kUniqueId;
    header.version = kPluginVersion;
    header.processReplacing = processEntry;
    header.processDoubleReplacing = nullptr;
}

float PluginInstance::getParameter(VstInt32 index) const {
    return isValidParam(index) ? params[index].load(std::memory_order_relaxed) : 0.0f;
}

void PluginInstance::setParameter(VstInt32 index, float value) {
    if (!isValidParam(index)) return;
    params[index].store(clampParam(value), std::memory_order_relaxed);
    // The focus band-pass follows at the audio core's next block start (dsp::DspState::retune).
}

void PluginInstance::applySampleRate(float requested) {
    sampleRate.store(dsp::acceptedSampleRate(requested), std::memory_order_relaxed);
}

dsp::BlockSettings PluginInstance::takeBlockSettings() const {
    float p[kNumParams];
    for (int i = 0; i < kNumParams; ++i) p[i] = params[i].load(std::memory_order_relaxed);
    dsp::BlockSettings s;
    s.sampleRate = sampleRate.load(std::memory_order_relaxed);
    s.focusHz = focusFrequencyHz(p[kParamFocusFreq]);
    s.deEssThresholdDb = deEssThresholdDb(p[kParamDeEssThresh]);
    s.listen = isSwitchOn(p[kParamListenSibilance]);
    s.gateThresholdDb = gateThresholdDb(p[kParamDipsesThresh]);
    s.gateFloorDb = gateFloorDb(p[kParamNoiseReduce]);
    s.gateSlope = gateSlope(p[kParamNoiseReduce]);
    s.air = airAmount(p[kParamAirSilk]);
    s.outputTrimDb = outputTrimDb(p[kParamOutputTrim]);
    s.mix = dryWetMix(p[kParamDryWet]);
    return s;
}

void PluginInstance::processBlock(const float* const* inputs, float* const* outputs, VstInt32 frameCount) {
    // A host that hands over no buffers gets nothing read, written or advanced.
    if (inputs == nullptr || outputs == nullptr || inputs[0] == nullptr || inputs[1] == nullptr ||
        outputs[0] == nullptr || outputs[1] == nullptr) {
        return;
    }
    if (suspended.load(std::memory_order_relaxed) ||
        isSwitchOn(params[kParamBypass].load(std::memory_order_relaxed))) {
        if (frameCount > 0) {
            for (int ch = 0; ch < 2; ++ch) {
                if (outputs[ch] != inputs[ch]) {
                    std::memmove(outputs[ch], inputs[ch], static_cast<std::size_t>(frameCount) * sizeof(float));
                }
            }
        }
        return;
    }

    const dsp::BlockPeaks peaks = dsp::processBlock(dsp, takeBlockSettings(), inputs, outputs, frameCount);

    dsp::MeterValues previous;
    previous.outPeakL = meter(kMeterOutPeakL);
    previous.outPeakR = meter(kMeterOutPeakR);
    previous.deEssReduction = meter(kMeterDeEssReduction);
    previous.gateReduction = meter(kMeterGateReduction);
    const dsp::MeterValues next = dsp::smoothMeters(previous, peaks);
    meters[kMeterOutPeakL].store(next.outPeakL, std::memory_order_relaxed);
    meters[kMeterOutPeakR].store(next.outPeakR, std::memory_order_relaxed);
    meters[kMeterDeEssReduction].store(next.deEssReduction, std::memory_order_relaxed);
    meters[kMeterGateReduction].store(next.gateReduction, std::memory_order_relaxed);
}

AEffect* createInstance(audioMasterCallback host) {
    if (host == nullptr) return nullptr;
    auto* instance = new (std::nothrow) PluginInstance(host);
    if (instance == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> lock(gLifecycleMutex);
        if (gInstanceCount.fetch_add(1) == 0) gGraphicsToken.store(platform::startGraphicsRuntime());
    }
    return &instance->header;
}

void destroyInstance(PluginInstance* instance) {
    if (instance == nullptr) return;
    delete instance;
    std::lock_guard<std::mutex> lock(gLifecycleMutex);
    if (gInstanceCount.fetch_sub(1) == 1) {
        const std::uintptr_t token = gGraphicsToken.exchange(0);
        if (token != 0) platform::stopGraphicsRuntime(token);
    }
}

int liveInstanceCount() { return gInstanceCount.load(); }

std::uintptr_t graphicsRuntimeToken() { return gGraphicsToken.load(); }

void* libraryModuleHandle() { return gModuleHandle.load(); }

}  // namespace lumisere

namespace lumisere::platform {

void onLibraryLoad(void* module) { gModuleHandle.store(module); }

void onLibraryUnload(bool processExiting) {
    // At process exit the loader lock is held and other libraries may already be gone: calling into
    // the graphics runtime then can deadlock or crash, and the system reclaims everything anyway.
    if (processExiting) return;
    // Unloaded with instances still open: the runtime must not outlive the code that started it.
    const std::uintptr_t token = gGraphicsToken.exchange(0);
    if (token != 0) stopGraphicsRuntime(token);
}

}  // namespace lumisere::platform
