// A CLAP host for the tests and the fuzz target: the library loaded and its clap_entry found as a
// host finds it, a host record that offers the params extension (counting request_flush calls and the
// thread they came from) and, when asked, one timer and one descriptor watch, event lists, a memory
// stream, and an instance created and initialised in the order the format asks.
#pragma once

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

    clap_host_t record{kClapVersion, this, "Lumisere test host", "Ostrel Audio", "", "1.0",
                       [](const clap_host_t* host, const char* id) -> const void* {
                           TestHost& self = of(host);
                           if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &self.params;
                           if (!self.drivesEditor) return nullptr;
                           if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &self.timers;
                           return std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0 ? &self.descriptors : nullptr;
                       },
                       [](const clap_host_t*) {}, [](const clap_host_t*) {}, [](const clap_host_t*) {}};
    clap_host_params_t params{[](const clap_host_t*, std::uint32_t) {}, [](const clap_host_t*, clap_id, std::uint32_t) {},
                              [](const clap_host_t* host) {
                                  of(host).flushRequests.fetch_add(1);
                                  if (std::this_thread::get_id() == of(host).mainThread) of(host).flushRequestsOnMain++;
                              }};
    // One timer (id 7) and one descriptor at a time.
    clap_host_timer_support_t timers{[](const clap_host_t* host, std::uint32_t periodMs, clap_id* id) {
                                         of(host).timerPeriodMs = periodMs;
                                         return *id = 7, true;
                                     },
                                     [](const clap_host_t* host, clap_id id) { return of(host).timerPeriodMs = 0, id == 7; }};
    clap_host_posix_fd_support_t descriptors{[](const clap_host_t* host, int watched, std::uint32_t) { return of(host).fd = watched, true; },
                                             [](const clap_host_t*, int, std::uint32_t) { return true; },
                                             [](const clap_host_t* host, int watched) {
                                                 const bool known = of(host).fd == watched;
                                                 return of(host).fd = -1, known;
                                             }};
    bool drivesEditor = false;        // offers timer-support and posix-fd-support
    std::uint32_t timerPeriodMs = 0;  // of the registered timer, 0 for none
    int fd = -1;                      // the watched descriptor, -1 for none
    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int> flushRequests{0};
    std::atomic<int> flushRequestsOnMain{0};
};

// The input events of one call: parameter values (any header a test or the fuzzer writes).
struct InputEvents {
    void add(clap_id param, double value, std::uint32_t time = 0) {
        events.push_back({{sizeof(clap_event_param_value_t), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0},
                          param, nullptr, -1, -1, -1, -1, value});
    }
    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{this,
                             [](const clap_input_events_t* l) {
                                 return static_cast<std::uint32_t>(static_cast<InputEvents*>(l->ctx)->events.size());
                             },
                             [](const clap_input_events_t* l, std::uint32_t i) -> const clap_event_header_t* {
                                 auto& all = static_cast<InputEvents*>(l->ctx)->events;
                                 return i < all.size() ? &all[i].header : nullptr;
                             }};
};

// What the plug-in pushed: type, parameter and value (0 for gestures) of each event.
struct OutputEvents {
    struct Seen {
        std::uint16_t type;
        clap_id param;
        double value;
    };
    std::vector<Seen> seen;
    clap_output_events_t list{this, [](const clap_output_events_t* l, const clap_event_header_t* header) {
                                  const auto* value = reinterpret_cast<const clap_event_param_value_t*>(header);
                                  const bool isValue = header->type == CLAP_EVENT_PARAM_VALUE;
                                  static_cast<OutputEvents*>(l->ctx)->seen.push_back(
                                      {header->type, value->param_id, isValue ? value->value : 0.0});
                                  return true;
                              }};
};

// A byte stream in memory that hands over at most `chunk` bytes per call, as hosts may.
struct MemoryStream {
    std::vector<unsigned char> bytes;
    std::size_t position = 0;
    std::size_t chunk = 7;
    bool failRead = false;
    clap_ostream_t out{this, [](const clap_ostream_t* s, const void* data, std::uint64_t size) {
                           auto& self = *static_cast<MemoryStream*>(s->ctx);
                           const std::size_t n = std::min<std::size_t>(size, self.chunk);
                           const auto* first = static_cast<const unsigned char*>(data);
                           self.bytes.insert(self.bytes.end(), first, first + n);
                           return static_cast<std::int64_t>(n);
                       }};
    clap_istream_t in{this, [](const clap_istream_t* s, void* data, std::uint64_t size) -> std::int64_t {
                          auto& self = *static_cast<MemoryStream*>(s->ctx);
                          const std::size_t n = std::min<std::size_t>({size, self.chunk, self.bytes.size() - self.position});
                          if (n > 0) std::memcpy(data, self.bytes.data() + self.position, n);
                          self.position += n;
                          return self.failRead ? -1 : static_cast<std::int64_t>(n);
                      }};
};

// The library, its entry initialised, and its factory.
class ClapLibrary {
public:
    explicit ClapLibrary(const std::string& path) : library_(path) {
        entry = static_cast<const clap_plugin_entry_t*>(library_.loaded() ? library_.symbol("clap_entry") : nullptr);
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
        const clap_plugin_t* plugin =
            factory->create_plugin(factory, &host.record, factory->get_plugin_descriptor(factory, 0)->id);
        if (plugin != nullptr && !plugin->init(plugin)) plugin->destroy(plugin), plugin = nullptr;
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
