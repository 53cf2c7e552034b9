#include "formats/vst2/vst2_instance.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "editor/panel.h"
#include "formats/module/host_entry.h"
#include "formats/module/library.h"
#include "formats/vst2/dispatcher.h"
#include "platform/window_layer.h"

namespace lumisere::vst2 {

static_assert(std::is_standard_layout_v<Vst2Instance> && offsetof(Vst2Instance, header) == 0,
              "the AEffect header must be the first member so the host's pointer is the record's");

namespace {

// [audio thread] process and processReplacing: one routine.
// Every entry masks the floating-point exceptions a debug host may have unmasked; the process entry
// through Processor::process, which also flushes subnormals.

void VSTCALLBACK processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (Vst2Instance* instance = Vst2Instance::fromEffect(effect)) {
        instance->processor.process(inputs, outputs, sampleFrames);
    }
}

// [any thread]
void VSTCALLBACK setParameterEntry(AEffect* effect, VstInt32 index, float value) {
    const HostEntryGuard masked;
    if (Vst2Instance* instance = Vst2Instance::fromEffect(effect)) instance->setParameter(index, value);
}

// [any thread] 0 for a null record or an unknown index.
float VSTCALLBACK getParameterEntry(AEffect* effect, VstInt32 index) {
    const Vst2Instance* instance = Vst2Instance::fromEffect(effect);
    return instance == nullptr ? 0.0f : instance->processor.param(index);
}

}  // namespace

Vst2Instance::Vst2Instance(audioMasterCallback host)
    : hostCallback(host),
      editorRect{0, 0, static_cast<VstInt16>(editor::kEditorHeight), static_cast<VstInt16>(editor::kEditorWidth)} {
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
    editor = new (std::nothrow) Editor(processor, header, host);
}

Vst2Instance::~Vst2Instance() { delete editor; }

void Vst2Instance::setParameter(VstInt32 index, float value) {
    processor.setParam(index, value);
    // The focus band-pass follows at the audio core's next block start, the editor at its next tick.
}

bool Vst2Instance::openEditor(void* parent) {
    parentWindow = parent;
    if (editor == nullptr || !editor->notifier.prepare()) return false;
    // A second open without a close replaces the first window: an instance never has two.
    return editor->view.open(parent);
}

void Vst2Instance::closeEditor() {
    if (editor == nullptr) return;
    editor->view.close();
    editor->notifier.deliverPending();
}

void Vst2Instance::deliverEdits() {
    if (editor != nullptr) editor->notifier.deliverPending();
}

bool HostEditNotifier::prepare() {
    if (platform::clientCallsOnOpeningThread() || queue_ != nullptr) return true;
    queue_.reset(new (std::nothrow) editor::EditQueue);
    return queue_ != nullptr;
}

void HostEditNotifier::post(const editor::EditEvent& event) {
    if (queue_ != nullptr) {
        queue_->push(event);
    } else if (!muted_) {
        send(event);  // on the thread that opened the window: the host's
    }
}

void HostEditNotifier::deliverPending() {
    if (queue_ == nullptr) return;
    queue_->drain([this](const editor::EditEvent& event) {
        if (!muted_) send(event);
    });
}

void HostEditNotifier::send(const editor::EditEvent& event) const {
    switch (event.kind) {
        case editor::EditEvent::Kind::Begin:
            host_(&effect_, audioMasterBeginEdit, event.index, 0, nullptr, 0.0f);
            break;
        case editor::EditEvent::Kind::Value:
            host_(&effect_, audioMasterAutomate, event.index, 0, nullptr, event.value);
            break;
        case editor::EditEvent::Kind::End:
            host_(&effect_, audioMasterEndEdit, event.index, 0, nullptr, 0.0f);
            break;
    }
}

AEffect* createInstance(audioMasterCallback host) {
    if (host == nullptr) return nullptr;
    auto* instance = new (std::nothrow) Vst2Instance(host);
    if (instance == nullptr) return nullptr;
    instanceCreated();
    return &instance->header;
}

void destroyInstance(Vst2Instance* instance) {
    if (instance == nullptr) return;
    // The window goes before the record it points to; the host, closing the instance, is told nothing.
    if (instance->editor != nullptr) instance->editor->notifier.mute();
    instance->closeEditor();
    delete instance;
    instanceDestroyed();
}

const Processor* processorOf(const AEffect* effect) {
    const Vst2Instance* instance = Vst2Instance::fromEffect(effect);
    return instance == nullptr ? nullptr : &instance->processor;
}

}  // namespace lumisere::vst2
