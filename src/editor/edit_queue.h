// Edit gestures on their way from the thread that makes them (an editor's own window thread) to the
// thread that may tell the host (the host's UI thread): a bounded single-producer, single-consumer
// queue without locks. push never blocks or allocates; drain hands the waiting events over in order.
//
// Full. The queue keeps room for every gesture it has begun to end: a begin is taken only while two
// more slots stay free for each open gesture (its last value and its end). Beyond that a value is held
// back on the producer's side, the newest replacing the older, and goes out just before its gesture's
// end, unless a newer value finds room first; a begin that finds no room drops its whole
// gesture, value and end alike. So whatever the consumer reads, every begin has its end and every
// gesture it sees ends with the value the parameter was left at; only values in between are lost.
// The format adapter has already stored each value, so a dropped gesture loses the host's notice,
// never the edit.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace lumisere::editor {

struct EditEvent {
    enum class Kind : std::uint8_t { Begin, Value, End };
    Kind kind = Kind::Value;
    int index = 0;       // the parameter
    float value = 0.0f;  // the stored normalised value (Value only)
};

class EditQueue {
public:
    // A few idle calls' worth of a fast drag (hosts idle every 20 to 100 ms); small, since every
    // instance holds one for its life.
    static constexpr std::size_t kCapacity = 32;
    static constexpr int kMaxIndex = 31;  // events for other indices are ignored

    // [producer] Never blocks or allocates. The producer may change threads only where one thread's
    // pushes happen before the next one's (a join, say).
    void push(const EditEvent& event) {
        if (event.index < 0 || event.index > kMaxIndex) return;
        const std::uint32_t bit = std::uint32_t{1} << event.index;
        switch (event.kind) {
            case EditEvent::Kind::Begin:
                if ((open_ & bit) != 0) return;  // already open: one begin per gesture
                if (freeSlots() < reserved_ + 3) {
                    dropped_ |= bit;
                    return;
                }
                write(event);
                open_ |= bit;
                reserved_ += 2;
                return;
            case EditEvent::Kind::Value:
                if ((dropped_ & bit) != 0) return;
                if (freeSlots() >= reserved_ + 1) {
                    held_ &= ~bit;
                    write(event);
                } else {
                    held_ |= bit;
                    heldValue_[event.index] = event.value;
                }
                return;
            case EditEvent::Kind::End:
                if ((dropped_ & bit) != 0) {
                    dropped_ &= ~bit;
                    return;
                }
                if ((open_ & bit) == 0) return;
                if ((held_ & bit) != 0) write({EditEvent::Kind::Value, event.index, heldValue_[event.index]});
                held_ &= ~bit;
                open_ &= ~bit;
                reserved_ -= 2;
                write(event);
                return;
        }
    }

    // [consumer] Calls deliver(event) for each waiting event, oldest first. Each slot is freed before
    // its event is delivered, so deliver may call anything.
    template <typename Deliver>
    void drain(Deliver&& deliver) {
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        for (std::size_t head = head_.load(std::memory_order_relaxed); head != tail; ++head) {
            const EditEvent event = slots_[head % kCapacity];
            head_.store(head + 1, std::memory_order_release);
            deliver(event);
        }
    }

private:
    std::size_t freeSlots() const {
        return kCapacity - (tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire));
    }
    void write(const EditEvent& event) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        slots_[tail % kCapacity] = event;
        tail_.store(tail + 1, std::memory_order_release);
    }

    std::array<EditEvent, kCapacity> slots_{};
    std::atomic<std::size_t> head_{0};  // written by the consumer
    std::atomic<std::size_t> tail_{0};  // written by the producer

    // The producer's own.
    std::size_t reserved_ = 0;   // slots kept for the last values and ends of open gestures
    std::uint32_t open_ = 0;     // gestures begun in the queue
    std::uint32_t dropped_ = 0;  // gestures whose begin found no room
    std::uint32_t held_ = 0;     // gestures with a value held back
    std::array<float, kMaxIndex + 1> heldValue_{};
};

}  // namespace lumisere::editor
