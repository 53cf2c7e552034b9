// The LV2 editor's instance: the values the editor shows (the nine control inputs, normalised, and
// the two reductions), the edits on their way to the host, and the editor view in the host's window.
// The UI never sees the plug-in instance: everything it knows comes through port events, and
// everything it changes goes out through the host's write function, as LV2 wants of a UI that may run
// apart from its plug-in.
//
// Threads. The host's UI thread creates and destroys the instance and calls portEvent and idle; the
// window's event thread (platform/x11) paints, handles the pointer and so calls the model and the
// listener below. They share the values and the pending edits, each one lock-free atomic word.
#pragma once

#include <lv2/ui/ui.h>

#include <atomic>
#include <cstdint>

#include "editor/editor_model.h"
#include "editor/editor_view.h"
#include "formats/lv2/lv2_ports.h"

namespace lumisere::lv2 {

// Which thread hands an edit to the host's write function.
enum class EditDelivery {
    // The host's UI thread, at its next idle call: for hosts that offer ui:idleInterface.
    fromIdle,
    // The editor's event thread, as the edit happens: hosts without an idle call give the UI no other
    // thread. LV2 expects the write function on the UI thread, so this is a fallback.
    fromEventThread,
};

class UiInstance final : public editor::EditorModel, public editor::EditListener {
public:
    // [ui thread] The values at the table's defaults and the reductions at zero, until the host's port
    // events say otherwise. write and controller are the host's, kept for the instance's life.
    UiInstance(LV2UI_Write_Function write, LV2UI_Controller controller, EditDelivery delivery);
    // [ui thread] Closes the window (no edit can come after that) and sends the edits still pending.
    ~UiInstance() override;

    UiInstance(const UiInstance&) = delete;
    UiInstance& operator=(const UiInstance&) = delete;

    // [ui thread] Opens the editor in the host's parent window (an X11 Window id). False when parent is
    // no window; nothing is open then.
    bool open(void* parent);
    // [any thread] The editor's X11 window, the widget handed to the host; null when none is open.
    void* window() const { return view_.nativeWindow(); }

    // [ui thread] A port's value from the host. Only the float protocol (format 0, one float) on a control
    // input or a reduction port is taken; anything else, and a NaN, is ignored. A control input's value,
    // in its physical unit, goes through the same reading as the plug-in's (portValueToNormalised) and the
    // clamp; a reduction is kept in dB as it comes.
    void portEvent(std::uint32_t port, std::uint32_t bufferSize, std::uint32_t format, const void* buffer);

    // [ui thread] ui:idleInterface: sends the edits pending since the last call. Non-zero once the
    // window is gone (the host destroyed its parent), as LV2 asks of a closed UI.
    int idle();

    // editor::EditorModel, on the event thread.
    float param(int index) const override;
    void setParam(int index, float value) override;
    float deEssReductionDb() const override { return deEssDb_.load(std::memory_order_relaxed); }
    float gateReductionDb() const override { return gateDb_.load(std::memory_order_relaxed); }

    // editor::EditListener, on the event thread: after every change the editor makes. The UI's write
    // function carries values only, so a gesture's begin and end have nothing to send.
    void editBegan(int) override {}
    void parameterEdited(int index, float value) override;
    void editEnded(int) override {}

private:
    // Writes parameter index's value to its port in its physical unit, the float protocol.
    void writePort(int index, float value) const;
    void sendPendingEdits();

    // What the editor shows; written by port events and by the editor's own changes.
    std::atomic<float> params_[kNumParams];
    std::atomic<float> deEssDb_{0.0f};
    std::atomic<float> gateDb_{0.0f};

    // The edits waiting for the next idle call: bit i set means edits_[i] holds parameter i's latest
    // edit. The value sent is the edit's own, never what a port event has written since, so an echo of
    // an older value from the host cannot replace the user's last move.
    std::atomic<float> edits_[kNumParams];
    std::atomic<std::uint32_t> pendingEdits_{0};

    const LV2UI_Write_Function write_;
    const LV2UI_Controller controller_;
    const EditDelivery delivery_;

    // Last: destroyed first, so the window and its thread are gone before the values they read.
    editor::EditorView view_;
};

}  // namespace lumisere::lv2
