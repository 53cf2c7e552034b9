#include "formats/vst3/vst3_plugin.h"

#include <cstring>
#include <new>
#include <string>

#include "formats/module/host_entry.h"
#include "formats/module/library.h"

namespace lumisere::vst3 {

namespace {

void copyText(const char* text, char16* out, std::size_t capacity) {
    std::size_t i = 0;
    for (; text != nullptr && text[i] != '\0' && i + 1 < capacity; ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[i] = 0;
}

// A host's UTF-16 text as ASCII; false for anything else (no parameter text needs more), or beyond
// 128 characters.
bool asciiText(const char16* text, std::string& out) {
    if (text == nullptr) return false;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        if (text[i] > 0x7F || i >= 128) return false;
        out += static_cast<char>(text[i]);
    }
    return true;
}

bool readExactly(IBStream* stream, unsigned char* bytes, int32 size) {
    int32 done = 0;
    while (done < size) {
        int32 got = 0;
        if (stream->read(bytes + done, size - done, &got) != kResultOk || got <= 0 || got > size - done) return false;
        done += got;
    }
    return true;
}

uint32 loadLittle(const unsigned char* bytes) {
    return static_cast<uint32>(bytes[0]) | static_cast<uint32>(bytes[1]) << 8 | static_cast<uint32>(bytes[2]) << 16 |
           static_cast<uint32>(bytes[3]) << 24;
}

void storeLittle(uint32 word, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));
}

// Whether both channels of a bus are usable buffers.
bool isStereo(const AudioBusBuffers* buses, int32 count) {
    return buses != nullptr && count >= 1 && buses[0].numChannels >= 2 && buses[0].channelBuffers32 != nullptr &&
           buses[0].channelBuffers32[0] != nullptr && buses[0].channelBuffers32[1] != nullptr;
}

constexpr uint64 kBothChannels = 0x3;

}  // namespace

bool readState(IBStream* stream, float (&values)[kNumParams]) {
    unsigned char bytes[kStateSize];
    if (stream == nullptr || !readExactly(stream, bytes, static_cast<int32>(kStateSize))) return false;
    if (std::memcmp(bytes, kStateTag, 4) != 0 || loadLittle(bytes + 4) != kStateVersion) return false;
    float read[kNumParams];
    for (int i = 0; i < kNumParams; ++i) {
        const uint32 word = loadLittle(bytes + 8 + 4 * i);
        std::memcpy(&read[i], &word, 4);
        // A stored value is always one the processor holds: 0..1, never NaN.
        if (!(read[i] >= 0.0f && read[i] <= 1.0f)) return false;
    }
    std::memcpy(values, read, sizeof read);
    return true;
}

bool writeState(IBStream* stream, const float (&values)[kNumParams]) {
    unsigned char bytes[kStateSize];
    std::memcpy(bytes, kStateTag, 4);
    storeLittle(kStateVersion, bytes + 4);
    for (int i = 0; i < kNumParams; ++i) {
        uint32 word = 0;
        std::memcpy(&word, &values[i], 4);
        storeLittle(word, bytes + 8 + 4 * i);
    }
    int32 written = 0;
    return stream != nullptr && stream->write(bytes, static_cast<int32>(kStateSize), &written) == kResultOk &&
           written == static_cast<int32>(kStateSize);
}

Effect::Effect() { instanceCreated(); }

Effect::~Effect() {
    if (handler_ != nullptr) handler_->release();
    instanceDestroyed();
}

Effect* createEffect() { return new (std::nothrow) Effect(); }

tresult Effect::queryInterface(const char* iid, void** object) {
    if (object == nullptr) return kInvalidArgument;
    *object = nullptr;
    if (kIidFUnknown == iid || kIidIPluginBase == iid || kIidIComponent == iid) {
        *object = static_cast<IComponent*>(this);
    } else if (kIidIAudioProcessor == iid) {
        *object = static_cast<IAudioProcessor*>(this);
    } else if (kIidIEditController == iid) {
        *object = static_cast<IEditController*>(this);
    } else if (kIidIProcessContextRequirements == iid) {
        *object = static_cast<IProcessContextRequirements*>(this);
    } else {
        return kNoInterface;
    }
    refs_.add();
    return kResultOk;
}

uint32 Effect::release() {
    const uint32 left = refs_.drop();
    if (left == 0) delete this;
    return left;
}

