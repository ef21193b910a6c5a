// A bounded ring handing elements from exactly one producer thread to exactly one consumer thread
// without locks. One slot always stays empty to tell a full ring from an empty one, so a ring of
// capacity N holds at most N - 1 elements.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

namespace Pelmorax {

template <typename T>
class LocklessQueue_SPSC {
  public:
    explicit LocklessQueue_SPSC(uint16_t capacity) : slots(capacity < 2 ? 2 : capacity) {}
    LocklessQueue_SPSC(const LocklessQueue_SPSC&) = delete;
    LocklessQueue_SPSC& operator=(const LocklessQueue_SPSC&) = delete;

    // Producer side only. False when the ring is full; the element is then left to the caller.
    bool push(T&& element) {
        const uint16_t write = writeIndex.load(std::memory_order_relaxed);
        const uint16_t next = advance(write);
        if (next == readIndex.load(std::memory_order_acquire)) {
            return false;
        }
        slots[next] = std::move(element);
        writeIndex.store(next, std::memory_order_release);
        return true;
    }

    // Consumer side only. False when the ring is empty.
    bool pop(T& element) {
        const uint16_t read = readIndex.load(std::memory_order_relaxed);
        if (read == writeIndex.load(std::memory_order_acquire)) {
            return false;
        }
        const uint16_t next = advance(read);
        element = std::move(slots[next]);
        slots[next] = T();
        readIndex.store(next, std::memory_order_release);
        return true;
    }

    size_t capacity() const { return slots.size(); }

  private:
    uint16_t advance(uint16_t index) const {
        return static_cast<uint16_t>(index + 1u == slots.size() ? 0u : index + 1u);
    }

    std::vector<T> slots;
    std::atomic<uint16_t> writeIndex{0};
    std::atomic<uint16_t> readIndex{0};
};

}  // namespace Pelmorax
