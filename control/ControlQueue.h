// ControlQueue: the bounded, lock-free queue that carries controller
// messages from the device threads (one per MIDI port, one for OSC) to the
// frame. Any number of threads push; one thread takes. Its slots are made
// once; when they are all full a push drops the oldest message and counts
// it, so a flood costs a fixed amount of memory and the newest messages win.
// The order of takes is the order in which pushes claimed their slot.
#pragma once

#include "ControlMessage.h"

#include <atomic>
#include <cstddef>
#include <memory>

class ControlQueue
{
public:
    static constexpr std::size_t kDefaultCapacity = 1024;
    // `capacity` is rounded up to a power of two (at least 2).
    explicit ControlQueue(std::size_t capacity = kDefaultCapacity);

    // Adds a message, dropping the oldest when the queue is full. Safe from
    // any thread; never blocks, never allocates.
    void push(const ControlMessage &message);
    // Takes the oldest message into `message`; false when there is none.
    bool take(ControlMessage &message);

    std::size_t capacity() const { return mask + 1; }
    // Messages dropped so far because the queue was full.
    std::size_t dropped() const { return droppedCount.load(std::memory_order_relaxed); }

private:
    struct Slot
    {
        std::atomic<std::size_t> sequence;
        ControlMessage message;
    };
    // Takes the oldest message without counting it (push's way to make room).
    bool pop(ControlMessage *message);

    std::size_t mask;
    std::unique_ptr<Slot[]> ring;
    alignas(64) std::atomic<std::size_t> head{0}; // next slot to fill
    alignas(64) std::atomic<std::size_t> tail{0}; // next slot to take
    std::atomic<std::size_t> droppedCount{0};
};
