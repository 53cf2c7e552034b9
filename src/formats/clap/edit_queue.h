// The editor's edits on their way to the CLAP host: one producer (the editor window's thread) and one
// consumer (whichever thread runs process or flush, which CLAP never runs at once), lock-free, fixed
// size, no allocation after construction.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace lumisere::clap {

struct Edit {
    enum Kind : std::uint8_t { began, changed, ended };
    Kind kind = changed;
    int index = 0;
    float value = 0.0f;  // normalised; for `changed` only
};

class EditQueue {
public:
    // [producer] False when full: the host has not called process or flush for 256 edits.
    bool push(const Edit& edit) {
        const std::uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == kCapacity) return false;
        slots_[tail % kCapacity] = edit;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // [consumer] False when empty.
    bool pop(Edit& edit) {
        const std::uint32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        edit = slots_[head % kCapacity];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    static constexpr std::uint32_t kCapacity = 256;  // a power of two, so the counters may wrap
    std::array<Edit, kCapacity> slots_{};
    std::atomic<std::uint32_t> head_{0};
    std::atomic<std::uint32_t> tail_{0};
};

}  // namespace lumisere::clap
