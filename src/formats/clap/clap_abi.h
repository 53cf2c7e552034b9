// The CLAP 1.2 plug-in interface as this plug-in and its test host use it: a plain C ABI of records
// with function pointers, written here from the format's published description. Only what Lumisere
// needs is declared: the entry and the plug-in factory, the plug-in and host records, events, the
// process call, streams, and the extensions audio-ports, params, state, latency, gui, timer-support,
// posix-fd-support and thread-check. Names are kept as the format publishes them, so a reader can
// look each one up.
//
// Thread tags, as the format gives them: [main-thread] the host's main (UI) thread; [audio-thread]
// the thread that processes; [thread-safe] any thread; "& active" / "& !active" between activate and
// deactivate or outside; "& processing" between start_processing and stop_processing.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define CLAP_ABI __cdecl
#else
#define CLAP_ABI
#endif

extern "C" {

struct clap_version_t {
    std::uint32_t major;  // 1 for every stable release
    std::uint32_t minor;
    std::uint32_t revision;
};

// What this build speaks; hosts accept any 1.x.
constexpr clap_version_t kClapVersion{1, 2, 0};
constexpr bool clapVersionIsCompatible(const clap_version_t& v) { return v.major >= 1; }

using clap_id = std::uint32_t;
constexpr clap_id CLAP_INVALID_ID = 0xFFFFFFFFu;

// Capacity of names shown to users and of module paths, terminator included.
constexpr std::uint32_t CLAP_NAME_SIZE = 256;
constexpr std::uint32_t CLAP_PATH_SIZE = 1024;

// ---- Streams (state) --------------------------------------------------------------------------
struct clap_istream_t {
    void* ctx;
    // Bytes read, 0 at the end, -1 on an error. May return fewer than asked.
    std::int64_t(CLAP_ABI* read)(const clap_istream_t* stream, void* buffer, std::uint64_t size);
};

struct clap_ostream_t {
    void* ctx;
    // Bytes written, -1 on an error. May write fewer than asked.
    std::int64_t(CLAP_ABI* write)(const clap_ostream_t* stream, const void* buffer, std::uint64_t size);
};

// ---- Events -----------------------------------------------------------------------------------
struct clap_event_header_t {
    std::uint32_t size;      // of the whole event, header included
    std::uint32_t time;      // frame offset in the block
    std::uint16_t space_id;  // CLAP_CORE_EVENT_SPACE_ID for the events below
    std::uint16_t type;
    std::uint32_t flags;     // CLAP_EVENT_IS_LIVE, CLAP_EVENT_DONT_RECORD
};

constexpr std::uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;
constexpr std::uint32_t CLAP_EVENT_IS_LIVE = 1u << 0;
constexpr std::uint32_t CLAP_EVENT_DONT_RECORD = 1u << 1;

// Event types of the core space this plug-in reads or writes (notes, MIDI and transport are 0-4
// and 9-12; they are ignored).
constexpr std::uint16_t CLAP_EVENT_PARAM_VALUE = 5;
constexpr std::uint16_t CLAP_EVENT_PARAM_MOD = 6;
constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_BEGIN = 7;
constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_END = 8;

struct clap_event_param_value_t {
    clap_event_header_t header;
    clap_id param_id;
    void* cookie;  // the cookie of clap_param_info_t, or null
    std::int32_t note_id;  // -1: every note (the only target of a global parameter)
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double value;  // plain value, in the range of clap_param_info_t
};

struct clap_event_param_gesture_t {
    clap_event_header_t header;
    clap_id param_id;
};

struct clap_input_events_t {
    void* ctx;
    std::uint32_t(CLAP_ABI* size)(const clap_input_events_t* list);
    const clap_event_header_t*(CLAP_ABI* get)(const clap_input_events_t* list, std::uint32_t index);
};

struct clap_output_events_t {
    void* ctx;
    // The host copies the event; false when it could not take it.
    bool(CLAP_ABI* try_push)(const clap_output_events_t* list, const clap_event_header_t* event);
};

// ---- Process ----------------------------------------------------------------------------------
struct clap_audio_buffer_t {
    float** data32;   // one pointer per channel, or null when data64 is used
    double** data64;
    std::uint32_t channel_count;
    std::uint32_t latency;
    std::uint64_t constant_mask;  // bit c: channel c holds one value throughout (a hint)
};

struct clap_event_transport_t;  // read by no one here

struct clap_process_t {
    std::int64_t steady_time;  // frame counter, or -1
    std::uint32_t frames_count;
    const clap_event_transport_t* transport;
    const clap_audio_buffer_t* audio_inputs;
    clap_audio_buffer_t* audio_outputs;
    std::uint32_t audio_inputs_count;
    std::uint32_t audio_outputs_count;
    const clap_input_events_t* in_events;
    const clap_output_events_t* out_events;
};

using clap_process_status = std::int32_t;
constexpr clap_process_status CLAP_PROCESS_ERROR = 0;
constexpr clap_process_status CLAP_PROCESS_CONTINUE = 1;
constexpr clap_process_status CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2;
constexpr clap_process_status CLAP_PROCESS_TAIL = 3;
constexpr clap_process_status CLAP_PROCESS_SLEEP = 4;

// ---- Host -------------------------------------------------------------------------------------
struct clap_host_t {
    clap_version_t clap_version;
    void* host_data;
    const char* name;  // e.g. "Carla"
    const char* vendor;
    const char* url;
    const char* version;
    // [thread-safe] Null for an extension the host does not offer.
    const void*(CLAP_ABI* get_extension)(const clap_host_t* host, const char* extension_id);
    void(CLAP_ABI* request_restart)(const clap_host_t* host);   // [thread-safe]
    void(CLAP_ABI* request_process)(const clap_host_t* host);   // [thread-safe]
    void(CLAP_ABI* request_callback)(const clap_host_t* host);  // [thread-safe] on_main_thread later
};

// ---- Plug-in ----------------------------------------------------------------------------------
struct clap_plugin_descriptor_t {
    clap_version_t clap_version;
    const char* id;    // reverse-DNS, e.g. "com.example.effect"
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;  // e.g. "1.0.0"
    const char* description;
    const char* const* features;  // null-terminated list of feature strings
};

struct clap_plugin_t {
    const clap_plugin_descriptor_t* desc;
    void* plugin_data;
    bool(CLAP_ABI* init)(const clap_plugin_t* plugin);     // [main-thread]
    void(CLAP_ABI* destroy)(const clap_plugin_t* plugin);  // [main-thread & !active]
    bool(CLAP_ABI* activate)(const clap_plugin_t* plugin, double sample_rate, std::uint32_t min_frames_count,
                             std::uint32_t max_frames_count);          // [main-thread & !active]
    void(CLAP_ABI* deactivate)(const clap_plugin_t* plugin);          // [main-thread & active]
    bool(CLAP_ABI* start_processing)(const clap_plugin_t* plugin);    // [audio-thread & active & !processing]
    void(CLAP_ABI* stop_processing)(const clap_plugin_t* plugin);     // [audio-thread & active & processing]
    void(CLAP_ABI* reset)(const clap_plugin_t* plugin);               // [audio-thread & active]
    clap_process_status(CLAP_ABI* process)(const clap_plugin_t* plugin,
                                           const clap_process_t* process);  // [audio-thread & active & processing]
    const void*(CLAP_ABI* get_extension)(const clap_plugin_t* plugin, const char* id);  // [thread-safe]
    void(CLAP_ABI* on_main_thread)(const clap_plugin_t* plugin);                          // [main-thread]
};

struct clap_plugin_factory_t {
    std::uint32_t(CLAP_ABI* get_plugin_count)(const clap_plugin_factory_t* factory);  // [thread-safe]
    const clap_plugin_descriptor_t*(CLAP_ABI* get_plugin_descriptor)(const clap_plugin_factory_t* factory,
                                                                      std::uint32_t index);  // [thread-safe]
    // [thread-safe] The plug-in may not call the host before init.
    const clap_plugin_t*(CLAP_ABI* create_plugin)(const clap_plugin_factory_t* factory, const clap_host_t* host,
                                                  const char* plugin_id);
};

constexpr char CLAP_PLUGIN_FACTORY_ID[] = "clap.plugin-factory";

// The one exported symbol, `clap_entry`.
struct clap_plugin_entry_t {
    clap_version_t clap_version;
    bool(CLAP_ABI* init)(const char* plugin_path);  // [main-thread] once, before anything else
    void(CLAP_ABI* deinit)(void);                    // [main-thread] once, after everything else
    const void*(CLAP_ABI* get_factory)(const char* factory_id);  // [thread-safe]
};

// ---- Extension: audio-ports -------------------------------------------------------------------
constexpr char CLAP_EXT_AUDIO_PORTS[] = "clap.audio-ports";
constexpr char CLAP_PORT_STEREO[] = "stereo";
constexpr std::uint32_t CLAP_AUDIO_PORT_IS_MAIN = 1u << 0;

struct clap_audio_port_info_t {
    clap_id id;
    char name[CLAP_NAME_SIZE];
    std::uint32_t flags;
    std::uint32_t channel_count;
    const char* port_type;  // CLAP_PORT_STEREO, or null
    clap_id in_place_pair;  // the port of the other direction that may share its buffer
};

struct clap_plugin_audio_ports_t {
    std::uint32_t(CLAP_ABI* count)(const clap_plugin_t* plugin, bool is_input);  // [main-thread]
    bool(CLAP_ABI* get)(const clap_plugin_t* plugin, std::uint32_t index, bool is_input,
                        clap_audio_port_info_t* info);  // [main-thread]
};

// ---- Extension: params ------------------------------------------------------------------------
constexpr char CLAP_EXT_PARAMS[] = "clap.params";
constexpr std::uint32_t CLAP_PARAM_IS_STEPPED = 1u << 0;
constexpr std::uint32_t CLAP_PARAM_IS_BYPASS = 1u << 4;  // implies stepped; 0 off, 1 on
constexpr std::uint32_t CLAP_PARAM_IS_AUTOMATABLE = 1u << 5;
constexpr std::uint32_t CLAP_PARAM_IS_ENUM = 1u << 16;  // with stepped: each value has a text

struct clap_param_info_t {
    clap_id id;
    std::uint32_t flags;
    void* cookie;
    char name[CLAP_NAME_SIZE];
    char module[CLAP_PATH_SIZE];
    double min_value;  // plain values, finite
    double max_value;
    double default_value;
};

struct clap_plugin_params_t {
    std::uint32_t(CLAP_ABI* count)(const clap_plugin_t* plugin);  // [main-thread]
    bool(CLAP_ABI* get_info)(const clap_plugin_t* plugin, std::uint32_t param_index,
                             clap_param_info_t* param_info);  // [main-thread]
    bool(CLAP_ABI* get_value)(const clap_plugin_t* plugin, clap_id param_id, double* out_value);  // [main-thread]
    bool(CLAP_ABI* value_to_text)(const clap_plugin_t* plugin, clap_id param_id, double value, char* out_buffer,
                                  std::uint32_t out_buffer_capacity);  // [main-thread]
    bool(CLAP_ABI* text_to_value)(const clap_plugin_t* plugin, clap_id param_id, const char* param_value_text,
                                  double* out_value);  // [main-thread]
    // [active ? audio-thread : main-thread] Never at the same time as process.
    void(CLAP_ABI* flush)(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out);
};

struct clap_host_params_t {
    void(CLAP_ABI* rescan)(const clap_host_t* host, std::uint32_t flags);                  // [main-thread]
    void(CLAP_ABI* clear)(const clap_host_t* host, clap_id param_id, std::uint32_t flags);  // [main-thread]
    // [thread-safe & !audio-thread] Asks for a process or flush call soon.
    void(CLAP_ABI* request_flush)(const clap_host_t* host);
};

// ---- Extension: state -------------------------------------------------------------------------
constexpr char CLAP_EXT_STATE[] = "clap.state";

struct clap_plugin_state_t {
    bool(CLAP_ABI* save)(const clap_plugin_t* plugin, const clap_ostream_t* stream);  // [main-thread]
    bool(CLAP_ABI* load)(const clap_plugin_t* plugin, const clap_istream_t* stream);  // [main-thread]
};

// ---- Extension: latency -----------------------------------------------------------------------
constexpr char CLAP_EXT_LATENCY[] = "clap.latency";

struct clap_plugin_latency_t {
    std::uint32_t(CLAP_ABI* get)(const clap_plugin_t* plugin);  // [main-thread & (being-activated | active)]
};

// ---- Extension: gui ---------------------------------------------------------------------------
constexpr char CLAP_EXT_GUI[] = "clap.gui";
constexpr char CLAP_WINDOW_API_WIN32[] = "win32";
constexpr char CLAP_WINDOW_API_X11[] = "x11";

struct clap_window_t {
    const char* api;  // CLAP_WINDOW_API_*
    union {
        void* cocoa;
        void* uikit;
        unsigned long x11;  // an X11 Window id
        void* win32;        // an HWND
        void* ptr;
    };
};

struct clap_gui_resize_hints_t {
    bool can_resize_horizontally;
    bool can_resize_vertically;
    bool preserve_aspect_ratio;
    std::uint32_t aspect_ratio_width;
    std::uint32_t aspect_ratio_height;
};

// Every entry: [main-thread]; those marked !floating only for an embedded window.
struct clap_plugin_gui_t {
    bool(CLAP_ABI* is_api_supported)(const clap_plugin_t* plugin, const char* api, bool is_floating);
    bool(CLAP_ABI* get_preferred_api)(const clap_plugin_t* plugin, const char** api, bool* is_floating);
    bool(CLAP_ABI* create)(const clap_plugin_t* plugin, const char* api, bool is_floating);
    void(CLAP_ABI* destroy)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* set_scale)(const clap_plugin_t* plugin, double scale);
    bool(CLAP_ABI* get_size)(const clap_plugin_t* plugin, std::uint32_t* width, std::uint32_t* height);
    bool(CLAP_ABI* can_resize)(const clap_plugin_t* plugin);  // !floating
    bool(CLAP_ABI* get_resize_hints)(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints);  // !floating
    bool(CLAP_ABI* adjust_size)(const clap_plugin_t* plugin, std::uint32_t* width, std::uint32_t* height);  // !floating
    bool(CLAP_ABI* set_size)(const clap_plugin_t* plugin, std::uint32_t width, std::uint32_t height);  // !floating
    bool(CLAP_ABI* set_parent)(const clap_plugin_t* plugin, const clap_window_t* window);  // !floating
    bool(CLAP_ABI* set_transient)(const clap_plugin_t* plugin, const clap_window_t* window);  // floating
    void(CLAP_ABI* suggest_title)(const clap_plugin_t* plugin, const char* title);  // floating
    bool(CLAP_ABI* show)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* hide)(const clap_plugin_t* plugin);
};

