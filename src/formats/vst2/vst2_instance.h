// The VST 2.x adapter's instance record: the AEffect header the host holds, the host callback, the
// editor fields, and the format-neutral processor that does the work. The header is the first
// member, so the host's AEffect pointer is the record's address and header.object points back at it.
//
// Threads: the host's user-interface thread creates and closes instances and calls the dispatcher;
// the audio thread calls the process entry; setParameter and getParameter may come on either.
#pragma once

#include "core/processor.h"
#include "editor/editor_view.h"
#include "formats/module/processor_editor_model.h"
#include "formats/module/version.h"
#include "formats/vst2/vst_host.h"

namespace lumisere::vst2 {

constexpr VstInt32 kUniqueId = fourCharCode('L', 'M', 'S', 'R');
constexpr VstInt32 kPluginVersion = kVersionNumber;

struct Vst2Instance {
    // [ui thread] The record with every field at its creation value and the header filled.
    explicit Vst2Instance(audioMasterCallback host);

    Vst2Instance(const Vst2Instance&) = delete;
    Vst2Instance& operator=(const Vst2Instance&) = delete;

    static Vst2Instance* fromEffect(const AEffect* effect) {
        return effect == nullptr ? nullptr : static_cast<Vst2Instance*>(effect->object);
    }

    // [any thread] setParameter: clamps and stores, then asks an open editor to repaint.
    void setParameter(VstInt32 index, float value);

    // [ui thread] effEditOpen / effEditClose.
    void openEditor(void* parent);
    void closeEditor();

    // [any thread] The open editor window's native handle, null when none is open.
    void* editorWindow() const { return editor == nullptr ? nullptr : editor->view.nativeWindow(); }

    AEffect header;                    // what the host holds; must stay the first member
    audioMasterCallback hostCallback;  // stored, never called

    Processor processor;

    // The editor lives as long as the record and opens and closes its window as asked. It is held
    // apart (its classes have virtual functions) so the record keeps a standard layout.
    struct Editor {
        explicit Editor(Processor& processor) : model(processor), view(model) {}
        ProcessorEditorModel model;
        editor::EditorView view;
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
