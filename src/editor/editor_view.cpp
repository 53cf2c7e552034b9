#include "editor/editor_view.h"

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
    const float before = target_.param(index);
    target_.setParam(index, value);
    if (listener_ == nullptr) return;
    const float stored = target_.param(index);
    if (drag_.param == index) {
        // A move of the drag: the host hears of changes only, not of every pixel at the range's end.
        if (stored != before) listener_->parameterEdited(index, stored);
        return;
    }
    listener_->editBegan(index);
    listener_->parameterEdited(index, stored);
    listener_->editEnded(index);
}

// model_ keeps a reference to drag_, which is constructed after it but only read once events come.
EditorView::EditorView(EditorModel& model, EditListener* listener)
    : listener_(listener), model_(model, listener, drag_) {}

EditorView::~EditorView() { close(); }

bool EditorView::open(void* parent) {
    close();
    window_ = platform::openChildWindow(parent, kEditorWidth, kEditorHeight, *this);
    nativeWindow_.store(window_ ? window_->nativeHandle() : nullptr, std::memory_order_release);
    return window_ != nullptr;
}

void EditorView::close() {
    nativeWindow_.store(nullptr, std::memory_order_release);
    window_.reset();  // returns once no call into this view can come from the window any more
    endDrag();
    drag_ = DragState{};
    shownWidth_ = 0;
}

void EditorView::endDrag() {
    if (drag_.param >= 0 && listener_ != nullptr) listener_->editEnded(drag_.param);
    drag_.param = -1;
}

bool EditorView::isOpen() const { return window_ != nullptr && window_->alive(); }

platform::Damage EditorView::paint(platform::Canvas& canvas, int width, int height, bool whole) {
    // One reading of the model serves the comparison and the drawing: the audio thread moves the
    // meters meanwhile, and the canvas must show exactly the state recorded as shown.
    ValueEditorModel now;
    for (int i = 0; i < kNumParams; ++i) now.params[i] = model_.param(i);
    now.deEssDb = model_.deEssReductionDb();
    now.gateDb = model_.gateReductionDb();
    const PanelState next = panelStateOf(now);

    platform::Damage damage;
    if (whole || width != shownWidth_ || height != shownHeight_) {
        paintEditor(canvas, width, height, now);
        damage.add({0, 0, width, height});
    } else {
        addChangedAreas(shown_, next, width, height, damage);
        for (int i = 0; i < damage.count; ++i) {
            canvas.clipTo(damage.rects[i]);
            paintEditorArea(canvas, width, height, now, damage.rects[i]);
            canvas.unclip();
        }
    }
    shown_ = next;
    shownWidth_ = width;
    shownHeight_ = height;
    return damage;
}

platform::PointerResponse EditorView::pointerPress(int x, int y, int clientHeight) {
    endDrag();  // a press with no release since the last one (posted input): that drag is over
    const MouseResponse response = mousePress(&model_, drag_, x, y, clientHeight);
    if (drag_.param >= 0 && listener_ != nullptr) listener_->editBegan(drag_.param);
    return toPlatform(response);
}

platform::PointerResponse EditorView::doubleClickPress(int, int) { return toPlatform(mouseDoubleClickPress()); }

platform::PointerResponse EditorView::pointerMove(int, int y, bool leftButtonHeld) {
    return toPlatform(mouseMove(&model_, drag_, y, leftButtonHeld));
}

platform::PointerResponse EditorView::pointerRelease(int, int) {
    endDrag();
    return toPlatform(mouseRelease(drag_));
}

// The release will never come: end the drag as a release would.
void EditorView::captureLost() {
    endDrag();
    mouseRelease(drag_);
}

}  // namespace lumisere::editor
