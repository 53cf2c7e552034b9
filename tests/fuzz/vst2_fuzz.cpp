// Fuzzes the VST 2.x plug-in through its exported entry point, as a careless host would drive it:
// any dispatcher call with buffers of the documented sizes, setParameter with any float bit pattern,
// process calls with any frame count and any samples (NaN, infinities, subnormals, +-3.4e38), in place
// or not, rate changes and suspend/resume between. Checked inside, on every input:
//   - while processing (running, not bypassed) every output sample is written, finite and within
//     +-0.98; a pass-through copies the input;
//   - the meters are finite;
//   - the caller's floating-point control word comes back unchanged from every call.
// Sanitizer reports (ASan, UBSan) end the run as well.
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/processor.h"
#include "formats/vst2/vst2_instance.h"
#include "formats/vst2/vst_host.h"
#include "fuzz_bytes.h"
#include "plugin_library.h"

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host);

namespace {

using lumisere::kNumParams;

using lumisere::fuzz::Bytes;

// Every opcode of the table and a few beyond it; effClose and effEditOpen come separately.
constexpr VstInt32 kOpcodes[] = {effOpen, effSetProgram, effGetProgram, effSetProgramName, effGetProgramName,
                                 effGetParamLabel, effGetParamDisplay, effGetParamName, effSetSampleRate,
                                 effSetBlockSize, effMainsChanged, effEditGetRect, effEditClose, effEditIdle,
                                 effGetChunk, effSetChunk, effProcessEvents, effCanDo, effGetEffectName,
                                 effGetVendorString, effGetProductString, effGetVendorVersion, effGetPlugCategory,
                                 effGetVstVersion, 120, -1, 0x7fffffff};

std::uint32_t controlWord() { return _mm_getcsr(); }

void fail(const char* what) {
    std::fprintf(stderr, "vst2_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No editor window can open: no display to open one on.
    unsetenv("DISPLAY");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in{data, size};
    AEffect* effect = VSTPluginMain(lumisere::host::stubHostCallback);
    if (effect == nullptr) fail("no instance");
    const lumisere::Processor* processor = lumisere::vst2::processorOf(effect);
    // The host's own mode, as a debug build of a host runs: invalid operation, division by zero and
    // overflow unmasked (MXCSR bits 7, 9, 10 clear), denormals kept.
    const std::uint32_t hostMode = controlWord() & ~0x0680u & ~0x8040u;
    _mm_setcsr(hostMode);

    std::vector<float> inL, inR, outL, outR;
    alignas(8) char buffer[256];
    bool suspended = false;
    for (int steps = 0; in.more() && steps < 64; ++steps) {
        switch (in.byte() % 6) {
            case 0: {  // a dispatcher call
                const VstInt32 opcode = kOpcodes[in.byte() % (sizeof kOpcodes / sizeof kOpcodes[0])];
                const auto index = static_cast<VstInt32>(in.word());
                const auto value = static_cast<VstIntPtr>(static_cast<std::int32_t>(in.word()));
                const float opt = in.anyFloat();
                std::memset(buffer, 0, sizeof buffer);
                for (std::size_t i = 0; i + 1 < 40; ++i) buffer[i] = static_cast<char>(in.byte());  // terminated
                void* ptr = (in.byte() & 1) != 0 ? static_cast<void*>(buffer) : nullptr;
                if (opcode == effEditGetRect && ptr != nullptr) std::memset(buffer, 0, sizeof(ERect*));
                effect->dispatcher(effect, opcode, index, value, ptr, opt);
                if (opcode == effMainsChanged) suspended = value == 0;
                break;
            }
            case 1:  // a parameter, any bit pattern, any index
                effect->setParameter(effect, static_cast<VstInt32>(in.byte()) - 2, in.anyFloat());
                break;
            case 2:
                (void)effect->getParameter(effect, static_cast<VstInt32>(static_cast<std::int8_t>(in.byte())));
                break;
            case 3: {  // a rate, ordinary or not
                static const float kRates[] = {44100.0f, 48000.0f, 96000.0f, 8000.0f, 8000.5f, 192000.0f, 0.0f};
                const std::uint8_t pick = in.byte();
                const float rate = pick < 200 ? kRates[pick % 7] : in.anyFloat();
                effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, rate);
                break;
            }
            case 4:  // an editor open with no display: refused, never a crash
                effect->dispatcher(effect, effEditOpen, 0, 0, reinterpret_cast<void*>(std::uintptr_t{in.word()}), 0.0f);
                break;
            default: {  // a process call
                const int frames = static_cast<int>(in.byte() | (in.byte() & 0x07) << 8) - 8;  // -8 .. 2039
                const std::size_t n = frames > 0 ? static_cast<std::size_t>(frames) : 0;
                inL.assign(n + 1, 0.0f);
                inR.assign(n + 1, 0.0f);
                for (std::size_t i = 0; i < n; ++i) {
                    inL[i] = in.sample();
                    inR[i] = in.sample();
                }
                const bool inPlace = (in.byte() & 1) != 0;
                const float sentinel = -12345.0f;
                outL.assign(n + 1, sentinel);
                outR.assign(n + 1, sentinel);
                std::vector<float> keepL = inL, keepR = inR;
                float* inputs[] = {inL.data(), inR.data()};
                float* outputs[] = {inPlace ? inL.data() : outL.data(), inPlace ? inR.data() : outR.data()};
                const bool processing = !suspended && !lumisere::isSwitchOn(effect->getParameter(effect, lumisere::kParamBypass));
                effect->processReplacing(effect, inputs, outputs, frames);
                for (std::size_t i = 0; i < n; ++i) {
                    for (int ch = 0; ch < 2; ++ch) {
                        const float y = outputs[ch][i];
                        const float x = ch == 0 ? keepL[i] : keepR[i];
                        if (processing) {
                            if (!std::isfinite(y) || std::fabs(y) > 0.98f) fail("an output sample out of range");
                        } else if (std::memcmp(&y, &x, sizeof y) != 0) {
                            fail("a pass-through changed a sample");
                        }
                    }
                }
                if (outputs[0][n] != (inPlace ? 0.0f : sentinel)) fail("a write past the block");
                for (int m = 0; m < lumisere::kNumMeters; ++m) {
                    if (!std::isfinite(processor->meter(m))) fail("a meter is not finite");
                }
                break;
            }
        }
        // The control bits; the status flags are sticky and our own arithmetic here raises some.
        if ((controlWord() & ~0x3fu) != (hostMode & ~0x3fu)) fail("the caller's floating-point mode changed");
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    _mm_setcsr(0x1f80);
    return 0;
}
