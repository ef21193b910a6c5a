#include "packetfifo.h"

#include "packetfifoCursor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

struct SerialPacket {
    qOwnedPacket packet;
    // Strictly increasing in put order within one queue.
    int64_t id;
};

struct packetFifo {
    std::deque<SerialPacket> packets;
    std::condition_variable changed;
    std::mutex lock;
    std::atomic<bool> alive{true};
    // Id of the oldest packet present, or the next id to be given when the queue is empty.
    std::atomic<int64_t> windowStart{0};
    std::atomic<int64_t> nextId{0};
    // How long recent waits for a packet lasted (see waitForPacket); 0 when not known.
    std::atomic<int64_t> paceNs{0};
};

using FifoRef = std::shared_ptr<packetFifo>;
using Clock = std::chrono::steady_clock;

// A call holds its own reference, so a queue destroyed meanwhile by another thread stays valid
// until that call returns. The registry mutex is never held together with a queue's lock.
std::map<qPacketFifoHandle, FifoRef> gpPacketFifoDictionary;
std::mutex gpPacketFifoDictionaryMutex;
std::atomic<qPacketFifoHandle> gpSequentialId{1};

FifoRef findFifo(qPacketFifoHandle handle) {
    std::lock_guard<std::mutex> registryLock(gpPacketFifoDictionaryMutex);
    auto found = gpPacketFifoDictionary.find(handle);
    return found == gpPacketFifoDictionary.end() ? nullptr : found->second;
}

qPacketFifoHandle nextHandle() {
    qPacketFifoHandle handle = gpSequentialId++;
    return handle != 0 ? handle : gpSequentialId++;
}

// How a waiter spends the time until its packet comes. On a virtual machine whose idle cores halt,
// putting a sleeping thread back on a core costs 15 to 100 us, as much as a module's whole answer
// over a socket, while a thread that is running sees the packet at once. So a waiter watches the
// queue (yielding the core in between) while its packet is likely to arrive, and sleeps otherwise:
// - as long as the queue has no recent pace, it watches briefly and then sleeps;
// - when recent waits ended within kPacedLimit (a module that answers after a millisecond, as
//   over USB), it sleeps until shortly before the packet is due and watches until shortly after.
// A longer wait makes the queue forget its pace: at that distance watching would cost more than the
// wake-up saves.
constexpr auto kBriefWait = std::chrono::microseconds(60);
// The watch starts this long before the packet is due, since a timed sleep here overshoots by 60
// to 150 us, and ends this long after it. Measured at 1 ms of module latency: a narrower watch
// misses more packets, a wider one takes the core from the module's side and the reader.
constexpr auto kWatchBefore = std::chrono::microseconds(250);
constexpr auto kWatchAfter = std::chrono::microseconds(100);
constexpr auto kPacedLimit = std::chrono::milliseconds(2);

thread_local bool tBriefWaits = true;

// A smoothed length of the recent waits that ended with a packet, or 0 once one took too long.
void notePace(packetFifo& fifo, Clock::duration waited) {
    if (waited > kPacedLimit) {
        fifo.paceNs = 0;
        return;
    }
    const int64_t sample = std::chrono::duration_cast<std::chrono::nanoseconds>(waited).count();
    const int64_t pace = fifo.paceNs.load();
    fifo.paceNs = pace == 0 ? sample : (3 * pace + sample) / 4;
}

// True when the packet came while watching until end.
template <typename Ready>
bool watchUntil(packetFifo& fifo, std::unique_lock<std::mutex>& queueLock, Clock::time_point end,
                Ready& ready) {
    while (Clock::now() < end) {
        // Only a put changes nextId: watch it without the lock, so the putter is not held up.
        const int64_t seen = fifo.nextId.load(std::memory_order_acquire);
        queueLock.unlock();
        while (fifo.nextId.load(std::memory_order_acquire) == seen && Clock::now() < end) {
            std::this_thread::yield();
        }
        queueLock.lock();
        if (ready()) {
            return true;
        }
    }
    return false;
}

// True when the packet came while sleeping until end.
template <typename Ready>
bool sleepUntil(packetFifo& fifo, std::unique_lock<std::mutex>& queueLock, Clock::time_point end,
                Ready& ready) {
    // A look without waiting (Get, GetFirst) must not enter a timed sleep at all: even with its
    // deadline passed, the kernel's timer slack would hold the thread for tens of microseconds.
    return Clock::now() < end && fifo.changed.wait_until(queueLock, end, ready);
}

