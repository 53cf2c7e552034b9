// The audio core's per-frame code is compiled twice: once for every x86-64 processor (the generic
// copy) and once with AVX2 (the avx2 copy); processBlock picks one at run time. Each copy's functions,
// the inline ones included, are declared inside an inline namespace named after the copy, so the two
// copies share no function that a linker could keep for both: the generic copy never reaches an AVX2
// instruction. The types both work on (DspState, the settings) are shared and carry no code.
//
// A core source is compiled as the avx2 copy with LUMISERE_CORE_COPY=avx2; every other includer, the
// plug-in and the tests among them, sees the generic copy.
#pragma once

#include <cstdint>
#include <cstring>

#ifndef LUMISERE_CORE_COPY
#define LUMISERE_CORE_COPY generic
#endif

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

// In place of std::max and std::min, which are inline templates that every object file may carry a
// copy of: the same results, (a < b) ? b : a and (b < a) ? b : a, NaN and signed zeros alike.
inline double larger(double a, double b) { return a < b ? b : a; }
inline double smaller(double a, double b) { return b < a ? b : a; }
inline float larger(float a, float b) { return a < b ? b : a; }

// |x| of a float by its sign bit, in place of the inline std::fabs(float).
inline float magnitude(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= 0x7fffffffu;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Whether a float is neither infinite nor NaN: its exponent bits are not all ones.
inline bool isFiniteSample(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7f800000u) != 0x7f800000u;
}

// Two doubles in the lanes of one 128-bit register (SSE2, which every x86-64 CPU has; the compiler
// spreads it over two registers elsewhere). Each operation acts lane by lane with the rounding of the
// scalar one, so two independent recurrences, such as the left and right channel's or two analysers',
// step together and each lane takes exactly the values it would alone.
using Lanes = double __attribute__((vector_size(16)));
using LaneBits = long long __attribute__((vector_size(16)));

inline Lanes largerLanes(Lanes a, Lanes b) { return a < b ? b : a; }

// |x| lane by lane, by the sign bits, as std::fabs does.
inline Lanes magnitudeLanes(Lanes x) {
    const LaneBits noSign = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL};
    return reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(x) & noSign);
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