// ---- Extensions: timer-support, posix-fd-support, thread-check --------------------------------
constexpr char CLAP_EXT_TIMER_SUPPORT[] = "clap.timer-support";

struct clap_plugin_timer_support_t {
    void(CLAP_ABI* on_timer)(const clap_plugin_t* plugin, clap_id timer_id);  // [main-thread]
};

struct clap_host_timer_support_t {
    bool(CLAP_ABI* register_timer)(const clap_host_t* host, std::uint32_t period_ms, clap_id* timer_id);  // [main-thread]
    bool(CLAP_ABI* unregister_timer)(const clap_host_t* host, clap_id timer_id);  // [main-thread]
};

constexpr char CLAP_EXT_POSIX_FD_SUPPORT[] = "clap.posix-fd-support";
constexpr std::uint32_t CLAP_POSIX_FD_READ = 1u << 0;
constexpr std::uint32_t CLAP_POSIX_FD_WRITE = 1u << 1;
constexpr std::uint32_t CLAP_POSIX_FD_ERROR = 1u << 2;

struct clap_plugin_posix_fd_support_t {
    void(CLAP_ABI* on_fd)(const clap_plugin_t* plugin, int fd, std::uint32_t flags);  // [main-thread]
};

struct clap_host_posix_fd_support_t {
    bool(CLAP_ABI* register_fd)(const clap_host_t* host, int fd, std::uint32_t flags);  // [main-thread]
    bool(CLAP_ABI* modify_fd)(const clap_host_t* host, int fd, std::uint32_t flags);    // [main-thread]
    bool(CLAP_ABI* unregister_fd)(const clap_host_t* host, int fd);                     // [main-thread]
};

constexpr char CLAP_EXT_THREAD_CHECK[] = "clap.thread-check";

struct clap_host_thread_check_t {
    bool(CLAP_ABI* is_main_thread)(const clap_host_t* host);   // [thread-safe]
    bool(CLAP_ABI* is_audio_thread)(const clap_host_t* host);  // [thread-safe]
};

}  // extern "C"
