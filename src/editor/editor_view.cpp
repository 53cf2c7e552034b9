#include "editor/editor_view.h"

#include "editor/panel.h"

namespace lumisere::editor {

namespace {

platform::PointerResponse toPlatform(const MouseResponse& r) {
    platform::PointerResponse p;
    p.capture = r.captureMouse;
    p.release = r.releaseMouse;
    p.repaint = r.repaint;
    return p;
}

}  // namespace

void EditorView::NotifyingModel::setParam(int index, float value) {
    target_.setParam(index, value);
    if (listener_ == nullptr) return;
    beginGesture(index);
    listener_->parameterEdited(index, target_.param(index));
}

void EditorView::NotifyingModel::beginGesture(int index) {
    if (gesture_ == index || listener_ == nullptr) return;
    endGesture();
    gesture_ = index;
    listener_->editBegan(index);
}

void EditorView::NotifyingModel::endGesture() {
    if (gesture_ < 0) return;
    if (listener_ != nullptr) listener_->editEnded(gesture_);
    gesture_ = -1;
}

void EditorView::settleGesture() {
    if (drag_.param >= 0) {
        model_.beginGesture(drag_.param);
    } else {
        model_.endGesture();
    }
}

EditorView::EditorView(EditorModel& model, EditListener* listener) : model_(model, listener) {}

EditorView::~EditorView() { close(); }

bool EditorView::open(void* parent, platform::EventDriver driver) {
    close();
    window_ = platform::openChildWindow(parent, kEditorWidth, kEditorHeight, *this, driver);
    nativeWindow_.store(window_ ? window_->nativeHandle() : nullptr, std::memory_order_release);
    return window_ != nullptr;
}

void EditorView::close() {
    nativeWindow_.store(nullptr, std::memory_order_release);
    window_.reset();  // returns once no call into this view can come from the window any more
    drag_ = DragState{};
    model_.endGesture();
}

bool EditorView::isOpen() const { return window_ != nullptr && window_->alive(); }

void EditorView::paint(platform::Canvas& canvas, int width, int height) {
    paintEditor(canvas, width, height, model_);
}

platform::PointerResponse EditorView::pointerPress(int x, int y, int clientHeight) {
    const MouseResponse response = mousePress(&model_, drag_, x, y, clientHeight);
    settleGesture();
    return toPlatform(response);
}

platform::PointerResponse EditorView::doubleClickPress(int, int) { return toPlatform(mouseDoubleClickPress()); }

platform::PointerResponse EditorView::pointerMove(int, int y, bool leftButtonHeld) {
    return toPlatform(mouseMove(&model_, drag_, y, leftButtonHeld));
}

platform::PointerResponse EditorView::pointerRelease(int, int) {
    const MouseResponse response = mouseRelease(drag_);
    model_.endGesture();
    return toPlatform(response);
}

// The release will never come: end the drag as a release would.
void EditorView::captureLost() {
    mouseRelease(drag_);
    model_.endGesture();
}

}  // namespace lumisere::editor