template <typename Ready>
void waitForPacket(packetFifo& fifo, std::unique_lock<std::mutex>& queueLock,
                   Clock::time_point deadline, Ready ready) {
    if (ready()) {
        return;
    }
    if (!tBriefWaits) {
        sleepUntil(fifo, queueLock, deadline, ready);
        return;
    }
    const Clock::time_point start = Clock::now();
    const auto pace = std::chrono::nanoseconds(fifo.paceNs.load());
    const bool came =
        pace.count() == 0
            ? watchUntil(fifo, queueLock, std::min(deadline, start + kBriefWait), ready) ||
                  sleepUntil(fifo, queueLock, deadline, ready)
            : sleepUntil(fifo, queueLock, std::min(deadline, start + pace - kWatchBefore), ready) ||
                  watchUntil(fifo, queueLock, std::min(deadline, start + pace + kWatchAfter),
                             ready) ||
                  sleepUntil(fifo, queueLock, deadline, ready);
    if (came && fifo.alive) {
        notePace(fifo, Clock::now() - start);
    }
}

// With the queue locked: waits until it holds a packet, is destroyed or the time is up, and says
// whether a packet is there.
bool awaitAnyPacket(packetFifo& fifo, std::unique_lock<std::mutex>& queueLock, uint32_t timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    waitForPacket(fifo, queueLock, deadline, [&] { return !fifo.packets.empty() || !fifo.alive; });
    return !fifo.packets.empty();
}

bool accepts(qPacketFilter filter, const SerialPacket& element, void* reference) {
    return filter(element.packet.get(), reference) != 0;
}

// Call with the queue locked.
void syncWindowStart(packetFifo& fifo) {
    fifo.windowStart = fifo.packets.empty() ? fifo.nextId.load() : fifo.packets.front().id;
}

// Call with the queue locked. The caller gets a copy; should copying fail the packet stays
// queued rather than being lost.
qPacket* takePacket(packetFifo& fifo, std::deque<SerialPacket>::iterator position) {
    qPacket* copy = qPacket_Copy(position->packet.get());
    if (copy == nullptr) {
        return nullptr;
    }
    fifo.packets.erase(position);
    syncWindowStart(fifo);
    return copy;
}

// Call with the queue locked. Returns whether waiters should be woken: not when the bound has
// just emptied the queue.
bool appendPacket(packetFifo& fifo, qOwnedPacket copy) {
    fifo.packets.push_back(SerialPacket{std::move(copy), fifo.nextId});
    ++fifo.nextId;
    if (fifo.packets.size() > qPACKETFIFO_MAX_PACKETS) {
        fifo.packets.clear();
        syncWindowStart(fifo);
        return false;
    }
    syncWindowStart(fifo);
    return true;
}

}  // namespace

void qPacketFifo_SetBriefWaits(bool enabled) {
    tBriefWaits = enabled;
}

qPacketFifoHandle qPacketFifo_Create() {
    try {
        FifoRef fifo = std::make_shared<packetFifo>();
        std::lock_guard<std::mutex> registryLock(gpPacketFifoDictionaryMutex);
        // Only after the counter wraps around can a handle still be in use.
        qPacketFifoHandle handle = nextHandle();
        while (!gpPacketFifoDictionary.emplace(handle, fifo).second) {
            handle = nextHandle();
        }
        return handle;
    } catch (...) {
        return 0;
    }
}

qErr qPacketFifo_Destroy(qPacketFifoHandle* handle) {
    if (handle == nullptr) {
        return qErrParam;
    }
    try {
        FifoRef fifo;
        {
            std::lock_guard<std::mutex> registryLock(gpPacketFifoDictionaryMutex);
            auto found = gpPacketFifoDictionary.find(*handle);
            if (found == gpPacketFifoDictionary.end()) {
                return qErrNotFound;
            }
            fifo = std::move(found->second);
            gpPacketFifoDictionary.erase(found);
        }
        {
            std::lock_guard<std::mutex> queueLock(fifo->lock);
            fifo->packets.clear();
            syncWindowStart(*fifo);
            fifo->alive = false;
        }
        fifo->changed.notify_all();
        *handle = 0;
        return qErrNone;
    } catch (...) {
        return qErrUnknown;
    }
}

size_t qPacketFifo_GetLength(qPacketFifoHandle handle) {
    FifoRef fifo = findFifo(handle);
    if (!fifo) {
        return 0;
    }
    std::lock_guard<std::mutex> queueLock(fifo->lock);
    return fifo->packets.size();
}

qErr qPacketFifo_Put(qPacketFifoHandle handle, const qPacket* packet) {
    return qPacketFifo_PutAll(handle, &packet, 1);
}

