// What the editor sees of a processor: the stored parameters, the smoothed reductions, and its own
// writes, which go straight to the processor. A format that tells its host of the editor's edits
// does so through the view's EditListener.
#pragma once

#include "editor/editor_model.h"
#include "core/processor.h"

namespace lumisere {

class ProcessorEditorModel final : public editor::EditorModel {
public:
    explicit ProcessorEditorModel(Processor& processor) : processor_(processor) {}
    float param(int index) const override { return processor_.param(index); }
    void setParam(int index, float value) override { processor_.setParam(index, value); }
    float deEssReductionDb() const override { return processor_.meter(kMeterDeEssReduction); }
    float gateReductionDb() const override { return processor_.meter(kMeterGateReduction); }

private:
    Processor& processor_;
};

}  // namespace lumisere
