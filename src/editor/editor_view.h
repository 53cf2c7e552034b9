// The editor as a window sees it: paints the panel, turns pointer events into parameter changes
// through the mouse state machine, and owns the one drag state. One view per plug-in instance, for
// the instance's whole life; it opens and closes the instance's window as the host asks.
#pragma once

#include <atomic>
#include <memory>

#include "editor/editor_model.h"
#include "editor/mouse.h"
#include "editor/panel.h"
#include "platform/window_layer.h"

namespace lumisere::editor {

// Told of every change the editor makes to a parameter, as gestures a host can record: a drag is
// editBegan at the press, one parameterEdited per change of the stored value, editEnded at the release
// (also when the capture is lost or the editor closes mid-drag, so a begin always has its end); a
// toggle, a strip click or the first press of a double-click is a begin, a value and an end of its
// own. Calls come on the window's thread (platform/window_layer.h), the end of a drag cut short by
// close() on the thread that closes.
class EditListener {
public:
    virtual ~EditListener() = default;
    // A drag, toggle, strip click or double-click starts changing index.
    virtual void editBegan(int index) = 0;
    // After the value is stored; value is the stored one.
    virtual void parameterEdited(int index, float value) = 0;
    // That change is over.
    virtual void editEnded(int index) = 0;
};

class EditorView final : public platform::WindowClient {
public:
    // model (and listener, when given) must outlive the view.
    explicit EditorView(EditorModel& model, EditListener* listener = nullptr);
    ~EditorView() override;

    EditorView(const EditorView&) = delete;
    EditorView& operator=(const EditorView&) = delete;

    // [ui thread] Opens the editor's window in parent, closing one still open first, so an instance
    // never has two windows. False when parent is not a window (no window is open then).
    bool open(void* parent);
    // [ui thread] Closes the window, if one is open; ends any drag.
    void close();
    // [ui thread] Whether a window is open and still there (the host may have destroyed it with its own).
    bool isOpen() const;

    // [any thread] The open window's native handle, null when closed.
    void* nativeWindow() const { return nativeWindow_.load(std::memory_order_acquire); }

    // A parameter changed elsewhere (the host) needs nothing from the view: every 30 ms tick compares
    // the panel's state with the one on screen and paints what differs. So a host's change never calls
    // into the window system, which keeps setParameter safe on the audio thread and while the window
    // closes; and a tick with nothing changed paints nothing.

    const DragState& drag() const { return drag_; }

    // platform::WindowClient, on the window's thread.
    platform::Damage paint(platform::Canvas& canvas, int width, int height, bool whole) override;
    platform::PointerResponse pointerPress(int x, int y, int clientHeight) override;
    platform::PointerResponse doubleClickPress(int x, int y) override;
    platform::PointerResponse pointerMove(int x, int y, bool leftButtonHeld) override;
    platform::PointerResponse pointerRelease(int x, int y) override;
    void captureLost() override;

private:
    // The model the mouse machine writes through: stores, then tells the listener. A write to the
    // parameter being dragged is a move of that gesture; any other write is a gesture of its own.
    class NotifyingModel final : public EditorModel {
    public:
        NotifyingModel(EditorModel& target, EditListener* listener, const DragState& drag)
            : target_(target), listener_(listener), drag_(drag) {}
        float param(int index) const override { return target_.param(index); }
        void setParam(int index, float value) override;
        float deEssReductionDb() const override { return target_.deEssReductionDb(); }
        float gateReductionDb() const override { return target_.gateReductionDb(); }

    private:
        EditorModel& target_;
        EditListener* listener_;
        const DragState& drag_;
    };

    // Ends the drag under way, if any, and tells the listener.
    void endDrag();

    EditListener* listener_;
    NotifyingModel model_;
    DragState drag_;
    // [window thread] The state of the picture on the window's canvas, when shownWidth_ > 0.
    PanelState shown_{};
    int shownWidth_ = 0;
    int shownHeight_ = 0;
    std::unique_ptr<platform::ChildWindow> window_;
    std::atomic<void*> nativeWindow_{nullptr};
};

}  // namespace lumisere::editor
