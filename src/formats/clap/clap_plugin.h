// The CLAP adapter's instance: the clap_plugin_t record the host holds, the host's record and the
// extensions it offers, the format-neutral processor, the editor, and the editor's edits on their way
// to the host as gesture and value events.
//
// Threads, as the format tags each entry (the paragraph in docs/architecture.md says how each keeps
// them): the host's main thread creates, initialises, activates and destroys, asks for parameter
// facts, state and the editor; the audio thread starts and stops processing and processes; flush
// comes on the audio thread while active and on the main thread otherwise, never beside process. The
// editor's window calls the EditListener on its own thread (X11) or on the main thread (Win32).
#pragma once

#include <atomic>

#include "core/processor.h"
#include "editor/editor_view.h"
#include "formats/clap/clap_abi.h"
#include "editor/edit_queue.h"
#include "formats/processor_editor_model.h"

namespace lumisere::clap {

// The one plug-in of the factory.
extern const clap_plugin_descriptor_t kDescriptor;

// A parameter's plain value (its unit: dB, Hz, %, 0/1 for a switch) from the stored normalised one,
// and back; a NaN plain value gives a NaN. The plain range of each parameter is its units at 0 and 1.
double plainValue(int index, float normalised);
float normalisedValue(int index, double plain);

// The plain value a user's text stands for: a number with an optional unit ("-30", "-30 dB", "7.2 kHz",
// "7200", "40 %"), or for a switch its display texts or on/off. False for other text and for values
// outside the parameter's range.
bool plainFromText(int index, const char* text, double& plain);

// The state: a four-byte tag, a format version and the nine normalised values, little-endian.
constexpr unsigned char kStateTag[4] = {'L', 'M', 'S', 'C'};
constexpr std::uint32_t kStateVersion = 1;
constexpr std::size_t kStateSize = 4 + 4 + 4 * kNumParams;

class Plugin final : public editor::EditListener {
public:
    // [thread-safe] A record over host, which must stay valid until destroy. The host is not called.
    explicit Plugin(const clap_host_t* host);
    ~Plugin() override;

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    static Plugin* from(const clap_plugin_t* plugin) {
        return plugin == nullptr ? nullptr : static_cast<Plugin*>(plugin->plugin_data);
    }

    const clap_plugin_t* record() const { return &record_; }

    // The host's entries, each after the checks its tag asks for.
    bool init();
    bool activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames);
    void deactivate();
    bool startProcessing();
    void stopProcessing();
    void reset();
    clap_process_status process(const clap_process_t& process);
    void flush(const clap_input_events_t* in, const clap_output_events_t* out);

    bool getValue(clap_id id, double& value) const;
    bool saveState(const clap_ostream_t& stream) const;
    bool loadState(const clap_istream_t& stream);

    bool createGui(const char* api, bool floating);
    void destroyGui();
    bool setParent(const clap_window_t& window);
    bool guiCreated() const { return guiCreated_; }
    // [main-thread] The host's timer or descriptor callback: the editor's window served, when the
    // host drives it.
    void serveEditor();

    bool active() const { return active_.load(std::memory_order_relaxed); }

    // editor::EditListener, on the window's thread: queued, then a flush asked of the host.
    void editBegan(int index) override;
    void parameterEdited(int index, float value) override;
    void editEnded(int index) override;

private:
    void applyEvents(const clap_input_events_t* in);
    void sendEdits(const clap_output_events_t* out);
    void queueEdit(const editor::EditEvent& edit);
    // [main-thread] The host's timer and descriptor watch of the editor given back.
    void releaseHostDriving();

    clap_plugin_t record_;
    const clap_host_t* host_;
    const clap_host_params_t* hostParams_ = nullptr;  // from init; null when the host offers none
    // The host's timers and descriptor watch, which drive the X11 editor from the main thread where
    // the host offers a timer (null elsewhere, and on Windows, whose window the host's loop serves).
    const clap_host_timer_support_t* hostTimers_ = nullptr;
    const clap_host_posix_fd_support_t* hostDescriptors_ = nullptr;
    clap_id editorTimer_ = CLAP_INVALID_ID;
    int editorDescriptor_ = -1;

    Processor processor_;
    std::atomic<bool> active_{false};
    std::atomic<bool> processing_{false};

    editor::EditQueue edits_;
    ProcessorEditorModel model_{processor_};  // the view tells this instance of its writes
    editor::EditorView view_{model_, this};
    bool guiCreated_ = false;  // main thread only
};

}  // namespace lumisere::clap
