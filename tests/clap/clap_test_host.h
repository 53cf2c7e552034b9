// A CLAP host for the tests: the library loaded and its clap_entry found as a host finds it, a host
// record that offers the params extension (counting request_flush calls and the thread they came
// from) and, when asked, one timer and one descriptor watch, event lists, memory streams and an instance that is created, initialised and destroyed in
// the order the format asks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "formats/clap/clap_abi.h"
#include "plugin_library.h"

namespace lumisere::claptest {

inline std::string envPath(const char* name) {
    const char* path = std::getenv(name);
    return path != nullptr ? path : "";
}

// The host record and what the plug-in asked of it.
struct TestHost {
    static TestHost& of(const clap_host_t* host) { return *static_cast<TestHost*>(host->host_data); }

    static void CLAP_ABI requestFlush(const clap_host_t* host) {
        TestHost& self = of(host);
        self.flushRequests.fetch_add(1);
        if (std::this_thread::get_id() == self.mainThread) self.flushRequestsOnMain.fetch_add(1);
    }
    static void CLAP_ABI rescan(const clap_host_t*, std::uint32_t) {}
    static void CLAP_ABI clear(const clap_host_t*, clap_id, std::uint32_t) {}
    static bool CLAP_ABI registerTimer(const clap_host_t* host, std::uint32_t periodMs, clap_id* id) {
        of(host).timerPeriodMs = periodMs;
        *id = 7;
        return true;
    }
    static bool CLAP_ABI unregisterTimer(const clap_host_t* host, clap_id id) {
        of(host).timerPeriodMs = 0;
        return id == 7;
    }
    static bool CLAP_ABI registerFd(const clap_host_t* host, int fd, std::uint32_t) {
        of(host).fd = fd;
        return true;
    }
    static bool CLAP_ABI modifyFd(const clap_host_t*, int, std::uint32_t) { return true; }
    static bool CLAP_ABI unregisterFd(const clap_host_t* host, int fd) {
        const bool known = of(host).fd == fd;
        of(host).fd = -1;
        return known;
    }
    static const void* CLAP_ABI extension(const clap_host_t* host, const char* id) {
        TestHost& self = of(host);
        if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &self.params;
        if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0 && self.drivesEditor) return &self.timers;
        if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0 && self.drivesEditor) return &self.descriptors;
        return nullptr;
    }
    static void CLAP_ABI nothing(const clap_host_t*) {}

    TestHost() {
        record = {kClapVersion, this, "Lumisere test host", "Ostrel Audio", "", "1.0", extension, nothing, nothing,
                  nothing};
    }

    clap_host_t record;
    clap_host_params_t params{rescan, clear, requestFlush};
    clap_host_timer_support_t timers{registerTimer, unregisterTimer};
    clap_host_posix_fd_support_t descriptors{registerFd, modifyFd, unregisterFd};
    bool drivesEditor = false;  // offers timer-support and posix-fd-support
    std::uint32_t timerPeriodMs = 0;  // of the registered timer, 0 for none
    int fd = -1;                      // the watched descriptor, -1 for none
    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int> flushRequests{0};
    std::atomic<int> flushRequestsOnMain{0};
};

// The input events of one call, kept in one buffer of parameter values.
struct InputEvents {
    static std::uint32_t CLAP_ABI size(const clap_input_events_t* list) {
        return static_cast<std::uint32_t>(static_cast<InputEvents*>(list->ctx)->events.size());
    }
    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* list, std::uint32_t index) {
        auto& events = static_cast<InputEvents*>(list->ctx)->events;
        return index < events.size() ? &events[index].header : nullptr;
    }

    void add(clap_id param, double value, std::uint32_t time = 0) {
        clap_event_param_value_t event{};
        event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        event.param_id = param;
        event.note_id = -1;
        event.port_index = event.channel = event.key = -1;
        event.value = value;
        events.push_back(event);
    }

    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{this, size, get};
};

