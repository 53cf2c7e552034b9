// Fuzzes the LV2 plug-in through lv2_descriptor as a careless host would drive it: any rate at
// instantiation, ports connected and disconnected in any order (or to nothing), control values of any
// bit pattern, runs of 0 to 2047 frames with any samples (NaN, infinities, subnormals, +-3.4e38), in
// place or crossed, activate and deactivate between. Checked inside, on every input:
//   - every audio output sample of a run is either processed (finite, within +-0.98) or the input
//     passed through bit for bit;
//   - the reduction ports hold finite, non-negative dB;
//   - the caller's floating-point control word is unchanged, with invalid, divide-by-zero and
//     overflow unmasked as a debug host runs.
#include <xmmintrin.h>

#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/lv2/lv2_ports.h"
#include "fuzz_bytes.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

using namespace lumisere::lv2;

using lumisere::fuzz::Bytes;

void fail(const char* what) {
    std::fprintf(stderr, "lv2_fuzz: %s\n", what);
    std::abort();
}

constexpr std::size_t kMaxFrames = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in{data, size};
    const LV2_Descriptor* descriptor = lv2_descriptor(0);
    if (descriptor == nullptr || lv2_descriptor(1) != nullptr) fail("not one descriptor");
    static const double kRates[] = {44100.0, 48000.0, 96000.0, 8000.0, 0.0, -1.0, NAN, INFINITY, 1e300, 22050.0};
    const std::uint8_t pick = in.byte();
    const double rate = kRates[pick % 10];
    // Each call into the plug-in runs in the host's own mode; the checks here run masked.
    const std::uint32_t hostMode = _mm_getcsr() & ~0x0680u & ~0x8040u;
    const std::uint32_t checkingMode = hostMode | 0x1f80u;
    auto call = [&](auto&& entry) {
        _mm_setcsr(hostMode);
        entry();
        if ((_mm_getcsr() & ~0x3fu) != (hostMode & ~0x3fu)) fail("the caller's floating-point mode changed");
        _mm_setcsr(checkingMode);
    };
    LV2_Handle handle = nullptr;
    call([&] { handle = descriptor->instantiate(descriptor, rate, "", nullptr); });
    if (handle == nullptr) fail("no instance");

    // Buffers the ports may be connected to: two inputs, two outputs, the controls, the reductions.
    std::vector<float> audio[4];
    for (auto& channel : audio) channel.assign(kMaxFrames, 0.0f);
    float controls[kNumPorts] = {};
    for (int p = 0; p < lumisere::kNumParams; ++p) {
        controls[paramPort(p)] = static_cast<float>(lumisere::defaultUnits(p));
    }
    void* connected[kNumPorts] = {};
    auto connect = [&](std::uint32_t port, void* where) {
        call([&] { descriptor->connect_port(handle, port, where); });
        if (port < kNumPorts) connected[port] = where;
    };
    for (std::uint32_t port = 0; port < kNumPorts; ++port) {
        connect(port, port < 4 ? static_cast<void*>(audio[port].data()) : static_cast<void*>(&controls[port]));
    }
    bool active = false;

    for (int steps = 0; in.more() && steps < 64; ++steps) {
        switch (in.byte() % 6) {
            case 0: {  // connect a port somewhere, or to nothing; also indices past the ports
                const std::uint32_t port = in.byte() % (kNumPorts + 3);
                const std::uint8_t where = in.byte();
                void* target = nullptr;
                if (where % 3 == 1) {
                    target = port < 4 ? static_cast<void*>(audio[port].data())
                                      : static_cast<void*>(&controls[port < kNumPorts ? port : 4]);
                } else if (where % 3 == 2 && port < 4) {
                    target = audio[where % 4].data();  // crossed or in place
                }
                // Two outputs never share a buffer: no host may ask for that.
                if (port == kPortOutL || port == kPortOutR) {
                    const std::uint32_t other = port == kPortOutL ? kPortOutR : kPortOutL;
                    if (target != nullptr && target == connected[other]) target = nullptr;
                }
                connect(port, target);
                break;
            }
            case 1:  // a control value, any bit pattern
                controls[kPortFirstParam + in.byte() % lumisere::kNumParams] = in.anyFloat();
                break;
            case 2:
                call([&] { descriptor->activate(handle); });
                active = true;
                break;
            case 3:
                call([&] { descriptor->deactivate(handle); });
                active = false;
                break;
            default: {  // a run
                const std::size_t frames = (in.byte() | (in.byte() & 0x07) << 8) % kMaxFrames;
                for (std::size_t i = 0; i < frames; ++i) {
                    audio[0][i] = in.sample();
                    audio[1][i] = in.sample();
                }
                // What each output's buffer holds before the run, per sample: the pass-through answer.
                const float* outL = static_cast<const float*>(connected[kPortOutL]);
                const float* outR = static_cast<const float*>(connected[kPortOutR]);
                const float* inL = static_cast<const float*>(connected[kPortInL]);
                const float* inR = static_cast<const float*>(connected[kPortInR]);
                std::vector<float> beforeInL, beforeInR;
                if (inL != nullptr) beforeInL.assign(inL, inL + frames);
                if (inR != nullptr) beforeInR.assign(inR, inR + frames);
                call([&] { descriptor->run(handle, static_cast<uint32_t>(frames)); });
                const bool complete = inL != nullptr && inR != nullptr && outL != nullptr && outR != nullptr;
                if (complete && active) {
                    for (std::size_t i = 0; i < frames; ++i) {
                        const float y[2] = {outL[i], outR[i]};
                        const float x[2] = {beforeInL[i], beforeInR[i]};
                        for (int ch = 0; ch < 2; ++ch) {
                            const bool processed = std::isfinite(y[ch]) && std::fabs(y[ch]) <= 0.98f;
                            const bool passed = std::memcmp(&y[ch], &x[ch], sizeof(float)) == 0;
                            if (!processed && !passed) fail("an output sample neither processed nor passed through");
                        }
                    }
                }
                for (std::uint32_t port : {static_cast<std::uint32_t>(kPortDeEssReduction),
                                           static_cast<std::uint32_t>(kPortGateReduction)}) {
                    if (connected[port] == &controls[port] && !(controls[port] >= 0.0f && std::isfinite(controls[port]))) {
                        fail("a reduction port is not a finite, non-negative dB value");
                    }
                }
                break;
            }
        }
    }
    call([&] { descriptor->cleanup(handle); });
    _mm_setcsr(0x1f80);
    return 0;
}
