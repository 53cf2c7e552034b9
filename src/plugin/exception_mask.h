// Masks every floating-point exception for the duration of a host's call into the plug-in, then puts
// back the caller's control and status word exactly. Debug builds of hosts run with exceptions
// unmasked; a NaN that a host hands over (a parameter, a rate, a sample) must not raise SIGFPE in our
// code, whose comparisons with NaN are meant to answer false, not to trap. The audio core's own
// guard (dsp/denormal_guard.h) adds flush-to-zero for the process call.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#define LUMISERE_EXCEPTIONS_MXCSR 1
#elif defined(__aarch64__)
#include <cstdint>
#define LUMISERE_EXCEPTIONS_FPCR 1
#endif

namespace lumisere {

class ExceptionMask {
public:
#if defined(LUMISERE_EXCEPTIONS_MXCSR)
    // MXCSR bits 7..12: invalid, denormal, divide-by-zero, overflow, underflow and precision masked.
    ExceptionMask() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x1f80u); }
    ~ExceptionMask() { _mm_setcsr(saved_); }

private:
    unsigned int saved_;
#elif defined(LUMISERE_EXCEPTIONS_FPCR)
    // FPCR trap enables: IOE, DZE, OFE, UFE, IXE (bits 8..12) and IDE (bit 15) cleared.
    ExceptionMask() {
        asm volatile("mrs %0, fpcr" : "=r"(saved_));
        const std::uint64_t masked = saved_ & ~std::uint64_t{0x9f00};
        asm volatile("msr fpcr, %0" : : "r"(masked));
    }
    ~ExceptionMask() { asm volatile("msr fpcr, %0" : : "r"(saved_)); }

private:
    std::uint64_t saved_;
#else
    ExceptionMask() = default;
#endif

public:
    ExceptionMask(const ExceptionMask&) = delete;
    ExceptionMask& operator=(const ExceptionMask&) = delete;
};

}  // namespace lumisere
