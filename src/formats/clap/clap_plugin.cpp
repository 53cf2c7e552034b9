#include "formats/clap/clap_plugin.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "editor/panel.h"
#include "formats/module/host_entry.h"
#include "formats/module/identity.h"
#include "formats/module/library.h"
#include "formats/module/version.h"

namespace lumisere::clap {

namespace {

using Guard = HostEntryGuard;

#if defined(_WIN32)
constexpr const char* kNativeApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kNativeApi = CLAP_WINDOW_API_X11;
#endif

// The editor's tick, asked of a host that drives the editor with its timer.
constexpr std::uint32_t kEditorTickMs = 30;

const char* const kFeatures[] = {"audio-effect", "de-esser", "restoration", "stereo", nullptr};

Plugin* self(const clap_plugin_t* plugin) { return Plugin::from(plugin); }

// Parameter ids are the table's indices; anything else names no parameter.
bool isParamId(clap_id id) { return id < static_cast<clap_id>(kNumParams); }

bool isSwitch(int index) { return kParams[index].kind == ParamKind::toggle; }

// Copies text into a fixed field of capacity bytes, cut to leave the terminator.
void copyText(char* out, std::size_t capacity, const char* text) {
    if (out == nullptr || capacity == 0) return;
    const std::size_t n = std::min(std::strlen(text), capacity - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

bool equalsIgnoringCase(const char* a, const char* b, std::size_t length) {
    if (std::strlen(b) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// ---- clap_plugin_t entries ------------------------------------------------------------------------
// Every entry holds the host-entry guard (formats/module/host_entry.h); the process entry holds it while
// it reads events, and Processor::process its own, which also flushes subnormals.

bool CLAP_ABI initEntry(const clap_plugin_t* plugin) {  // [main-thread]
    const Guard masked;
    Plugin* p = self(plugin);
    return p != nullptr && p->init();
}

void CLAP_ABI destroyEntry(const clap_plugin_t* plugin) {  // [main-thread & !active]
    const Guard masked;
    Plugin* p = self(plugin);
    if (p == nullptr) return;
    delete p;
    instanceDestroyed();
}

bool CLAP_ABI activateEntry(const clap_plugin_t* plugin, double rate, std::uint32_t minFrames,
                            std::uint32_t maxFrames) {  // [main-thread & !active]
    const Guard masked;
    Plugin* p = self(plugin);
    return p != nullptr && p->activate(rate, minFrames, maxFrames);
}

void CLAP_ABI deactivateEntry(const clap_plugin_t* plugin) {  // [main-thread & active]
    const Guard masked;
    if (Plugin* p = self(plugin)) p->deactivate();
}

bool CLAP_ABI startProcessingEntry(const clap_plugin_t* plugin) {  // [audio-thread & active & !processing]
    Plugin* p = self(plugin);
    return p != nullptr && p->startProcessing();
}

void CLAP_ABI stopProcessingEntry(const clap_plugin_t* plugin) {  // [audio-thread & active & processing]
    if (Plugin* p = self(plugin)) p->stopProcessing();
}

void CLAP_ABI resetEntry(const clap_plugin_t* plugin) {  // [audio-thread & active]
    const Guard masked;
    if (Plugin* p = self(plugin)) p->reset();
}

clap_process_status CLAP_ABI processEntry(const clap_plugin_t* plugin,
                                          const clap_process_t* process) {  // [audio-thread & active & processing]
    Plugin* p = self(plugin);
    return p == nullptr || process == nullptr ? CLAP_PROCESS_ERROR : p->process(*process);
}

const void* CLAP_ABI getExtensionEntry(const clap_plugin_t* plugin, const char* id);  // [thread-safe]

void CLAP_ABI onMainThreadEntry(const clap_plugin_t*) {}  // [main-thread] never asked for

// ---- audio-ports: one stereo input and one stereo output, which may share buffers ---------------
constexpr clap_id kMainPortId = 0;

std::uint32_t CLAP_ABI portCount(const clap_plugin_t*, bool) { return 1; }  // [main-thread]

bool CLAP_ABI portInfo(const clap_plugin_t*, std::uint32_t index, bool isInput,
                       clap_audio_port_info_t* info) {  // [main-thread]
    if (index != 0 || info == nullptr) return false;
    info->id = kMainPortId;
    copyText(info->name, sizeof info->name, isInput ? "Stereo In" : "Stereo Out");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = kMainPortId;
    return true;
}

const clap_plugin_audio_ports_t kAudioPorts{portCount, portInfo};

// ---- params: the nine of the table, in their units --------------------------------------------
std::uint32_t CLAP_ABI paramCount(const clap_plugin_t*) { return kNumParams; }  // [main-thread]

bool CLAP_ABI paramInfo(const clap_plugin_t*, std::uint32_t index, clap_param_info_t* info) {  // [main-thread]
    if (!isParamId(index) || info == nullptr) return false;
    const int i = static_cast<int>(index);
    const ParamSpec& row = kParams[i];
    std::memset(info, 0, sizeof *info);
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    if (isSwitch(i)) info->flags |= CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_ENUM;
    if (i == kParamBypass) info->flags |= CLAP_PARAM_IS_BYPASS;
    copyText(info->name, sizeof info->name, row.hostName);
    const double atZero = paramUnits(i, 0.0);
    const double atOne = paramUnits(i, 1.0);
    info->min_value = std::min(atZero, atOne);
    info->max_value = std::max(atZero, atOne);
    info->default_value = plainValue(i, row.defaultValue);
    return true;
}

bool CLAP_ABI paramValue(const clap_plugin_t* plugin, clap_id id, double* out) {  // [main-thread]
    const Plugin* p = self(plugin);
    return p != nullptr && out != nullptr && p->getValue(id, *out);
}

bool CLAP_ABI valueToText(const clap_plugin_t*, clap_id id, double value, char* out,
                          std::uint32_t capacity) {  // [main-thread]
    const Guard masked;
    if (!isParamId(id) || out == nullptr || capacity == 0 || std::isnan(value)) return false;
    formatParamDisplay(id, normalisedValue(static_cast<int>(id), value), out, capacity);
    return true;
}

bool CLAP_ABI textToValue(const clap_plugin_t*, clap_id id, const char* text, double* out) {  // [main-thread]
    const Guard masked;
    if (!isParamId(id) || text == nullptr || out == nullptr) return false;
    return plainFromText(static_cast<int>(id), text, *out);
}

void CLAP_ABI flushEntry(const clap_plugin_t* plugin, const clap_input_events_t* in,
                         const clap_output_events_t* out) {  // [active ? audio-thread : main-thread]
    const Guard masked;
    if (Plugin* p = self(plugin)) p->flush(in, out);
}

const clap_plugin_params_t kParamsExtension{paramCount, paramInfo, paramValue, valueToText, textToValue, flushEntry};

// ---- state ------------------------------------------------------------------------------------
bool CLAP_ABI saveStateEntry(const clap_plugin_t* plugin, const clap_ostream_t* stream) {  // [main-thread]
    const Plugin* p = self(plugin);
    return p != nullptr && stream != nullptr && stream->write != nullptr && p->saveState(*stream);
}

bool CLAP_ABI loadStateEntry(const clap_plugin_t* plugin, const clap_istream_t* stream) {  // [main-thread]
    const Guard masked;
    Plugin* p = self(plugin);
    return p != nullptr && stream != nullptr && stream->read != nullptr && p->loadState(*stream);
}

const clap_plugin_state_t kState{saveStateEntry, loadStateEntry};

// ---- latency: none ----------------------------------------------------------------------------
std::uint32_t CLAP_ABI latencyEntry(const clap_plugin_t*) { return 0; }  // [main-thread & active]

const clap_plugin_latency_t kLatency{latencyEntry};

// ---- gui: the editor embedded in the host's window, fixed size --------------------------------
bool CLAP_ABI guiIsApiSupported(const clap_plugin_t*, const char* api, bool floating) {  // [main-thread]
    return !floating && api != nullptr && std::strcmp(api, kNativeApi) == 0;
}

bool CLAP_ABI guiPreferredApi(const clap_plugin_t*, const char** api, bool* floating) {  // [main-thread]
    if (api == nullptr || floating == nullptr) return false;
    *api = kNativeApi;
    *floating = false;
    return true;
}

bool CLAP_ABI guiCreate(const clap_plugin_t* plugin, const char* api, bool floating) {  // [main-thread]
    Plugin* p = self(plugin);
    return p != nullptr && p->createGui(api, floating);
}

void CLAP_ABI guiDestroy(const clap_plugin_t* plugin) {  // [main-thread]
    if (Plugin* p = self(plugin)) p->destroyGui();
}

bool CLAP_ABI guiSetScale(const clap_plugin_t*, double) { return false; }  // [main-thread] pixels as they are

bool CLAP_ABI guiGetSize(const clap_plugin_t* plugin, std::uint32_t* width, std::uint32_t* height) {  // [main-thread]
    const Plugin* p = self(plugin);
    if (p == nullptr || !p->guiCreated() || width == nullptr || height == nullptr) return false;
    *width = editor::kEditorWidth;
    *height = editor::kEditorHeight;
    return true;
}

bool CLAP_ABI guiCanResize(const clap_plugin_t*) { return false; }  // [main-thread & !floating]

bool CLAP_ABI guiResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; }  // [main-thread & !floating]

bool CLAP_ABI guiAdjustSize(const clap_plugin_t*, std::uint32_t*, std::uint32_t*) { return false; }  // [main-thread & !floating]

// [main-thread & !floating] Only the one size the editor has.
bool CLAP_ABI guiSetSize(const clap_plugin_t* plugin, std::uint32_t width, std::uint32_t height) {
    const Plugin* p = self(plugin);
    return p != nullptr && p->guiCreated() && width == static_cast<std::uint32_t>(editor::kEditorWidth) &&
           height == static_cast<std::uint32_t>(editor::kEditorHeight);
}

bool CLAP_ABI guiSetParent(const clap_plugin_t* plugin, const clap_window_t* window) {  // [main-thread & !floating]
    const Guard masked;
    Plugin* p = self(plugin);
    return p != nullptr && window != nullptr && p->setParent(*window);
}

bool CLAP_ABI guiSetTransient(const clap_plugin_t*, const clap_window_t*) { return false; }  // [main-thread & floating]

void CLAP_ABI guiSuggestTitle(const clap_plugin_t*, const char*) {}  // [main-thread & floating]

// [main-thread] The window shows from set_parent on and hides with the host's.
bool CLAP_ABI guiShow(const clap_plugin_t* plugin) {
    const Plugin* p = self(plugin);
    return p != nullptr && p->guiCreated();
}

bool CLAP_ABI guiHide(const clap_plugin_t* plugin) { return guiShow(plugin); }  // [main-thread]

// ---- timer-support and posix-fd-support: the editor's window served on the main thread --------
void CLAP_ABI onTimer(const clap_plugin_t* plugin, clap_id) {  // [main-thread]
    const Guard masked;
    if (Plugin* p = self(plugin)) p->serveEditor();
}

void CLAP_ABI onDescriptor(const clap_plugin_t* plugin, int, std::uint32_t) {  // [main-thread]
    const Guard masked;
    if (Plugin* p = self(plugin)) p->serveEditor();
}

const clap_plugin_timer_support_t kTimerSupport{onTimer};
const clap_plugin_posix_fd_support_t kDescriptorSupport{onDescriptor};

const clap_plugin_gui_t kGui{guiIsApiSupported, guiPreferredApi, guiCreate,     guiDestroy,      guiSetScale,
                             guiGetSize,        guiCanResize,    guiResizeHints, guiAdjustSize,   guiSetSize,
                             guiSetParent,      guiSetTransient, guiSuggestTitle, guiShow,        guiHide};

const void* CLAP_ABI getExtensionEntry(const clap_plugin_t* plugin, const char* id) {
    if (self(plugin) == nullptr || id == nullptr) return nullptr;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParamsExtension;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
#if !defined(_WIN32)
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimerSupport;
    if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0) return &kDescriptorSupport;
#endif
    return nullptr;
}

// ---- state bytes --------------------------------------------------------------------------------
void putWord(unsigned char* out, std::uint32_t word) {
    for (int b = 0; b < 4; ++b) out[b] = static_cast<unsigned char>(word >> (8 * b));
}

std::uint32_t getWord(const unsigned char* in) {
    std::uint32_t word = 0;
    for (int b = 0; b < 4; ++b) word |= static_cast<std::uint32_t>(in[b]) << (8 * b);
    return word;
}

}  // namespace

const clap_plugin_descriptor_t kDescriptor{
    kClapVersion,
    kPluginId,
    kProductName,
    kVendorName,
    "https://ostrel-audio.example/plugins/lumisere",
    "",
    "",
    kVersionText,
    "Stereo de-esser and hiss reduction",
    kFeatures,
};

double plainValue(int index, float normalised) {
    if (isSwitch(index)) return isSwitchOn(normalised) ? 1.0 : 0.0;
    return paramUnits(index, normalised);
}

float normalisedValue(int index, double plain) {
    if (std::isnan(plain)) return std::numeric_limits<float>::quiet_NaN();
    // A stepped value is its integer part, as CLAP reads stepped parameters.
    if (isSwitch(index)) return std::trunc(plain) >= 1.0 ? 1.0f : 0.0f;
    return clampParam(static_cast<float>(unitsToNormalised(index, plain)));
}

bool plainFromText(int index, const char* text, double& plain) {
    const char* end = text + std::strlen(text);
    const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    while (text < end && isSpace(*text)) ++text;
    while (end > text && isSpace(end[-1])) --end;
    const std::size_t length = static_cast<std::size_t>(end - text);
    const ParamSpec& row = kParams[index];
    if (isSwitch(index)) {
        if (equalsIgnoringCase(text, row.offText, length) || equalsIgnoringCase(text, "off", length) ||
            equalsIgnoringCase(text, "0", length)) {
            plain = 0.0;
            return true;
        }
        if (equalsIgnoringCase(text, row.onText, length) || equalsIgnoringCase(text, "on", length) ||
            equalsIgnoringCase(text, "1", length)) {
            plain = 1.0;
            return true;
        }
        return false;
    }
    if (text < end && *text == '+') ++text;
    double number = 0.0;
    const auto parsed = std::from_chars(text, end, number);
    if (parsed.ec != std::errc() || !std::isfinite(number)) return false;
    const char* unit = parsed.ptr;
    while (unit < end && isSpace(*unit)) ++unit;
    const std::size_t unitLength = static_cast<std::size_t>(end - unit);
    if (unitLength > 0 && !equalsIgnoringCase(unit, row.label, unitLength)) {
        // Frequencies may come in kHz: "7.2k", "7.2 kHz".
        const bool kilo = std::strcmp(row.label, "Hz") == 0 &&
                          (equalsIgnoringCase(unit, "k", unitLength) || equalsIgnoringCase(unit, "khz", unitLength));
        if (!kilo) return false;
        number *= 1000.0;
    }
    const double normalised = unitsToNormalised(index, number);
    if (!(normalised >= 0.0 && normalised <= 1.0)) return false;
    plain = number;
    return true;
}

Plugin::Plugin(const clap_host_t* host) : host_(host) {
    record_.desc = &kDescriptor;
    record_.plugin_data = this;
    record_.init = initEntry;
    record_.destroy = destroyEntry;
    record_.activate = activateEntry;
    record_.deactivate = deactivateEntry;
    record_.start_processing = startProcessingEntry;
    record_.stop_processing = stopProcessingEntry;
    record_.reset = resetEntry;
    record_.process = processEntry;
    record_.get_extension = getExtensionEntry;
    record_.on_main_thread = onMainThreadEntry;
}

Plugin::~Plugin() {
    // A host that destroys an active instance, or one with its editor, broke the order; the instance
    // still ends cleanly.
    releaseHostDriving();
    view_.close();
}

bool Plugin::init() {
    if (host_->get_extension != nullptr) {
        hostParams_ = static_cast<const clap_host_params_t*>(host_->get_extension(host_, CLAP_EXT_PARAMS));
#if !defined(_WIN32)
        hostTimers_ = static_cast<const clap_host_timer_support_t*>(host_->get_extension(host_, CLAP_EXT_TIMER_SUPPORT));
        hostDescriptors_ =
            static_cast<const clap_host_posix_fd_support_t*>(host_->get_extension(host_, CLAP_EXT_POSIX_FD_SUPPORT));
        if (hostTimers_ != nullptr && (hostTimers_->register_timer == nullptr || hostTimers_->unregister_timer == nullptr)) {
            hostTimers_ = nullptr;
        }
        if (hostDescriptors_ != nullptr &&
            (hostDescriptors_->register_fd == nullptr || hostDescriptors_->unregister_fd == nullptr)) {
            hostDescriptors_ = nullptr;
        }
#endif
    }
    return true;
}

bool Plugin::activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames) {
    // Rates the audio core cannot run at are refused rather than run at another rate than the host's.
    const bool usableRate = std::isfinite(sampleRate) && sampleRate > 8000.0 &&
                            sampleRate <= static_cast<double>(std::numeric_limits<float>::max());
    const bool usableFrames = maxFrames >= 1 && minFrames <= maxFrames &&
                              maxFrames <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (active() || !usableRate || !usableFrames) return false;
    processor_.setSampleRate(static_cast<float>(sampleRate));
    processor_.forgetHistory();
    active_.store(true, std::memory_order_relaxed);
    return true;
}

void Plugin::deactivate() {
    processing_.store(false, std::memory_order_relaxed);
    active_.store(false, std::memory_order_relaxed);
}

bool Plugin::startProcessing() {
    if (!active()) return false;
    processing_.store(true, std::memory_order_relaxed);
    return true;
}

void Plugin::stopProcessing() { processing_.store(false, std::memory_order_relaxed); }

void Plugin::reset() {
    if (active()) processor_.forgetHistory();
}

void Plugin::applyEvents(const clap_input_events_t* in) {
    if (in == nullptr || in->size == nullptr || in->get == nullptr) return;
    const std::uint32_t count = in->size(in);
    for (std::uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* header = in->get(in, i);
        if (header == nullptr || header->space_id != CLAP_CORE_EVENT_SPACE_ID ||
            header->type != CLAP_EVENT_PARAM_VALUE || header->size < sizeof(clap_event_param_value_t)) {
            continue;
        }
        const auto* event = reinterpret_cast<const clap_event_param_value_t*>(header);
        if (!isParamId(event->param_id) || std::isnan(event->value)) continue;
        const int index = static_cast<int>(event->param_id);
        processor_.setParam(index, normalisedValue(index, event->value));
    }
}

void Plugin::sendEdits(const clap_output_events_t* out) {
    edits_.drain([&](const editor::EditEvent& edit) {
        if (out == nullptr || out->try_push == nullptr) return;  // nowhere to send: dropped
        const auto id = static_cast<clap_id>(edit.index);
        if (edit.kind == editor::EditEvent::Kind::Value) {
            clap_event_param_value_t event{};
            event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            event.param_id = id;
            event.note_id = -1;
            event.port_index = event.channel = event.key = -1;
            event.value = plainValue(edit.index, edit.value);
            out->try_push(out, &event.header);
        } else {
            const std::uint16_t type = edit.kind == editor::EditEvent::Kind::Begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                                                  : CLAP_EVENT_PARAM_GESTURE_END;
            clap_event_param_gesture_t event{};
            event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
            event.param_id = id;
            out->try_push(out, &event.header);
        }
    });
}

clap_process_status Plugin::process(const clap_process_t& process) {
    if (!active()) return CLAP_PROCESS_ERROR;
    // Every parameter takes the last value its events give, for the whole block.
    {
        const Guard masked;
        applyEvents(process.in_events);
        sendEdits(process.out_events);
    }
    if (process.frames_count == 0) return CLAP_PROCESS_CONTINUE;
    const bool stereo = process.audio_inputs_count >= 1 && process.audio_outputs_count >= 1 &&
                        process.audio_inputs != nullptr && process.audio_outputs != nullptr &&
                        process.audio_inputs[0].channel_count == 2 && process.audio_outputs[0].channel_count == 2 &&
                        process.audio_inputs[0].data32 != nullptr && process.audio_outputs[0].data32 != nullptr;
    if (!stereo || process.frames_count > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
        return CLAP_PROCESS_ERROR;
    }
    process.audio_outputs[0].constant_mask = 0;
    processor_.process(process.audio_inputs[0].data32, process.audio_outputs[0].data32,
                       static_cast<int>(process.frames_count));
    return CLAP_PROCESS_CONTINUE;
}

void Plugin::flush(const clap_input_events_t* in, const clap_output_events_t* out) {
    applyEvents(in);
    sendEdits(out);
}

bool Plugin::getValue(clap_id id, double& value) const {
    if (!isParamId(id)) return false;
    const int index = static_cast<int>(id);
    value = plainValue(index, processor_.param(index));
    return true;
}

bool Plugin::saveState(const clap_ostream_t& stream) const {
    unsigned char bytes[kStateSize];
    std::memcpy(bytes, kStateTag, 4);
    putWord(bytes + 4, kStateVersion);
    for (int i = 0; i < kNumParams; ++i) {
        const float value = processor_.param(i);
        std::uint32_t word;
        std::memcpy(&word, &value, 4);
        putWord(bytes + 8 + 4 * i, word);
    }
    std::size_t written = 0;
    while (written < kStateSize) {
        const std::int64_t n = stream.write(&stream, bytes + written, kStateSize - written);
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool Plugin::loadState(const clap_istream_t& stream) {
    // One byte more than a state holds, to see that nothing follows it.
    unsigned char bytes[kStateSize + 1];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const std::int64_t n = stream.read(&stream, bytes + got, sizeof bytes - got);
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got != kStateSize || std::memcmp(bytes, kStateTag, 4) != 0 || getWord(bytes + 4) != kStateVersion) {
        return false;
    }
    float values[kNumParams];
    for (int i = 0; i < kNumParams; ++i) {
        const std::uint32_t word = getWord(bytes + 8 + 4 * i);
        std::memcpy(&values[i], &word, 4);
        if (!(values[i] >= 0.0f && values[i] <= 1.0f)) return false;  // NaN included
    }
    for (int i = 0; i < kNumParams; ++i) processor_.setParam(i, values[i]);
    return true;
}

bool Plugin::createGui(const char* api, bool floating) {
    if (guiCreated_ || !guiIsApiSupported(&record_, api, floating)) return false;
    guiCreated_ = true;
    return true;
}

void Plugin::releaseHostDriving() {
    if (editorTimer_ != CLAP_INVALID_ID) hostTimers_->unregister_timer(host_, editorTimer_);
    if (editorDescriptor_ >= 0) hostDescriptors_->unregister_fd(host_, editorDescriptor_);
    editorTimer_ = CLAP_INVALID_ID;
    editorDescriptor_ = -1;
}

void Plugin::destroyGui() {
    releaseHostDriving();
    view_.close();
    guiCreated_ = false;
}

void Plugin::serveEditor() { view_.serveEvents(); }

bool Plugin::setParent(const clap_window_t& window) {
    if (!guiCreated_ || window.api == nullptr || std::strcmp(window.api, kNativeApi) != 0) return false;
#if defined(_WIN32)
    void* parent = window.win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<std::uintptr_t>(window.x11));
#endif
    releaseHostDriving();  // a second parent replaces the first window
    // The host's timer (30 ms, the editor's tick) and, where offered, its watch of the connection serve
    // the window on the main thread; without a timer the window's own thread does.
    if (hostTimers_ != nullptr && view_.open(parent, platform::EventDriver::host)) {
        if (hostTimers_->register_timer(host_, kEditorTickMs, &editorTimer_)) {
            const int descriptor = view_.eventDescriptor();
            if (hostDescriptors_ != nullptr &&
                hostDescriptors_->register_fd(host_, descriptor, CLAP_POSIX_FD_READ | CLAP_POSIX_FD_ERROR)) {
                editorDescriptor_ = descriptor;
            }
            return true;
        }
        editorTimer_ = CLAP_INVALID_ID;
    }
    return view_.open(parent);
}

void Plugin::queueEdit(const editor::EditEvent& edit) {
    edits_.push(edit);  // a full queue keeps begin and end paired; the processor has every value all the same
    // The next process call sends it; a host that is not processing is asked for a flush.
    // request_flush is [thread-safe & !audio-thread], which the window's thread is.
    if (!processing_.load(std::memory_order_relaxed) && hostParams_ != nullptr && hostParams_->request_flush != nullptr) {
        hostParams_->request_flush(host_);
    }
}

void Plugin::editBegan(int index) { queueEdit({editor::EditEvent::Kind::Begin, index, 0.0f}); }

void Plugin::parameterEdited(int index, float value) { queueEdit({editor::EditEvent::Kind::Value, index, value}); }

void Plugin::editEnded(int index) { queueEdit({editor::EditEvent::Kind::End, index, 0.0f}); }

}  // namespace lumisere::clap
