// ControlQueue: a ring of slots, each with a sequence number that says
// whether it is free for the push of a lap or full for the take of that
// lap (the bounded multi-producer, multi-consumer ring of D. Vyukov). A
// push that finds the ring full takes the oldest message itself, which the
// ring allows since any thread may take, and tries again.
#include "ControlQueue.h"

namespace {

std::size_t PowerOfTwoAtLeast(std::size_t n)
{
    std::size_t size = 2;
    while (size < n)
        size *= 2;
    return size;
}

} // namespace

ControlQueue::ControlQueue(std::size_t capacity)
    : mask(PowerOfTwoAtLeast(capacity) - 1)
    , ring(new Slot[mask + 1])
{
    for (std::size_t i = 0; i <= mask; ++i)
        ring[i].sequence.store(i, std::memory_order_relaxed);
}

void ControlQueue::push(const ControlMessage &message)
{
    std::size_t position = head.load(std::memory_order_relaxed);
    for (;;) {
        Slot &slot = ring[position & mask];
        const std::size_t sequence = slot.sequence.load(std::memory_order_acquire);
        const std::ptrdiff_t lap = static_cast<std::ptrdiff_t>(sequence - position);
        if (lap == 0) {
            if (head.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                slot.message = message;
                slot.sequence.store(position + 1, std::memory_order_release);
                return;
            }
        } else if (lap < 0) {
            // Full: the oldest message makes room.
            if (pop(nullptr))
                droppedCount.fetch_add(1, std::memory_order_relaxed);
            position = head.load(std::memory_order_relaxed);
        } else {
            position = head.load(std::memory_order_relaxed);
        }
    }
}

bool ControlQueue::pop(ControlMessage *message)
{
    std::size_t position = tail.load(std::memory_order_relaxed);
    for (;;) {
        Slot &slot = ring[position & mask];
        const std::size_t sequence = slot.sequence.load(std::memory_order_acquire);
        const std::ptrdiff_t lap = static_cast<std::ptrdiff_t>(sequence - (position + 1));
        if (lap == 0) {
            if (tail.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                if (message)
                    *message = slot.message;
                slot.sequence.store(position + mask + 1, std::memory_order_release);
                return true;
            }
        } else if (lap < 0) {
            return false; // empty (or a push is still filling the oldest slot)
        } else {
            position = tail.load(std::memory_order_relaxed);
        }
    }
}

bool ControlQueue::take(ControlMessage &message)
{
    return pop(&message);
}
