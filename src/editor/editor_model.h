// What the editor sees of its plug-in instance: the stored parameters, the two gain reductions it
// shows, and the one way it changes a parameter. The shell implements this over its atomics, so the
// editor never includes the instance; the snapshot tool and the tests implement it over plain values.
#pragma once

#include "core/parameters.h"

namespace lumisere::editor {

class EditorModel {
public:
    virtual ~EditorModel() = default;

    // [ui thread] The stored normalised value of parameter index (0..8), exactly as stored.
    virtual float param(int index) const = 0;

    // [ui thread] The editor's own write: clamp to 0..1 (NaN becomes 1), store, and let the focus
    // filters follow when index is kParamFocusFreq. The host is not notified. The editor asks for its
    // repaint itself.
    virtual void setParam(int index, float value) = 0;

    // [ui thread] The smoothed gain reductions the audio core publishes, in positive dB.
    virtual float deEssReductionDb() const = 0;
    virtual float gateReductionDb() const = 0;
};

// A model over plain values: the snapshot tool's instance, and the tests' base.
class ValueEditorModel : public EditorModel {
public:
    ValueEditorModel() {
        for (int i = 0; i < kNumParams; ++i) params[i] = kParams[i].defaultValue;
    }

    float param(int index) const override { return valid(index) ? params[index] : 0.0f; }
    void setParam(int index, float value) override {
        if (valid(index)) params[index] = clampParam(value);
    }
    float deEssReductionDb() const override { return deEssDb; }
    float gateReductionDb() const override { return gateDb; }

    float params[kNumParams];
    float deEssDb = 0.0f;
    float gateDb = 0.0f;

private:
    static bool valid(int index) { return index >= 0 && index < kNumParams; }
};

}  // namespace lumisere::editor
