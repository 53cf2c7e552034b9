// A VST 3 host for the tests: loads the bundle's module as a host does, gets the effect through the
// exported factory, and gives it what hosts give: a memory stream, parameter change queues, a
// component handler that records every call with its thread.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "formats/vst3/vst3_abi.h"
#include "plugin_library.h"

namespace lumisere::vst3test {

using namespace lumisere::vst3;

// Host-side objects live on the test's stack: their counts are not kept.
template <typename Interface>
class HostObject : public Interface {
public:
    tresult LUMISERE_VST3_CALL queryInterface(const char*, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32 LUMISERE_VST3_CALL addRef() override { return 1; }
    uint32 LUMISERE_VST3_CALL release() override { return 1; }
};

class MemoryStream final : public HostObject<IBStream> {
public:
    std::vector<unsigned char> bytes;
    std::size_t at = 0;

    tresult LUMISERE_VST3_CALL read(void* buffer, int32 count, int32* done) override {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), bytes.size() - at);
        if (n > 0) std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        if (done != nullptr) *done = static_cast<int32>(n);
        return kResultOk;
    }
    tresult LUMISERE_VST3_CALL write(void* buffer, int32 count, int32* done) override {
        const auto* from = static_cast<const unsigned char*>(buffer);
        bytes.insert(bytes.end(), from, from + count);
        if (done != nullptr) *done = count;
        return kResultOk;
    }
    // The plug-in reads and writes from where the stream is; it never seeks.
    tresult LUMISERE_VST3_CALL seek(int64, int32, int64*) override { return kNotImplemented; }
    tresult LUMISERE_VST3_CALL tell(int64*) override { return kNotImplemented; }
};

class ValueQueue final : public HostObject<IParamValueQueue> {
public:
    ParamID id = 0;
    std::vector<std::pair<int32, ParamValue>> points;

    ParamID LUMISERE_VST3_CALL getParameterId() override { return id; }
    int32 LUMISERE_VST3_CALL getPointCount() override { return static_cast<int32>(points.size()); }
    tresult LUMISERE_VST3_CALL getPoint(int32 index, int32& offset, ParamValue& value) override {
        if (index < 0 || index >= getPointCount()) return kInvalidArgument;
        offset = points[static_cast<std::size_t>(index)].first;
        value = points[static_cast<std::size_t>(index)].second;
        return kResultOk;
    }
    tresult LUMISERE_VST3_CALL addPoint(int32 offset, ParamValue value, int32& index) override {
        index = getPointCount();
        points.emplace_back(offset, value);
        return kResultOk;
    }
};

class ParameterChanges final : public HostObject<IParameterChanges> {
public:
    std::vector<ValueQueue> queues;

    void add(ParamID id, std::vector<std::pair<int32, ParamValue>> points) {
        queues.emplace_back();
        queues.back().id = id;
        queues.back().points = std::move(points);
    }
    int32 LUMISERE_VST3_CALL getParameterCount() override { return static_cast<int32>(queues.size()); }
    IParamValueQueue* LUMISERE_VST3_CALL getParameterData(int32 index) override {
        return index >= 0 && index < getParameterCount() ? &queues[static_cast<std::size_t>(index)] : nullptr;
    }
    IParamValueQueue* LUMISERE_VST3_CALL addParameterData(const ParamID&, int32&) override { return nullptr; }
};

// Every call of the component handler: "begin 3", "perform 3 0.25", "end 3", and its thread.
class RecordingHandler final : public HostObject<IComponentHandler> {
public:
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;

    tresult LUMISERE_VST3_CALL beginEdit(ParamID id) override { return note("begin " + std::to_string(id)); }
    tresult LUMISERE_VST3_CALL performEdit(ParamID id, ParamValue value) override {
        return note("perform " + std::to_string(id) + " " + std::to_string(value));
    }
    tresult LUMISERE_VST3_CALL endEdit(ParamID id) override { return note("end " + std::to_string(id)); }
    tresult LUMISERE_VST3_CALL restartComponent(int32) override { return kResultOk; }

private:
    tresult note(std::string call) {
        calls.push_back(std::move(call));
        threads.push_back(std::this_thread::get_id());
        return kResultOk;
    }
};