// Both halves' initialise and terminate: the effect needs nothing of the host's context.
tresult Effect::initialize(FUnknown*) { return kResultOk; }

tresult Effect::terminate() { return setComponentHandler(nullptr); }

// A single-component effect: the host finds the controller on the component itself.
tresult Effect::getControllerClassId(char*) { return kNotImplemented; }

tresult Effect::setIoMode(int32) { return kNotImplemented; }

int32 Effect::getBusCount(int32 type, int32 dir) {
    return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
}

tresult Effect::getBusInfo(int32 type, int32 dir, int32 index, BusInfo& bus) {
    if (type != kAudio || (dir != kInput && dir != kOutput) || index != 0) return kInvalidArgument;
    bus.mediaType = kAudio;
    bus.direction = dir;
    bus.channelCount = 2;
    copyText(dir == kInput ? "Stereo In" : "Stereo Out", bus.name, 128);
    bus.busType = kMain;
    bus.flags = BusInfo::kDefaultActive;
    return kResultOk;
}

tresult Effect::getRoutingInfo(RoutingInfo&, RoutingInfo&) { return kNotImplemented; }

tresult Effect::activateBus(int32 type, int32 dir, int32 index, TBool) {
    return type == kAudio && (dir == kInput || dir == kOutput) && index == 0 ? kResultOk : kInvalidArgument;
}

tresult Effect::setActive(TBool state) {
    // Activated again, the instance starts afresh, as a new one would.
    if (state != 0) processor_.forgetHistory();
    processor_.setSuspended(state == 0);
    return kResultOk;
}

tresult Effect::applyState(IBStream* state) {
    const HostEntryGuard masked;
    float values[kNumParams];
    if (!readState(state, values)) return kResultFalse;
    for (int i = 0; i < kNumParams; ++i) processor_.setParam(i, values[i]);
    return kResultOk;
}

tresult Effect::setState(IBStream* state) { return applyState(state); }

tresult Effect::getState(IBStream* state) {
    float values[kNumParams];
    for (int i = 0; i < kNumParams; ++i) values[i] = processor_.param(i);
    return writeState(state, values) ? kResultOk : kResultFalse;
}

tresult Effect::setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                   int32 numOuts) {
    const bool stereo = inputs != nullptr && outputs != nullptr && numIns == 1 && numOuts == 1 &&
                        inputs[0] == kSpeakerStereo && outputs[0] == kSpeakerStereo;
    return stereo ? kResultTrue : kResultFalse;
}

tresult Effect::getBusArrangement(int32 dir, int32 index, SpeakerArrangement& arr) {
    if ((dir != kInput && dir != kOutput) || index != 0) return kInvalidArgument;
    arr = kSpeakerStereo;
    return kResultOk;
}

