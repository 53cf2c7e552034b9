// Left-button handling as a state machine over (model, drag state, event). A window layer feeds it
// press, move and release events in client coordinates and carries out what it answers: take or free
// the pointer capture, repaint. Coordinates may be negative or beyond the window while captured.
#pragma once

#include "editor/editor_model.h"

namespace lumisere::editor {

// Idle while param is -1; dragging knob parameter `param` otherwise. The value follows the height
// alone, measured from the press, so the anchor never moves.
struct DragState {
    int param = -1;          // parameter being dragged (0, 1, 3, 4, 5 or 6), -1 for none
    int startY = 0;          // y of the press that started the drag
    float startValue = 0.0f;  // the parameter's value at that press
};

// What the window layer does after an event.
struct MouseResponse {
    bool captureMouse = false;  // route every mouse event to the editor until released
    bool releaseMouse = false;
    bool repaint = false;       // invalidate the whole client area
};

// Drag sensitivity: moving up 200 pixels covers the whole range.
constexpr float kDragPerPixel = 0.005f;

// Row of kKnobLayout whose circle (edge included) holds (x, y), the first in row order, or -1.
int knobAt(int x, int y);

// Left-button press at (x, y) in a client clientHeight pixels high. Always captures. A knob row starts a
// drag (Listen Sibilance toggles instead); below the knobs the bypass button toggles and the dry/wet
// strip sets the mix from x. With a null model only the capture happens.
MouseResponse mousePress(EditorModel* model, DragState& drag, int x, int y, int clientHeight);

// Pointer move to height y. While dragging with the left button held, the dragged parameter becomes
// startValue + (startY - y) x 0.005, clamped to 0..1, and the panel repaints on every such move.
MouseResponse mouseMove(EditorModel* model, DragState& drag, int y, bool leftButtonHeld);

// Left-button release, wherever the pointer is: frees the capture and ends any drag.
MouseResponse mouseRelease(DragState& drag);

// The second press of a double-click: left to the platform, it changes nothing and captures nothing.
MouseResponse mouseDoubleClickPress();

}  // namespace lumisere::editor