// The bundle's module, loaded and entered as hosts do, and left at destruction.
class Vst3Module {
public:
    explicit Vst3Module(const std::string& path) : library_(path) {
#if defined(_WIN32)
        auto enter = library_.lookup<bool (*)()>("InitDll");
        entered_ = enter != nullptr && enter();
#else
        auto enter = library_.lookup<bool (*)(void*)>("ModuleEntry");
        entered_ = enter != nullptr && enter(nullptr);
#endif
        auto getFactory = library_.lookup<GetFactoryProc>("GetPluginFactory");
        if (entered_ && getFactory != nullptr) factory_ = getFactory();
    }
    ~Vst3Module() {
        auto leave = library_.lookup<bool (*)()>(kExitName);
        if (entered_ && leave != nullptr) leave();
    }

    IPluginFactory* factory() const { return factory_; }

private:
#if defined(_WIN32)
    static constexpr const char* kExitName = "ExitDll";
#else
    static constexpr const char* kExitName = "ModuleExit";
#endif
    host::PluginLibrary library_;
    bool entered_ = false;
    IPluginFactory* factory_ = nullptr;
};

// Another interface of the same object, with its own reference.
template <typename Interface>
Interface* query(FUnknown* object, const Uid& iid) {
    void* other = nullptr;
    return object->queryInterface(iid.bytes, &other) == kResultOk ? static_cast<Interface*>(other) : nullptr;
}

// An interface of a new instance of the factory's first class; null when refused.
template <typename Interface>
Interface* create(IPluginFactory* factory, const Uid& iid) {
    PClassInfo info{};
    void* object = nullptr;
    if (factory == nullptr || factory->getClassInfo(0, &info) != kResultOk ||
        factory->createInstance(info.cid, iid.bytes, &object) != kResultOk) {
        return nullptr;
    }
    return static_cast<Interface*>(object);
}

// One effect as a host holds it: the component, its processor and its controller.
struct Effect {
    explicit Effect(IPluginFactory* factory)
        : component(create<IComponent>(factory, kIidIComponent)),
          processor(component ? query<IAudioProcessor>(component, kIidIAudioProcessor) : nullptr),
          controller(component ? query<IEditController>(component, kIidIEditController) : nullptr) {}
    ~Effect() {
        for (FUnknown* part : {static_cast<FUnknown*>(controller), static_cast<FUnknown*>(processor),
                               static_cast<FUnknown*>(component)}) {
            if (part != nullptr) part->release();
        }
    }
    bool ready() const { return component != nullptr && processor != nullptr && controller != nullptr; }

    // Set up as hosts do: stereo, 32-bit, 44100 Hz, 512-frame blocks, active, processing.
    bool start() {
        SpeakerArrangement stereo = kSpeakerStereo;
        ProcessSetup setup{0, kSample32, 512, 44100.0};
        return component->initialize(nullptr) == kResultOk &&
               processor->setBusArrangements(&stereo, 1, &stereo, 1) == kResultTrue &&
               processor->setupProcessing(setup) == kResultOk && component->setActive(1) == kResultOk &&
               processor->setProcessing(1) == kResultOk;
    }

    // One block of n frames from in to out (interleaved), with changes; the output's silence flags,
    // or ~0 when the call failed.
    uint64 block(const float* in, float* out, int n, ParameterChanges* changes = nullptr) {
        std::vector<float> l(static_cast<std::size_t>(n)), r(l), ol(l), orr(l);
        for (int i = 0; i < n; ++i) l[i] = in[2 * i], r[i] = in[2 * i + 1];
        float* ins[] = {l.data(), r.data()};
        float* outs[] = {ol.data(), orr.data()};
        AudioBusBuffers inBus{2, 0, {ins}};
        AudioBusBuffers outBus{2, 0, {outs}};
        ProcessData data{0, kSample32, n, 1, 1, &inBus, &outBus, changes, nullptr, nullptr, nullptr, nullptr};
        if (processor->process(data) != kResultOk) return ~uint64{0};
        for (int i = 0; i < n; ++i) out[2 * i] = ol[i], out[2 * i + 1] = orr[i];
        return outBus.silenceFlags;
    }

    IComponent* component;
    IAudioProcessor* processor;
    IEditController* controller;
};

}  // namespace lumisere::vst3test
