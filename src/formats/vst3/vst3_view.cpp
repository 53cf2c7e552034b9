// The editor as a VST 3 view: the same EditorView as the other formats, 840 x 520 and not resizable,
// in the host's HWND on Windows or its X11 embed window on Linux. Every edit reaches the host as
// begin, perform and end edit through the component handler, on the host's UI thread. The Windows
// window runs on that thread, so its edits go at once; the Linux window has an event thread of its
// own, so its edits wait (the latest value per parameter) for the timer the view keeps on the
// host's run loop.
#include <new>

#include "formats/module/host_entry.h"
#include "editor/editor_view.h"
#include "editor/panel.h"
#include "formats/vst3/vst3_plugin.h"
#include "editor/edit_queue.h"
#include "formats/processor_editor_model.h"

namespace lumisere::vst3 {

namespace {

#if defined(_WIN32)
constexpr const char* kWindowType = kPlatformTypeHwnd;
#else
constexpr const char* kWindowType = kPlatformTypeX11EmbedWindowId;
#endif

// How often the host's run loop hands the editor's edits over.
constexpr uint64 kEditTimerMs = 15;

class EditorPlugView final : public IPlugView, public ITimerHandler, private editor::EditListener {
public:
    explicit EditorPlugView(Effect& effect) : effect_(effect), model_(effect.processor()), view_(model_, this) {
        effect_.addRef();
    }

    ~EditorPlugView() {
        removed();
        effect_.release();
    }

    tresult LUMISERE_VST3_CALL queryInterface(const char* iid, void** object) override {
        if (object == nullptr) return kInvalidArgument;
        *object = nullptr;
        if (kIidFUnknown == iid || kIidIPlugView == iid) {
            *object = static_cast<IPlugView*>(this);
        } else if (kIidITimerHandler == iid) {
            *object = static_cast<ITimerHandler*>(this);
        } else {
            return kNoInterface;
        }
        refs_.add();
        return kResultOk;
    }
    uint32 LUMISERE_VST3_CALL addRef() override { return refs_.add(); }
    uint32 LUMISERE_VST3_CALL release() override {
        const uint32 left = refs_.drop();
        if (left == 0) delete this;
        return left;
    }

    tresult LUMISERE_VST3_CALL isPlatformTypeSupported(FIDString type) override {
        return type != nullptr && std::strcmp(type, kWindowType) == 0 ? kResultTrue : kResultFalse;
    }

    tresult LUMISERE_VST3_CALL attached(void* parent, FIDString type) override {
        const HostEntryGuard masked;
        if (parent == nullptr || isPlatformTypeSupported(type) != kResultTrue) return kInvalidArgument;
        if (!view_.open(parent)) return kResultFalse;
#if !defined(_WIN32)
        void* loop = nullptr;
        if (frame_ != nullptr && runLoop_ == nullptr && frame_->queryInterface(kIidIRunLoop.bytes, &loop) == kResultOk) {
            runLoop_ = static_cast<IRunLoop*>(loop);
            if (runLoop_->registerTimer(this, kEditTimerMs) != kResultOk) {
                runLoop_->release();
                runLoop_ = nullptr;
            }
        }
#endif
        return kResultOk;
    }

    tresult LUMISERE_VST3_CALL removed() override {
        const HostEntryGuard masked;
        view_.close();
        // What the window changed before it closed still reaches the host.
        deliverEdits();
        if (runLoop_ != nullptr) {
            runLoop_->unregisterTimer(this);
            runLoop_->release();
            runLoop_ = nullptr;
        }
        return kResultOk;
    }

    tresult LUMISERE_VST3_CALL onWheel(float) override { return kResultFalse; }
    tresult LUMISERE_VST3_CALL onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult LUMISERE_VST3_CALL onKeyUp(char16, int16, int16) override { return kResultFalse; }

    tresult LUMISERE_VST3_CALL getSize(ViewRect* size) override {
        if (size == nullptr) return kInvalidArgument;
        *size = ViewRect{0, 0, editor::kEditorWidth, editor::kEditorHeight};
        return kResultOk;
    }
    // The editor has one size: a host may only confirm it.
    tresult LUMISERE_VST3_CALL onSize(ViewRect* newSize) override {
        if (newSize == nullptr) return kInvalidArgument;
        const bool same = newSize->right - newSize->left == editor::kEditorWidth &&
                          newSize->bottom - newSize->top == editor::kEditorHeight;
        return same ? kResultOk : kResultFalse;
    }
    tresult LUMISERE_VST3_CALL onFocus(TBool) override { return kResultOk; }
    tresult LUMISERE_VST3_CALL setFrame(IPlugFrame* frame) override {
        frame_ = frame;
        return kResultOk;
    }
    tresult LUMISERE_VST3_CALL canResize() override { return kResultFalse; }
    tresult LUMISERE_VST3_CALL checkSizeConstraint(ViewRect* rect) override {
        if (rect == nullptr) return kInvalidArgument;
        rect->right = rect->left + editor::kEditorWidth;
        rect->bottom = rect->top + editor::kEditorHeight;
        return kResultTrue;
    }

    // [host ui thread] The run loop's timer.
    void LUMISERE_VST3_CALL onTimer() override {
        const HostEntryGuard masked;
        deliverEdits();
    }

private:
    // editor::EditListener, on the window's thread: the gestures wait in the queue for the host's UI
    // thread (on Windows the window's thread is that thread, and they go at once).
    void editBegan(int index) override { post({editor::EditEvent::Kind::Begin, index, 0.0f}); }
    void parameterEdited(int index, float value) override { post({editor::EditEvent::Kind::Value, index, value}); }
    void editEnded(int index) override { post({editor::EditEvent::Kind::End, index, 0.0f}); }

    void post(const editor::EditEvent& event) {
        edits_.push(event);
#if defined(_WIN32)
        deliverEdits();
#endif
    }

    // [host ui thread] The gestures waiting, oldest first, as beginEdit, performEdit, endEdit.
    void deliverEdits() {
        IComponentHandler* handler = effect_.componentHandler();
        edits_.drain([handler](const editor::EditEvent& event) {
            if (handler == nullptr) return;  // no host to tell: the processor holds the value all the same
            const auto id = static_cast<ParamID>(event.index);
            switch (event.kind) {
            case editor::EditEvent::Kind::Begin: handler->beginEdit(id); break;
            case editor::EditEvent::Kind::Value: handler->performEdit(id, event.value); break;
            case editor::EditEvent::Kind::End: handler->endEdit(id); break;
            }
        });
    }

    RefCount refs_;
    Effect& effect_;
    ProcessorEditorModel model_;
    editor::EditorView view_;
    IPlugFrame* frame_ = nullptr;
    IRunLoop* runLoop_ = nullptr;

    editor::EditQueue edits_;  // the window's thread in, the host's UI thread out
};

}  // namespace

IPlugView* createEditorView(Effect& effect) { return new (std::nothrow) EditorPlugView(effect); }

}  // namespace lumisere::vst3