// What the plug-in pushed: type, parameter and value (0 for gestures) of each event.
struct OutputEvents {
    struct Seen {
        std::uint16_t type;
        clap_id param;
        double value;
    };
    static bool CLAP_ABI push(const clap_output_events_t* list, const clap_event_header_t* header) {
        auto& seen = static_cast<OutputEvents*>(list->ctx)->seen;
        if (header->type == CLAP_EVENT_PARAM_VALUE) {
            const auto* event = reinterpret_cast<const clap_event_param_value_t*>(header);
            seen.push_back({header->type, event->param_id, event->value});
        } else {
            seen.push_back({header->type, reinterpret_cast<const clap_event_param_gesture_t*>(header)->param_id, 0.0});
        }
        return true;
    }

    std::vector<Seen> seen;
    clap_output_events_t list{this, push};
};

// A byte stream in memory that hands over at most `chunk` bytes per call, as hosts may.
struct MemoryStream {
    static std::int64_t CLAP_ABI write(const clap_ostream_t* stream, const void* data, std::uint64_t size) {
        auto& self = *static_cast<MemoryStream*>(stream->ctx);
        const std::size_t n = std::min<std::size_t>(size, self.chunk);
        self.bytes.insert(self.bytes.end(), static_cast<const unsigned char*>(data),
                          static_cast<const unsigned char*>(data) + n);
        return static_cast<std::int64_t>(n);
    }
    static std::int64_t CLAP_ABI read(const clap_istream_t* stream, void* data, std::uint64_t size) {
        auto& self = *static_cast<MemoryStream*>(stream->ctx);
        if (self.failRead) return -1;
        const std::size_t n = std::min<std::size_t>({size, self.chunk, self.bytes.size() - self.position});
        if (n > 0) std::memcpy(data, self.bytes.data() + self.position, n);
        self.position += n;
        return static_cast<std::int64_t>(n);
    }

    std::vector<unsigned char> bytes;
    std::size_t position = 0;
    std::size_t chunk = 7;
    bool failRead = false;
    clap_ostream_t out{this, write};
    clap_istream_t in{this, read};
};

// The library, its entry initialised, and its factory.
class ClapLibrary {
public:
    explicit ClapLibrary(const std::string& path) : library_(path) {
        if (!library_.loaded()) return;
        entry = static_cast<const clap_plugin_entry_t*>(library_.symbol("clap_entry"));
        if (entry != nullptr && entry->init(path.c_str())) {
            factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        }
    }
    ~ClapLibrary() {
        if (factory != nullptr) entry->deinit();
    }
    ClapLibrary(const ClapLibrary&) = delete;
    ClapLibrary& operator=(const ClapLibrary&) = delete;

    bool loaded() const { return factory != nullptr; }
    const std::string& error() const { return library_.error(); }

    // A created and initialised instance of the one plug-in, or null.
    const clap_plugin_t* create(TestHost& host) const {
        const clap_plugin_descriptor_t* descriptor = factory->get_plugin_descriptor(factory, 0);
        const clap_plugin_t* plugin = factory->create_plugin(factory, &host.record, descriptor->id);
        if (plugin != nullptr && !plugin->init(plugin)) {
            plugin->destroy(plugin);
            return nullptr;
        }
        return plugin;
    }

    template <typename Extension>
    static const Extension* extension(const clap_plugin_t* plugin, const char* id) {
        return static_cast<const Extension*>(plugin->get_extension(plugin, id));
    }

    const clap_plugin_entry_t* entry = nullptr;
    const clap_plugin_factory_t* factory = nullptr;

private:
    host::PluginLibrary library_;
};

// One stereo block in place or apart, with events in and out.
inline clap_process_status processBlock(const clap_plugin_t* plugin, float* const* in, float* const* out,
                                        std::uint32_t frames, InputEvents& events, OutputEvents& sent) {
    clap_audio_buffer_t input{const_cast<float**>(in), nullptr, 2, 0, 0};
    clap_audio_buffer_t output{const_cast<float**>(out), nullptr, 2, 0, 0};
    const clap_process_t process{-1, frames, nullptr, &input, &output, 1, 1, &events.list, &sent.list};
    return plugin->process(plugin, &process);
}

}  // namespace lumisere::claptest
