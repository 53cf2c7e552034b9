// Fuzzes the CLAP plug-in through clap_entry, as a careless host would drive it: the plug-in's entries
// in any order (activation at any rate and frame range, processing without start, reset, flush),
// process calls with any frame count and samples, in place or not, parameter events with any id, value,
// size and type, parameter texts both ways, state streams of any bytes and any chunking, and the gui's
// calls without a window. Checked inside, on every input:
//   - a process call that succeeds, not bypassed, writes finite samples (bypassed, it copies the input);
//   - get_value stays within the parameter's range;
//   - the caller's floating-point mode (a debug host's, with exceptions unmasked) comes back unchanged
//     from every call; a trap inside ends the run.
// Sanitizer reports (ASan, UBSan) end the run as well.
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/parameters.h"
#include "clap_test_host.h"
#include "fuzz_bytes.h"

extern "C" const clap_plugin_entry_t clap_entry;

namespace {

using lumisere::fuzz::Bytes;
namespace claptest = lumisere::claptest;

// Any 64-bit pattern, signalling NaNs included, without an arithmetic conversion that could trap here.
double anyDouble(Bytes& in) {
    const std::uint64_t bits = (static_cast<std::uint64_t>(in.word()) << 32) | in.word();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void fail(const char* what) {
    std::fprintf(stderr, "clap_fuzz: %s\n", what);
    std::abort();
}

// Events made from the bytes: mostly parameter values, some of other types and spaces or with a
// short size.
void addEvents(Bytes& in, claptest::InputEvents& events) {
    for (int n = in.byte() % 6; n > 0; --n) {
        const std::uint8_t kind = in.byte();
        events.add(in.byte() % 12, in.byte() < 128 ? (in.byte() - 128.0) * 100.0 : anyDouble(in));
        clap_event_header_t& header = events.events.back().header;
        header.size = kind < 8 ? 8u : header.size;
        header.space_id = static_cast<std::uint16_t>(kind % 3 == 0);
        header.type = kind < 200 ? CLAP_EVENT_PARAM_VALUE : static_cast<std::uint16_t>(kind % 13);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    unsetenv("DISPLAY");  // no editor window can open
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in{data, size};
    // The host's own mode, as a debug build of a host runs: invalid operation, division by zero and
    // overflow unmasked (MXCSR bits 7, 9, 10 clear), denormals kept. Only the control bits are
    // compared: the status flags are sticky and this harness's own arithmetic raises some.
    const std::uint32_t hostMode = _mm_getcsr() & ~0x0680u & ~0x8040u;
    _mm_setcsr(hostMode);
    const auto checkMode = [&] {
        if ((_mm_getcsr() & ~0x3fu) != (hostMode & ~0x3fu)) fail("the caller's floating-point mode changed");
    };
    claptest::TestHost host;  // offers params only
    clap_entry.init("");
    const auto* factory = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* plugin = factory->create_plugin(factory, &host.record, factory->get_plugin_descriptor(factory, 0)->id);
    if (plugin == nullptr || !plugin->init(plugin)) fail("no instance");
    const auto* params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    const auto* state = static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    const auto* gui = static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
    static const double kRates[] = {44100.0, 48000.0, 8000.0, 8001.0, 0.0, -1.0, NAN, INFINITY, 1e9, 22050.0};

    std::vector<float> buffers[4];
    while (in.more()) {
        claptest::InputEvents events;
        claptest::OutputEvents sent;
        switch (in.byte() % 10) {
            case 0:
                plugin->activate(plugin, kRates[in.byte() % 10], in.byte(), in.word() % 5000);
                break;
            case 1: plugin->deactivate(plugin); break;
            case 2: plugin->start_processing(plugin); break;
            case 3: plugin->stop_processing(plugin); break;
            case 4: plugin->reset(plugin); break;
            case 5:
            case 6: {
                const std::uint32_t frames = in.byte() < 240 ? in.byte() * 3u : 0u;
                for (auto& b : buffers) {
                    b.resize(frames + 1);
                    for (float& s : b) s = in.sample();
                }
                float* input[2] = {buffers[0].data(), buffers[1].data()};
                float* output[2] = {buffers[2].data(), buffers[3].data()};
                const bool inPlace = in.byte() & 1;
                clap_audio_buffer_t ai{input, nullptr, 2, 0, 0};
                clap_audio_buffer_t ao{inPlace ? input : output, nullptr, static_cast<std::uint32_t>(in.byte() % 4 == 0 ? 1 : 2), 0, 0};
                addEvents(in, events);
                const clap_process_t process{-1, frames, nullptr, &ai, &ao, 1, 1, &events.list, &sent.list};
                const bool ok = plugin->process(plugin, &process) == CLAP_PROCESS_CONTINUE;
                double bypass = 0.0;  // as the block's events left it
                params->get_value(plugin, lumisere::kParamBypass, &bypass);
                if (ok && bypass == 0.0) {
                    for (std::uint32_t i = 0; i < frames; ++i) {
                        if (!std::isfinite(ao.data32[0][i]) || !std::isfinite(ao.data32[1][i])) fail("non-finite output");
                    }
                }
                break;
            }
            case 7: {
                addEvents(in, events);
                params->flush(plugin, &events.list, &sent.list);
                break;
            }
            case 8: {
                const clap_id id = in.byte() % 11;
                char text[40];
                for (char& c : text) c = static_cast<char>(in.byte() % 64 + ' ');
                text[in.byte() % sizeof text] = '\0';
                double value = 0.0;
                params->text_to_value(plugin, id, text, &value);
                params->value_to_text(plugin, id, anyDouble(in), text, in.byte() % 41);
                clap_param_info_t info;
                if (params->get_info(plugin, id, &info) && params->get_value(plugin, id, &value) &&
                    (!std::isfinite(value) || value < info.min_value || value > info.max_value)) {
                    fail("value outside its range");
                }
                break;
            }
            default: {
                claptest::MemoryStream stream;
                stream.chunk = in.byte() % 50 + 1;
                for (int n = in.byte() % 50; n > 0; --n) stream.bytes.push_back(in.byte());
                state->load(plugin, &stream.in);
                state->save(plugin, &stream.out);
                clap_window_t window{in.byte() & 1 ? CLAP_WINDOW_API_X11 : "nonsense", {}};
                window.x11 = in.word();
                gui->create(plugin, window.api, in.byte() & 1);
                gui->set_parent(plugin, &window);
                gui->destroy(plugin);
                break;
            }
        }
        checkMode();
    }
    plugin->destroy(plugin);
    clap_entry.deinit();
    checkMode();
    _mm_setcsr(0x1f80);
    return 0;
}