tresult Effect::canProcessSampleSize(int32 symbolicSampleSize) {
    return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult Effect::setupProcessing(ProcessSetup& setup) {
    const HostEntryGuard masked;
    if (setup.symbolicSampleSize != kSample32) return kResultFalse;
    // The rate as a VST 2.x host hands it over (a float), so both formats run at the same rate.
    processor_.setSampleRate(static_cast<float>(setup.sampleRate));
    return kResultOk;
}

tresult Effect::setProcessing(TBool) { return kResultOk; }

tresult Effect::process(ProcessData& data) {
    {
        // The parameter changes take effect at the block's start: each queue's last value, as a VST 2.x
        // host sets a parameter before the block it applies to.
        const HostEntryGuard masked;
        if (IParameterChanges* changes = data.inputParameterChanges) {
            const int32 count = changes->getParameterCount();
            for (int32 i = 0; i < count; ++i) {
                IParamValueQueue* queue = changes->getParameterData(i);
                if (queue == nullptr) continue;
                const int32 points = queue->getPointCount();
                int32 offset = 0;
                ParamValue value = 0.0;
                if (points > 0 && queue->getPoint(points - 1, offset, value) == kResultOk) {
                    const ParamID id = queue->getParameterId();
                    if (id < kNumParams) processor_.setParam(static_cast<int>(id), static_cast<float>(value));
                }
            }
        }
    }
    // A call with no samples only delivers parameters.
    if (data.numSamples <= 0 || !isStereo(data.outputs, data.numOutputs)) return kResultOk;
    if (data.symbolicSampleSize != kSample32) return kResultFalse;
    AudioBusBuffers& out = data.outputs[0];
    if (!isStereo(data.inputs, data.numInputs)) {
        // No input bus to read (deactivated): the output is silence.
        for (int c = 0; c < 2; ++c) {
            std::memset(out.channelBuffers32[c], 0, sizeof(float) * static_cast<std::size_t>(data.numSamples));
        }
        out.silenceFlags = kBothChannels;
        return kResultOk;
    }
    const AudioBusBuffers& in = data.inputs[0];
    const bool passedThrough = processor_.suspended() || isSwitchOn(processor_.param(kParamBypass));
    processor_.process(in.channelBuffers32, out.channelBuffers32, data.numSamples);
    // Silent output: what passes through is as silent as the host says the input is; what the chain
    // made is silent when its largest output is zero.
    bool silent = false;
    if (passedThrough) {
        silent = (in.silenceFlags & kBothChannels) == kBothChannels;
    } else {
        const dsp::BlockPeaks peaks = processor_.lastBlock();
        silent = peaks.peakL == 0.0f && peaks.peakR == 0.0f;
    }
    out.silenceFlags = silent ? kBothChannels : 0;
    return kResultOk;
}

tresult Effect::setComponentState(IBStream* state) { return applyState(state); }

tresult Effect::getParameterInfo(int32 paramIndex, ParameterInfo& info) {
    if (!isParamIndex(paramIndex)) return kInvalidArgument;
    const ParamSpec& row = kParams[paramIndex];
    info.id = static_cast<ParamID>(paramIndex);
    copyText(row.hostName, info.title, 128);
    copyText(row.hostName, info.shortTitle, 128);
    copyText(row.label, info.units, 128);
    info.stepCount = row.kind == ParamKind::toggle ? 1 : 0;
    info.defaultNormalizedValue = row.defaultValue;
    info.unitId = 0;
    info.flags = ParameterInfo::kCanAutomate | (paramIndex == kParamBypass ? ParameterInfo::kIsBypass : 0);
    return kResultOk;
}

tresult Effect::getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 string) {
    const HostEntryGuard masked;
    if (id >= kNumParams || string == nullptr) return kInvalidArgument;
    char text[kParamDisplayCapacity];
    formatParamDisplay(id, clampParam(static_cast<float>(valueNormalized)), text, sizeof text);
    copyText(text, string, 128);
    return kResultOk;
}

tresult Effect::getParamValueByString(ParamID id, char16* string, ParamValue& valueNormalized) {
    const HostEntryGuard masked;
    std::string text;
    if (id >= kNumParams || !asciiText(string, text)) return kInvalidArgument;
    double units = 0.0;
    double normalised = 0.0;
    if (parseParamText(static_cast<int>(id), text, units, normalised) != ParamTextResult::ok) return kResultFalse;
    // The value the processor will hold, as the command-line tool sets it.
    valueNormalized = static_cast<float>(normalised);
    return kResultOk;
}

ParamValue Effect::normalizedParamToPlain(ParamID id, ParamValue valueNormalized) {
    const HostEntryGuard masked;
    return id < kNumParams ? paramUnits(static_cast<int>(id), valueNormalized) : valueNormalized;
}

ParamValue Effect::plainParamToNormalized(ParamID id, ParamValue plainValue) {
    const HostEntryGuard masked;
    if (id >= kNumParams) return plainValue;
    const double normalised = unitsToNormalised(static_cast<int>(id), plainValue);
    return normalised > 0.0 ? (normalised < 1.0 ? normalised : 1.0) : 0.0;
}

ParamValue Effect::getParamNormalized(ParamID id) {
    return id < kNumParams ? processor_.param(static_cast<int>(id)) : 0.0;
}

tresult Effect::setParamNormalized(ParamID id, ParamValue value) {
    const HostEntryGuard masked;
    if (id >= kNumParams) return kInvalidArgument;
    processor_.setParam(static_cast<int>(id), static_cast<float>(value));
    return kResultOk;
}

tresult Effect::setComponentHandler(IComponentHandler* handler) {
    if (handler != nullptr) handler->addRef();
    if (handler_ != nullptr) handler_->release();
    handler_ = handler;
    return kResultOk;
}

IPlugView* Effect::createView(FIDString name) {
    if (name == nullptr || std::strcmp(name, kEditorViewName) != 0) return nullptr;
    return createEditorView(*this);
}

}  // namespace lumisere::vst3
