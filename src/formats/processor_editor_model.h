// What the editor sees of the processor, under every plug-in format: the stored parameters, the
// smoothed reductions, and its own writes, which go straight to the processor. Whether and how the
// host hears of a write is the format's business (editor::EditListener).
#pragma once

#include "core/processor.h"
#include "editor/editor_model.h"

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
