// A VST 3 host for the tests: loads the bundle's module as a host does, gets the effect through the
// exported factory, and gives it what hosts give: a memory stream, parameter change queues, a
// component handler that records every call with its thread.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "formats/vst3/vst3_abi.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

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
    tresult LUMISERE_VST3_CALL seek(int64 pos, int32, int64* result) override {
        at = static_cast<std::size_t>(pos);
        if (result != nullptr) *result = pos;
        return kResultOk;
    }
    tresult LUMISERE_VST3_CALL tell(int64* pos) override {
        *pos = static_cast<int64>(at);
        return kResultOk;
    }
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
    explicit Vst3Module(const std::string& path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
        if (handle_ != nullptr) entered_ = call<bool (*)()>("InitDll")();
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ != nullptr) entered_ = call<bool (*)(void*)>("ModuleEntry")(handle_);
#endif
        if (entered_) factory_ = call<GetFactoryProc>("GetPluginFactory")();
    }
    ~Vst3Module() {
#if defined(_WIN32)
        if (entered_) call<bool (*)()>("ExitDll")();
        if (handle_ != nullptr) FreeLibrary(handle_);
#else
        if (entered_) call<bool (*)()>("ModuleExit")();
        if (handle_ != nullptr) dlclose(handle_);
#endif
    }
    Vst3Module(const Vst3Module&) = delete;
    Vst3Module& operator=(const Vst3Module&) = delete;

    IPluginFactory* factory() const { return factory_; }

    // An interface of a new instance of the factory's first class; null when refused.
    template <typename Interface>
    Interface* create(const Uid& iid) const {
        PClassInfo info{};
        void* object = nullptr;
        if (factory_ == nullptr || factory_->getClassInfo(0, &info) != kResultOk ||
            factory_->createInstance(info.cid, iid.bytes, &object) != kResultOk) {
            return nullptr;
        }
        return static_cast<Interface*>(object);
    }

private:
    template <typename Function>
    Function call(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
#else
        return reinterpret_cast<Function>(dlsym(handle_, name));
#endif
    }

#if defined(_WIN32)
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    bool entered_ = false;
    IPluginFactory* factory_ = nullptr;
};

// Another interface of the same object, with its own reference.
template <typename Interface>
Interface* query(FUnknown* object, const Uid& iid) {
    void* other = nullptr;
    return object->queryInterface(iid.bytes, &other) == kResultOk ? static_cast<Interface*>(other) : nullptr;
}

}  // namespace lumisere::vst3test
