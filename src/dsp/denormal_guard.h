// For as long as the guard lives: masks every floating-point exception and, for the audio core
// (DenormalGuard), flushes subnormal results to zero and reads subnormal operands as zero; then puts
// back the floating-point mode the caller had, exactly.
//
// In long silence the envelopes and filter states decay toward zero through the subnormal range,
// where x86 arithmetic can be a hundred times slower; flushed, they reach zero and stay cheap.
//
// Hosts built for debugging often run with exceptions unmasked (feenableexcept, _controlfp) to trap
// their own mistakes. Audio at the extremes, a NaN, an infinity or samples near 1e36 whose squares
// overflow, would then trap inside the plug-in. Masked, such operations give their IEEE results,
// which the processing is built to take (a non-finite input is processed as silence).
//
// Hosts notice a plug-in that leaves the mode changed, so the whole mode is restored: the control
// bits (rounding, flush, masks) and also the sticky status flags. The caller keeps the flags it had,
// and the flags raised by masked operations inside the guard stay inside.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <xmmintrin.h>
#define LUMISERE_DENORMALS_MXCSR 1
// The x87 unit has its own control and status words. The processing is SSE, but some maths
// libraries (mingw-w64's) compute in x87, and a host's feenableexcept unmasks both units.
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define LUMISERE_DENORMALS_X87 1
#endif
#elif defined(__aarch64__)
#define LUMISERE_DENORMALS_FPCR 1
#endif

#include <cstdint>

namespace lumisere::dsp {

// kFlush: whether subnormals are flushed as well. The audio core's guard flushes; the guard of the
// host entries (HostEntryGuard, formats/module/host_entry.h) only masks, so a subnormal a host sets as
// a parameter is stored as it came.
template <bool kFlush>
class FloatModeGuard {
public:
    FloatModeGuard() : saved_(readMode()) { enterProcessingMode(saved_); }
    ~FloatModeGuard() { restoreMode(saved_); }

    FloatModeGuard(const FloatModeGuard&) = delete;
    FloatModeGuard& operator=(const FloatModeGuard&) = delete;

private:
#if defined(LUMISERE_DENORMALS_MXCSR)
    // MXCSR: flush-to-zero (bit 15), denormals-are-zero (bit 6), the six exception masks (bits 7-12);
    // the status flags are bits 0-5.
    static constexpr std::uint32_t kFlushBits = 0x8040;
    static constexpr std::uint32_t kMaskBits = 0x1F80;

    struct Mode {
        unsigned csr;
#if defined(LUMISERE_DENORMALS_X87)
        // The 28-byte environment of fnstenv: control, status and tag words and the last operation.
        alignas(4) unsigned char x87[28];
#endif
    };

    static Mode readMode() {
        Mode mode;
        mode.csr = _mm_getcsr();
#if defined(LUMISERE_DENORMALS_X87)
        // fnstenv also masks every x87 exception, as this guard wants.
        asm volatile("fnstenv %0" : "=m"(mode.x87) : : "memory");
#endif
        return mode;
    }
    static void enterProcessingMode(const Mode& caller) {
        _mm_setcsr(caller.csr | (kFlush ? kFlushBits : 0u) | kMaskBits);
    }
    static void restoreMode(const Mode& caller) {
#if defined(LUMISERE_DENORMALS_X87)
        asm volatile("fldenv %0" : : "m"(caller.x87) : "memory");
#endif
        _mm_setcsr(caller.csr);
    }
#elif defined(LUMISERE_DENORMALS_FPCR)
    // FPCR: flush-to-zero (bit 24), which on AArch64 covers both results and operands; the trap
    // enables of the six exceptions (bits 8-12 and 15). The status flags live apart, in FPSR.
    static constexpr std::uint64_t kFlushBits = std::uint64_t{1} << 24;
    static constexpr std::uint64_t kTrapBits = 0x9F00;

    struct Mode {
        std::uint64_t fpcr;
        std::uint64_t fpsr;
    };

    static Mode readMode() {
        Mode mode;
        asm volatile("mrs %0, fpcr" : "=r"(mode.fpcr));
        asm volatile("mrs %0, fpsr" : "=r"(mode.fpsr));
        return mode;
    }
    static void enterProcessingMode(const Mode& caller) {
        asm volatile("msr fpcr, %0" : : "r"((caller.fpcr | (kFlush ? kFlushBits : 0u)) & ~kTrapBits));
    }
    static void restoreMode(const Mode& caller) {
        asm volatile("msr fpsr, %0" : : "r"(caller.fpsr));
        asm volatile("msr fpcr, %0" : : "r"(caller.fpcr));
    }
#else
    static constexpr std::uint64_t kFlushBits = 0;
    struct Mode {};
    static Mode readMode() { return {}; }
    static void enterProcessingMode(const Mode&) {}
    static void restoreMode(const Mode&) {}
#endif

    Mode saved_;

public:
    // Whether this platform has a flush mode the guard sets (x86 SSE or AArch64).
    static constexpr bool kSupported = kFlushBits != 0;
};

// The audio core's guard: subnormals flushed, exceptions masked.
using DenormalGuard = FloatModeGuard<true>;

}  // namespace lumisere::dsp
