// The VST 3 adapter: one object that is at once the component, the audio processor and the edit
// controller of the plug-in (a single-component effect, so no connection between two halves is
// needed), over the format-neutral processor; and the editor view over the same processor.
//
// Threads: the host's UI thread creates, initialises, sets up, activates, reads and writes state,
// asks for parameter information and opens the editor; the audio thread calls process; the host
// may also set parameters through the controller from its UI thread. The processor's atomics carry
// every value that crosses.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "formats/vst3/class_id.h"
#include "formats/module/identity.h"
#include "formats/vst3/vst3_abi.h"
#include "core/processor.h"

namespace lumisere::vst3 {

// The plug-in's name and kind, as the factory lists them (the class id in class_id.h).
constexpr const char* kEffectName = kProductName;
constexpr char kEffectSubCategories[] = "Fx|Dynamics";

// The component's saved state: a tag, a format version, the nine normalised values, little-endian.
constexpr char kStateTag[4] = {'L', 'M', 'S', 'R'};
constexpr uint32 kStateVersion = 1;
constexpr std::size_t kStateSize = 4 + 4 + 4 * kNumParams;

// Reads a whole state into values; false for a short, foreign or damaged one (values then untouched).
bool readState(IBStream* stream, float (&values)[kNumParams]);
// Writes the state of values; false when the stream takes less than all of it.
bool writeState(IBStream* stream, const float (&values)[kNumParams]);

// A thread-safe reference count starting at one, for the objects this module hands to hosts.
class RefCount {
public:
    uint32 add() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The count after the release; the caller deletes at zero.
    uint32 drop() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<uint32> count_{1};
};

class Effect final : public IComponent,
                     public IAudioProcessor,
                     public IEditController,
                     public IProcessContextRequirements {
public:
    Effect();
    ~Effect();

    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    Processor& processor() { return processor_; }

    // The host's component handler, held while set; the view sends the editor's edits through it.
    // [ui thread]
    IComponentHandler* componentHandler() const { return handler_; }

    // FUnknown (the same for every base).
    tresult LUMISERE_VST3_CALL queryInterface(const char* iid, void** object) override;
    uint32 LUMISERE_VST3_CALL addRef() override { return refs_.add(); }
    uint32 LUMISERE_VST3_CALL release() override;

    // IPluginBase
    tresult LUMISERE_VST3_CALL initialize(FUnknown* context) override;
    tresult LUMISERE_VST3_CALL terminate() override;

    // IComponent
    tresult LUMISERE_VST3_CALL getControllerClassId(char* classId) override;
    tresult LUMISERE_VST3_CALL setIoMode(int32 mode) override;
    int32 LUMISERE_VST3_CALL getBusCount(int32 type, int32 dir) override;
    tresult LUMISERE_VST3_CALL getBusInfo(int32 type, int32 dir, int32 index, BusInfo& bus) override;
    tresult LUMISERE_VST3_CALL getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) override;
    tresult LUMISERE_VST3_CALL activateBus(int32 type, int32 dir, int32 index, TBool state) override;
    tresult LUMISERE_VST3_CALL setActive(TBool state) override;
    tresult LUMISERE_VST3_CALL setState(IBStream* state) override;
    tresult LUMISERE_VST3_CALL getState(IBStream* state) override;

    // IAudioProcessor
    tresult LUMISERE_VST3_CALL setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                  SpeakerArrangement* outputs, int32 numOuts) override;
    tresult LUMISERE_VST3_CALL getBusArrangement(int32 dir, int32 index, SpeakerArrangement& arr) override;
    tresult LUMISERE_VST3_CALL canProcessSampleSize(int32 symbolicSampleSize) override;
    uint32 LUMISERE_VST3_CALL getLatencySamples() override { return 0; }
    tresult LUMISERE_VST3_CALL setupProcessing(ProcessSetup& setup) override;
    tresult LUMISERE_VST3_CALL setProcessing(TBool state) override;
    tresult LUMISERE_VST3_CALL process(ProcessData& data) override;
    uint32 LUMISERE_VST3_CALL getTailSamples() override { return 0; }

    // IEditController (IPluginBase as above)
    tresult LUMISERE_VST3_CALL setComponentState(IBStream* state) override;
    int32 LUMISERE_VST3_CALL getParameterCount() override { return kNumParams; }
    tresult LUMISERE_VST3_CALL getParameterInfo(int32 paramIndex, ParameterInfo& info) override;
    tresult LUMISERE_VST3_CALL getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                     String128 string) override;
    tresult LUMISERE_VST3_CALL getParamValueByString(ParamID id, char16* string,
                                                     ParamValue& valueNormalized) override;
    ParamValue LUMISERE_VST3_CALL normalizedParamToPlain(ParamID id, ParamValue valueNormalized) override;
    ParamValue LUMISERE_VST3_CALL plainParamToNormalized(ParamID id, ParamValue plainValue) override;
    ParamValue LUMISERE_VST3_CALL getParamNormalized(ParamID id) override;
    tresult LUMISERE_VST3_CALL setParamNormalized(ParamID id, ParamValue value) override;
    tresult LUMISERE_VST3_CALL setComponentHandler(IComponentHandler* handler) override;
    IPlugView* LUMISERE_VST3_CALL createView(FIDString name) override;

    // IProcessContextRequirements: the processor reads no transport, tempo or time.
    uint32 LUMISERE_VST3_CALL getProcessContextRequirements() override { return 0; }

private:
    // The two IPluginBase halves share one life: the component's and the controller's initialise and
    // terminate both come here.
    tresult applyState(IBStream* state);

    RefCount refs_;
    Processor processor_;
    IComponentHandler* handler_ = nullptr;
};

// [ui thread] The editor view of an effect: holds a reference to it for its own life.
IPlugView* createEditorView(Effect& effect);

// [ui thread] A new effect with one reference; null when memory is short.
Effect* createEffect();

}  // namespace lumisere::vst3
