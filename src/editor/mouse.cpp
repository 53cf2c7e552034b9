#include "editor/mouse.h"

#include "core/parameters.h"
#include "editor/knob.h"
#include "editor/panel.h"

namespace lumisere::editor {

namespace {

float toggled(float value) { return isSwitchOn(value) ? 0.0f : 1.0f; }

bool within(int v, int low, int high) { return low <= v && v <= high; }

}  // namespace

int knobAt(int x, int y) {
    for (int row = 0; row < kNumKnobs; ++row) {
        const KnobSpec& knob = kKnobLayout[row];
        // In 64 bits, and only inside the circle's box: a captured pointer can lie far outside the
        // window, where the squares would overflow.
        const long long dx = static_cast<long long>(x) - knob.centerX;
        const long long dy = static_cast<long long>(y) - knob.centerY;
        const long long r = knob.radius;
        if (dx < -r || dx > r || dy < -r || dy > r) continue;
        if (dx * dx + dy * dy <= r * r) return row;
    }
    return -1;
}

MouseResponse mousePress(EditorModel* model, DragState& drag, int x, int y, int clientHeight) {
    MouseResponse response;
    response.captureMouse = true;  // every press, hit or not, so its release comes back to us
    if (model == nullptr) return response;

    const int row = knobAt(x, y);
    if (row >= 0) {
        const int index = kKnobLayout[row].paramIndex;
        if (index == kParamListenSibilance) {
            model->setParam(index, toggled(model->param(index)));
            response.repaint = true;
        } else {
            drag.param = index;
            drag.startY = y;
            drag.startValue = model->param(index);
        }
        return response;
    }

    // The bypass button is hit-tested exactly as drawn, both edges included.
    const platform::IntRect bypass = bypassButtonRect(clientHeight);
    const platform::IntRect dryWet = dryWetTrackRect(clientHeight);
    if (within(x, bypass.x, bypass.x + bypass.width)) {
        if (within(y, bypass.y, bypass.y + bypass.height)) {
            model->setParam(kParamBypass, toggled(model->param(kParamBypass)));
            response.repaint = true;
        }
    } else if (within(x, dryWet.x, dryWet.x + dryWet.width) &&
               within(y, clientHeight - kDryWetPressTopFromBottom, clientHeight - kDryWetPressBottomFromBottom)) {
        model->setParam(kParamDryWet, static_cast<float>(x - dryWet.x) / static_cast<float>(dryWet.width));
        response.repaint = true;
    }
    return response;
}

MouseResponse mouseMove(EditorModel* model, DragState& drag, int y, bool leftButtonHeld) {
    MouseResponse response;
    if (model == nullptr || !leftButtonHeld || drag.param < 0 || drag.param >= kNumParams) return response;
    const float rise = static_cast<float>(static_cast<long long>(drag.startY) - y);
    model->setParam(drag.param, clampParam(rise * kDragPerPixel + drag.startValue));
    // Also when the value did not change: the picture follows every move of a drag.
    response.repaint = true;
    return response;
}

MouseResponse mouseRelease(DragState& drag) {
    drag.param = -1;
    MouseResponse response;
    response.releaseMouse = true;
    return response;
}

MouseResponse mouseDoubleClickPress() { return {}; }

}  // namespace lumisere::editor
