// Fuzzes the VST 3 plug-in through its exported factory as a careless host would drive it: any rate
// and sample size at setup, activation in any order, process calls of 0 to 2047 frames with any
// samples, buses missing or short of channels, parameter queues of any id, point count and value,
// state streams of any bytes, texts and values of any kind for the parameters. Checked inside:
//   - every output sample is processed (finite, within +-0.98), silence, or the input passed through;
//   - a refused state leaves every parameter as it was; parameters stay within 0..1;
//   - the caller's floating-point control word is unchanged, with exceptions unmasked as a debug
//     host runs.
#include <xmmintrin.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "formats/vst3/vst3_abi.h"
#include "fuzz_bytes.h"
#include "core/parameters.h"
#include "vst3_test_host.h"

extern "C" lumisere::vst3::IPluginFactory* GetPluginFactory();

namespace {

using namespace lumisere::vst3test;
using lumisere::fuzz::Bytes;

void fail(const char* what) {
    std::fprintf(stderr, "vst3_fuzz: %s\n", what);
    std::abort();
}

constexpr int kMaxFrames = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in{data, size};
    const std::uint32_t hostMode = _mm_getcsr() & ~0x0680u & ~0x8040u;
    const std::uint32_t checkingMode = hostMode | 0x1f80u;
    auto call = [&](auto&& entry) {
        _mm_setcsr(hostMode);
        entry();
        if ((_mm_getcsr() & ~0x3fu) != (hostMode & ~0x3fu)) fail("the caller's floating-point mode changed");
        _mm_setcsr(checkingMode);
    };
    Effect effect(GetPluginFactory());
    if (!effect.ready()) fail("no instance");
    IComponent* component = effect.component;
    IAudioProcessor* processor = effect.processor;
    IEditController* controller = effect.controller;
    component->initialize(nullptr);

    std::vector<float> audio[4];
    for (auto& channel : audio) channel.assign(kMaxFrames, 0.0f);
    for (int steps = 0; in.more() && steps < 64; ++steps) {
        switch (in.byte() % 6) {
            case 0: {
                // Values are widened in the checking mode (volatile, so the compiler cannot move the
                // widening into the host's mode, where a signalling NaN would trap).
                const volatile double rate = in.anyFloat();
                ProcessSetup setup{0, in.byte() % 3, kMaxFrames, rate};
                call([&] { processor->setupProcessing(setup); });
                break;
            }
            case 1: call([&] { component->setActive(in.byte() & 1); }); break;
            case 2: {  // a state of any bytes, often a whole one with a few changed
                MemoryStream stream;
                call([&] { component->getState(&stream); });
                const std::uint8_t length = in.byte();
                if (length & 0x80) stream.bytes.clear();
                for (int i = 0; i < (length & 0x3F); ++i) {
                    const std::size_t at = in.byte() % (stream.bytes.size() + 1);
                    if (at == stream.bytes.size()) stream.bytes.push_back(in.byte());
                    else stream.bytes[at] = in.byte();
                }
                double before[lumisere::kNumParams];
                for (int p = 0; p < lumisere::kNumParams; ++p) before[p] = controller->getParamNormalized(p);
                tresult result = kResultOk;
                call([&] { result = component->setState(&stream); });
                for (int p = 0; p < lumisere::kNumParams; ++p) {
                    const double now = controller->getParamNormalized(p);
                    if (result != kResultOk && now != before[p]) fail("a refused state changed a parameter");
                    if (!(now >= 0.0 && now <= 1.0)) fail("a parameter outside 0..1");
                }
                break;
            }
            case 3: {  // texts both ways for any value
                const ParamID id = in.byte() % (lumisere::kNumParams + 2);
                String128 text{};
                ParamValue value = 0.0;
                const volatile double shown = in.anyFloat(), set = in.anyFloat();
                call([&] { controller->getParamStringByValue(id, shown, text); });
                call([&] { controller->getParamValueByString(id, text, value); });
                call([&] { controller->setParamNormalized(id, set); });
                break;
            }
            default: {  // a block with queues
                ParameterChanges changes;
                for (int queues = in.byte() % 4; queues > 0; --queues) {
                    std::vector<std::pair<int32, ParamValue>> points;
                    for (int n = in.byte() % 3; n > 0; --n) points.emplace_back(in.byte(), in.anyFloat());
                    changes.add(in.byte() % (lumisere::kNumParams + 3), points);
                }
                const int frames = (in.byte() | (in.byte() & 0x07) << 8) % kMaxFrames;
                for (int i = 0; i < frames; ++i) audio[0][i] = in.sample(), audio[1][i] = in.sample();
                float* ins[] = {audio[0].data(), audio[1].data()};
                float* outs[] = {audio[2].data(), audio[3].data()};
                const std::uint8_t shape = in.byte();
                AudioBusBuffers inBus{shape & 1 ? 1 : 2, 0, {ins}};
                AudioBusBuffers outBus{2, 0, {outs}};
                ProcessData block{0, (shape >> 1) & 1, frames, shape & 4 ? 0 : 1, 1, &inBus, &outBus,
                                  &changes, nullptr, nullptr, nullptr, nullptr};
                for (auto* out : outs) std::fill(out, out + frames, 0.5f);
                tresult result = kResultOk;
                call([&] { result = processor->process(block); });
                if (result != kResultOk) break;
                for (int c = 0; c < 2; ++c) {
                    for (int i = 0; i < frames; ++i) {
                        const float out = outs[c][i];
                        const bool processed = std::isfinite(out) && std::fabs(out) <= 0.98f;
                        const bool through = std::memcmp(&out, &ins[c][i], sizeof out) == 0;
                        if (!processed && !through) fail("an output sample neither processed nor passed through");
                    }
                }
                break;
            }
        }
    }
    return 0;
}