qErr qPacketFifo_PutAll(qPacketFifoHandle handle, const qPacket* const* packets, size_t count) {
    FifoRef fifo = findFifo(handle);
    if (!fifo || (packets == nullptr && count != 0)) {
        return qErrParam;
    }
    std::vector<qOwnedPacket> copies;
    try {
        copies.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            if (!qSENDABLEPACKET(packets[i])) {
                return qErrParam;
            }
            copies.emplace_back(qPacket_Copy(packets[i]));
            if (!copies.back()) {
                return qErrResource;
            }
        }
    } catch (const std::bad_alloc&) {
        return qErrResource;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> queueLock(fifo->lock);
        if (!fifo->alive) {
            return qErrParam;
        }
        try {
            for (qOwnedPacket& copy : copies) {
                wake = appendPacket(*fifo, std::move(copy)) || wake;
            }
        } catch (const std::bad_alloc&) {
            return qErrResource;
        }
    }
    if (wake) {
        fifo->changed.notify_all();
    }
    return qErrNone;
}

qPacket* qPacketFifo_Get(qPacketFifoHandle handle) {
    return qPacketFifo_Await(handle, 0);
}

qPacket* qPacketFifo_Await(qPacketFifoHandle handle, uint32_t timeoutMs) {
    FifoRef fifo = findFifo(handle);
    if (!fifo) {
        return nullptr;
    }
    std::unique_lock<std::mutex> queueLock(fifo->lock);
    if (!awaitAnyPacket(*fifo, queueLock, timeoutMs)) {
        return nullptr;
    }
    return takePacket(*fifo, fifo->packets.begin());
}

bool qPacketFifo_AwaitAny(qPacketFifoHandle handle, uint32_t timeoutMs) {
    FifoRef fifo = findFifo(handle);
    if (!fifo) {
        return false;
    }
    std::unique_lock<std::mutex> queueLock(fifo->lock);
    return awaitAnyPacket(*fifo, queueLock, timeoutMs);
}

qPacket* qPacketFifo_GetFirst(qPacketFifoHandle handle, qPacketFilter filter, void* reference) {
    return qPacketFifo_AwaitFirst(handle, filter, reference, 0);
}

qPacket* qPacketFifo_AwaitFirst(qPacketFifoHandle handle, qPacketFilter filter, void* reference,
                                uint32_t timeoutMs) {
    qPacketFifoCursor cursor;
    return qPacketFifo_AwaitFirstNew(handle, filter, reference, timeoutMs, &cursor);
}

// A waiter wakes on every put, but offers the filter only the packets it has not seen yet: ids
// up to the cursor's mark were already refused, in this call or an earlier one with the cursor.
// Filters may have side effects (count, log, match a sequence), so offering a packet twice would
// be wrong, not just slow.
qPacket* qPacketFifo_AwaitFirstNew(qPacketFifoHandle handle, qPacketFilter filter, void* reference,
                                   uint32_t timeoutMs, qPacketFifoCursor* cursor) {
    if (filter == nullptr || cursor == nullptr) {
        return nullptr;
    }
    FifoRef fifo = findFifo(handle);
    if (!fifo) {
        return nullptr;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> queueLock(fifo->lock);
    if (cursor->queue != handle) {
        cursor->queue = handle;
        cursor->lastOffered = fifo->windowStart - 1;
    }
    int64_t& lastExamined = cursor->lastOffered;
    auto match = fifo->packets.end();
    auto scanNewPackets = [&] {
        match = fifo->packets.end();
        for (auto it = fifo->packets.begin(); it != fifo->packets.end(); ++it) {
            if (it->id <= lastExamined) {
                continue;
            }
            lastExamined = it->id;
            if (accepts(filter, *it, reference)) {
                match = it;
                return true;
            }
        }
        return !fifo->alive;
    };
    waitForPacket(*fifo, queueLock, deadline, scanNewPackets);
    if (match == fifo->packets.end()) {
        return nullptr;
    }
    return takePacket(*fifo, match);
}

size_t qPacketFifo_DrainPackets(qPacketFifoHandle handle, qPacketFilter filter, void* reference) {
    if (filter == nullptr) {
        return 0;
    }
    FifoRef fifo = findFifo(handle);
    if (!fifo) {
        return 0;
    }
    std::lock_guard<std::mutex> queueLock(fifo->lock);
    // Compacts the kept packets forward in order, offering each packet to the filter once.
    auto kept = fifo->packets.begin();
    size_t removed = 0;
    for (auto it = fifo->packets.begin(); it != fifo->packets.end(); ++it) {
        if (accepts(filter, *it, reference)) {
            ++removed;
        } else {
            if (kept != it) {
                *kept = std::move(*it);
            }
            ++kept;
        }
    }
    fifo->packets.erase(kept, fifo->packets.end());
    syncWindowStart(*fifo);
    return removed;
}
