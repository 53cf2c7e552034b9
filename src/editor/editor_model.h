// What the editor sees of its plug-in instance: the stored parameters, the two gain reductions it
// shows, and the one way it changes a parameter. Each format's adapter implements it (the VST 2.x
// instance over the processor's atomics, the LV2 UI over the port values), so the editor never includes
// an instance; the snapshot tool and the tests implement it over plain values.
//
// [editor thread]: the thread the editor's window runs on, the host's UI thread on Windows and the
// editor's own event thread on X11.
#pragma once

#include "core/parameters.h"

namespace lumisere::editor {

class EditorModel {
public:
    virtual ~EditorModel() = default;

    // [editor thread] The stored normalised value of parameter index (0..8), exactly as stored.
    virtual float param(int index) const = 0;

    // [editor thread] The editor's own write: clamp to 0..1 (NaN becomes 1), store, and let the focus
    // filters follow when index is kParamFocusFreq. The host is not notified. The editor asks for its
    // repaint itself.
    virtual void setParam(int index, float value) = 0;

    // [editor thread] The smoothed gain reductions the audio core publishes, in positive dB.
    virtual float deEssReductionDb() const = 0;
    virtual float gateReductionDb() const = 0;
};

// A model over plain values: the snapshot tool's instance, and the tests' base.
class ValueEditorModel : public EditorModel {
public:
    ValueEditorModel() {
        for (int i = 0; i < kNumParams; ++i) params[i] = kParams[i].defaultValue;
    }

    float param(int index) const override { return isParamIndex(index) ? params[index] : 0.0f; }
    void setParam(int index, float value) override {
        if (isParamIndex(index)) params[index] = clampParam(value);
    }
    float deEssReductionDb() const override { return deEssDb; }
    float gateReductionDb() const override { return gateDb; }

    float params[kNumParams];
    float deEssDb = 0.0f;
    float gateDb = 0.0f;
};

}  // namespace lumisere::editor
