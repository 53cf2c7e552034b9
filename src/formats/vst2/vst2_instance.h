// The VST 2.x adapter's instance record: the AEffect header the host holds, the host callback, the
// editor fields, and the format-neutral processor that does the work. The header is the first
// member, so the host's AEffect pointer is the record's address and header.object points back at it.
//
// Threads: the host's user-interface thread creates and closes instances and calls the dispatcher;
// the audio thread calls the process entry; setParameter and getParameter may come on either.
#pragma once

#include <memory>

#include "core/processor.h"
#include "editor/edit_queue.h"
#include "editor/editor_model.h"
#include "editor/editor_view.h"
#include "formats/module/identity.h"
#include "formats/module/version.h"
#include "formats/vst2/vst_host.h"

namespace lumisere::vst2 {

// What the editor sees of the processor: the stored parameters, the smoothed reductions, and its own
// writes, which go straight to the processor (the host hears of them through HostEditNotifier).
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

// Tells the host of the editor's edits as VST 2.x hosts record them: audioMasterBeginEdit, then
// audioMasterAutomate with each new value, then audioMasterEndEdit; nothing else is ever sent. The
// host is called on its UI thread only: where the window's calls come on the thread that opened it
// (the Win32 window procedure) the edits go to the host at once; from a window thread of its own (the
// X11 editor's) they wait in the queue for effEditIdle or effEditClose. A host that never sends
// effEditIdle hears of them when it closes the editor; until then the processor already holds every
// value, and getParameter answers it.
class HostEditNotifier final : public editor::EditListener {
public:
    HostEditNotifier(AEffect& effect, audioMasterCallback host) : effect_(effect), host_(host) {}

    // [ui thread] effEditOpen, before the window: where the window's calls come on a thread of its
    // own, the queue they wait in, made once. False when memory is short.
    bool prepare();
    // [ui thread] effEditIdle, effEditClose: sends the edits waiting, oldest first.
    void deliverPending();
    // [ui thread] effClose: a host tearing the instance down is told nothing more.
    void mute() { muted_ = true; }

    // editor::EditListener, on the editor window's thread.
    void editBegan(int index) override { post({editor::EditEvent::Kind::Begin, index, 0.0f}); }
    void parameterEdited(int index, float value) override { post({editor::EditEvent::Kind::Value, index, value}); }
    void editEnded(int index) override { post({editor::EditEvent::Kind::End, index, 0.0f}); }

private:
    void post(const editor::EditEvent& event);
    void send(const editor::EditEvent& event) const;

    AEffect& effect_;
    const audioMasterCallback host_;
    bool muted_ = false;  // the UI thread's own
    std::unique_ptr<editor::EditQueue> queue_;  // null where the host is told at once
};

constexpr VstInt32 kUniqueId =
    fourCharCode(kVst2UniqueId[0], kVst2UniqueId[1], kVst2UniqueId[2], kVst2UniqueId[3]);
constexpr VstInt32 kPluginVersion = kVersionNumber;

struct Vst2Instance {
    // [ui thread] The record with every field at its creation value and the header filled.
    explicit Vst2Instance(audioMasterCallback host);

    Vst2Instance(const Vst2Instance&) = delete;
    Vst2Instance& operator=(const Vst2Instance&) = delete;

    static Vst2Instance* fromEffect(const AEffect* effect) {
        return effect == nullptr ? nullptr : static_cast<Vst2Instance*>(effect->object);
    }

    // [any thread] setParameter: clamps and stores; an open editor shows the value from its next tick.
    void setParameter(VstInt32 index, float value);

    // [ui thread] effEditOpen: false when no window was made (no display, a parent that is no window).
    bool openEditor(void* parent);
    // [ui thread] effEditClose: closes the window and sends the host the edits still waiting.
    void closeEditor();
    // [ui thread] effEditIdle: sends the host the edits waiting.
    void deliverEdits();

    // [any thread] The open editor window's native handle, null when none is open.
    void* editorWindow() const { return editor == nullptr ? nullptr : editor->view.nativeWindow(); }

    AEffect header;                    // what the host holds; must stay the first member
    audioMasterCallback hostCallback;  // called only by the editor's HostEditNotifier

    Processor processor;

    // The editor lives as long as the record and opens and closes its window as asked. It is held
    // apart (its classes have virtual functions) so the record keeps a standard layout.
    struct Editor {
        Editor(Processor& processor, AEffect& effect, audioMasterCallback host)
            : model(processor), notifier(effect, host), view(model, &notifier) {}
        ProcessorEditorModel model;
        HostEditNotifier notifier;
        editor::EditorView view;  // last: its window goes before what it calls
    };

    // Editor group: the host's parent window of the last open, the size reported, the editor (null
    // only when memory was short at creation: then no editor opens).
    void* parentWindow = nullptr;
    ERect editorRect;
    Editor* editor = nullptr;

    ~Vst2Instance();
};

// [ui thread] Creates an instance; null when the callback is null or memory is short.
AEffect* createInstance(audioMasterCallback host);

// [ui thread] effClose: closes the editor, ends the instance and frees the record.
void destroyInstance(Vst2Instance* instance);

// The processor behind a host's AEffect pointer, for in-process hosts such as the command-line tool
// that read the block figures; null for a null pointer or an empty record.
const Processor* processorOf(const AEffect* effect);

}  // namespace lumisere::vst2
