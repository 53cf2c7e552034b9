// Flushes subnormal results to zero, and reads subnormal operands as zero, for as long as the guard
// lives, then puts back the floating-point mode the caller had. In long silence the envelopes and
// filter states decay toward zero through the subnormal range, where x86 arithmetic can be a hundred
// times slower; flushed, they reach zero and stay cheap. Hosts notice a plug-in that leaves the mode
// changed, so the caller's mode is restored whatever it was.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <xmmintrin.h>
#define LUMISERE_DENORMALS_MXCSR 1
#elif defined(__aarch64__)
#define LUMISERE_DENORMALS_FPCR 1
#endif

#include <cstdint>

namespace lumisere::dsp {

class DenormalGuard {
public:
    DenormalGuard() : saved_(readMode()) { writeMode(saved_ | kFlushBits); }
    ~DenormalGuard() { writeMode(saved_); }

    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
#if defined(LUMISERE_DENORMALS_MXCSR)
    // MXCSR: flush-to-zero (bit 15) and denormals-are-zero (bit 6).
    static constexpr std::uint64_t kFlushBits = 0x8040;
    static std::uint64_t readMode() { return _mm_getcsr(); }
    static void writeMode(std::uint64_t mode) { _mm_setcsr(static_cast<unsigned>(mode)); }
#elif defined(LUMISERE_DENORMALS_FPCR)
    // FPCR: flush-to-zero (bit 24), which on AArch64 covers both results and operands.
    static constexpr std::uint64_t kFlushBits = std::uint64_t{1} << 24;
    static std::uint64_t readMode() {
        std::uint64_t mode;
        asm volatile("mrs %0, fpcr" : "=r"(mode));
        return mode;
    }
    static void writeMode(std::uint64_t mode) { asm volatile("msr fpcr, %0" : : "r"(mode)); }
#else
    static constexpr std::uint64_t kFlushBits = 0;
    static std::uint64_t readMode() { return 0; }
    static void writeMode(std::uint64_t) {}
#endif

    std::uint64_t saved_;

public:
    // Whether this platform has a flush mode the guard sets (x86 SSE or AArch64).
    static constexpr bool kSupported = kFlushBits != 0;
};

}  // namespace lumisere::dsp
