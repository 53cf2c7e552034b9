// One plug-in instance: the AEffect header the host holds, the shared parameter and meter values, the
// editor and drag fields, and the audio core's state. The header is the first member, so the host's
// AEffect pointer is the record's address and header.object points back at it.
//
// Threads: the host's user-interface thread creates and closes instances and calls the dispatcher; the
// audio thread calls the process entry; setParameter may come on either. params, sampleRate,
// suspended, editorWindow and meters are atomics (relaxed single words). The audio thread alone owns
// `dsp`: it takes a snapshot of the shared values at block start and re-derives every coefficient from
// that snapshot, so no coefficient is ever written by one thread while another reads it.
#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/dsp_state.h"
#include "dsp/process_block.h"
#include "platform/vst_host.h"
#include "plugin/parameters.h"

namespace lumisere {

enum MeterIndex : int {
    kMeterOutPeakL = 0,
    kMeterOutPeakR = 1,
    kMeterDeEssReduction = 2,
    kMeterGateReduction = 3,
    kNumMeters = 4,
};

constexpr VstInt32 kUniqueId = fourCharCode('L', 'M', 'S', 'R');
constexpr VstInt32 kPluginVersion = 1000;
constexpr VstInt16 kEditorWidth = 840;
constexpr VstInt16 kEditorHeight = 520;

struct PluginInstance {
    // [ui thread] Creates the record with every field at its creation value; the AEffect header is
    // filled and the coefficients are designed for 44100 Hz and the default focus.
    explicit PluginInstance(audioMasterCallback host);

    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    static PluginInstance* fromEffect(AEffect* effect) {
        return effect == nullptr ? nullptr : static_cast<PluginInstance*>(effect->object);
    }

    // [any thread] The stored normalised value; 0 for an index outside 0..8.
    float getParameter(VstInt32 index) const;

    // [any thread] Clamps and stores a value, then asks an open editor to repaint. Out-of-range
    // indices are ignored. A new focus value reaches the band-pass design at the next block.
    void setParameter(VstInt32 index, float value);

    // [ui thread] The sample-rate request: stores the accepted rate for the audio core.
    void applySampleRate(float requested);

    // [audio thread] The snapshot of every shared value the chain needs for one block.
    dsp::BlockSettings takeBlockSettings() const;

    // [audio thread] Pass-through when suspended or bypassed, otherwise the chain over the snapshot,
    // then the meters are published.
    void processBlock(const float* const* inputs, float* const* outputs, VstInt32 frameCount);

    // [any thread] One published meter value.
    float meter(int index) const { return meters[index].load(std::memory_order_relaxed); }

    AEffect header;                    // what the host holds; must stay the first member
    audioMasterCallback hostCallback;  // stored, never called

    std::atomic<float> params[kNumParams];
    std::atomic<double> sampleRate{dsp::kDefaultSampleRate};
    std::atomic<bool> suspended{false};

    // Editor group: the open editor (opaque to the shell), the host's parent window, the size.
    std::atomic<void*> editorWindow{nullptr};
    void* parentWindow = nullptr;
    ERect editorRect{0, 0, kEditorHeight, kEditorWidth};

    // Drag group: the knob being dragged (-1 for none), the press height and the value at the press.
    VstInt32 dragParam = -1;
    VstInt32 dragStartY = 0;
    float dragStartValue = 0.0f;

    std::atomic<float> meters[kNumMeters];

    dsp::DspState dsp;  // audio thread only
};

static_assert(std::atomic<float>::is_always_lock_free && std::atomic<double>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free && std::atomic<void*>::is_always_lock_free,
              "values shared with the audio thread must be lock-free");

// [ui thread] Creates an instance; null when the callback is null or memory is short.
AEffect* createInstance(audioMasterCallback host);

// [ui thread] effClose: closes the editor, ends the instance and frees the record.
void destroyInstance(PluginInstance* instance);

// Number of live instances of this library.
int liveInstanceCount();

// The token of the running graphics runtime, 0 when none runs.
std::uintptr_t graphicsRuntimeToken();

// The platform's handle of this library, saved by the load hook; null where the platform has none.
void* libraryModuleHandle();

}  // namespace lumisere
