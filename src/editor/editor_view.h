// The editor as a window sees it: paints the panel, turns pointer events into parameter changes
// through the mouse state machine, and owns the one drag state. One view per plug-in instance, for
// the instance's whole life; it opens and closes the instance's window as the host asks.
#pragma once

#include <atomic>
#include <memory>

#include "editor/editor_model.h"
#include "editor/mouse.h"
#include "platform/window_layer.h"

namespace lumisere::editor {

// Told of every change the editor makes to a parameter, after it is stored, on the window's thread.
// VST 2.x hosts are not told (the host reads the new value when it next asks); an LV2 UI passes it on
// to its host; CLAP wraps the values of one gesture (a drag, a click) in editBegan / editEnded.
class EditListener {
public:
    virtual ~EditListener() = default;
    virtual void editBegan(int /*index*/) {}
    virtual void parameterEdited(int index, float value) = 0;
    virtual void editEnded(int /*index*/) {}
};

class EditorView final : public platform::WindowClient {
public:
    // model (and listener, when given) must outlive the view.
    explicit EditorView(EditorModel& model, EditListener* listener = nullptr);
    ~EditorView() override;

    EditorView(const EditorView&) = delete;
    EditorView& operator=(const EditorView&) = delete;

    // [ui thread] Opens the editor's window in parent, closing one still open first, so an instance
    // never has two windows. False when parent is not a window (no window is open then). Driven by the
    // host, its events wait for serveEvents (platform/window_layer.h).
    bool open(void* parent, platform::EventDriver driver = platform::EventDriver::ownThread);
    // [ui thread] For a window the host drives: the descriptor to watch (-1 for none) and the call
    // that serves it.
    int eventDescriptor() const { return window_ ? window_->eventDescriptor() : -1; }
    void serveEvents() {
        if (window_) window_->serveEvents();
    }
    // [ui thread] Closes the window, if one is open; ends any drag.
    void close();
    // [ui thread] Whether a window is open and still there (the host may have destroyed it with its own).
    bool isOpen() const;

    // [any thread] The open window's native handle, null when closed.
    void* nativeWindow() const { return nativeWindow_.load(std::memory_order_acquire); }

    // A parameter changed elsewhere (the host) needs nothing from the view: every 30 ms tick repaints
    // the whole panel from the model. So a host's change never calls into the window system, which
    // keeps setParameter safe on the audio thread and while the window closes.

    const DragState& drag() const { return drag_; }

    // platform::WindowClient, on the window's thread.
    void paint(platform::Canvas& canvas, int width, int height) override;
    platform::PointerResponse pointerPress(int x, int y, int clientHeight) override;
    platform::PointerResponse doubleClickPress(int x, int y) override;
    platform::PointerResponse pointerMove(int x, int y, bool leftButtonHeld) override;
    platform::PointerResponse pointerRelease(int x, int y) override;
    void captureLost() override;

private:
    // The model the mouse machine writes through: stores, then tells the listener.
    class NotifyingModel final : public EditorModel {
    public:
        NotifyingModel(EditorModel& target, EditListener* listener) : target_(target), listener_(listener) {}
        float param(int index) const override { return target_.param(index); }
        void setParam(int index, float value) override;
        float deEssReductionDb() const override { return target_.deEssReductionDb(); }
        float gateReductionDb() const override { return target_.gateReductionDb(); }

        // The gesture the listener was told of: begun once per parameter, ended once.
        void beginGesture(int index);
        void endGesture();

    private:
        EditorModel& target_;
        EditListener* listener_;
        int gesture_ = -1;  // the parameter of the open gesture, -1 for none
    };

    // After a press: a drag keeps its gesture open until the release; a click's is over.
    void settleGesture();

    NotifyingModel model_;
    DragState drag_;
    std::unique_ptr<platform::ChildWindow> window_;
    std::atomic<void*> nativeWindow_{nullptr};
};

}  // namespace lumisere::editor
