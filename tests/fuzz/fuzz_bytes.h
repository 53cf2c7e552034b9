// The fuzz targets' reading of libFuzzer's bytes as a stream of small values.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace lumisere::fuzz {

// Reads the fuzzer's bytes as a stream of small values; past the end everything reads 0.
struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool more() const { return at < size; }
    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::uint32_t word() {
        std::uint32_t w = 0;
        for (int i = 0; i < 4; ++i) w = (w << 8) | byte();
        return w;
    }
    float anyFloat() {
        const std::uint32_t bits = word();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // A sample: mostly ordinary audio, often one of the values hosts should never send.
    float sample() {
        static const float kOdd[] = {NAN, INFINITY, -INFINITY, 3.4e38f, -3.4e38f, 1e-40f, -1e-45f, 0.0f, -0.0f,
                                     1e36f, 1.0f, -1.0f};
        const std::uint8_t pick = byte();
        if (pick < 200) return (static_cast<float>(pick) - 100.0f) / 100.0f;
        if (pick < 240) return kOdd[pick % (sizeof kOdd / sizeof kOdd[0])];
        return anyFloat();
    }
};

}  // namespace lumisere::fuzz
