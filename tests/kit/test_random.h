// Random draws for tests that vary settings, events and block sizes: a 32-bit linear congruential
// generator, the same sequence on every platform.
#pragma once

#include <cstdint>

namespace lumisere::test {

struct TestRandom {
    std::uint32_t s;
    std::uint32_t next() { return s = s * 1664525u + 1013904223u; }
    float unit() { return static_cast<float>(next() >> 8) / 16777216.0f; }  // 0..1
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<std::uint32_t>(n)); }
};

}  // namespace lumisere::test
