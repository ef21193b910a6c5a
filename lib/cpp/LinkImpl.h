// Private state of a Link and the helpers its source files share. Not part of the library's
// public interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Link.h"
#include "LocklessQueue_SPSC.h"
#include "qLogger.h"

namespace Pelmorax {
namespace Zendrival {

// Serialises every creation of engine links by this layer: the engine's link table is shared by
// every Link in the process, and a module behind a router shares its router's engine link.
extern std::mutex linkCreateHelperSerializer;

constexpr uint32_t LINK_REPLY_TIMEOUT_MS = 1000;
constexpr uint32_t LINK_LARGE_REPLY_TIMEOUT_MS = 4000;
constexpr size_t LINK_LARGE_PAYLOAD = 1000;
constexpr uint32_t LINK_SLOT_OPEN_TIMEOUT_MS = 3000;
constexpr size_t LINK_NAME_MAX = 1024;
// Data bytes of a raw request after its command byte.
constexpr uint8_t LINK_RAW_MAX_DATA = qPACKET_MAX_DATA - 1;
constexpr uint16_t LINK_ASYNC_QUEUE_CAPACITY = 500;
constexpr uint8_t STREAM_CONTROL_COMMAND = 93;

// Latest sample of one stream key, and the subscriber's callback when there is one.
struct StreamEntry {
    uint64_t key = 0;
    bool fresh = false;
    StreamCallback callback;
    void* context = nullptr;
    uint32_t value = 0;
};

// One callback to deliver on the worker: what to call and a copy of the packet it is about.
struct asyncPacket {
    StreamCallback callback;
    void* context = nullptr;
    qOwnedPacket packet;
};
using AsyncQueue = Pelmorax::LocklessQueue_SPSC<asyncPacket>;

// Mask that sets to 255 the key elements named by the bits of i + 1 (bit 0 index, bit 1 option,
// bit 2 command, bit 3 sub-index); i = 0 ... 14. The module element is never wildcarded.
uint64_t _getGenericStreamKeyMask(uint8_t i);
constexpr uint8_t GENERIC_STREAM_KEY_MASKS = 15;

struct Link::impl {
    impl(Link* owner, const char* name);
    ~impl();

    // Creates the engine link for the stored specifier (under linkCreateHelperSerializer).
    qErr createEngineLink();
    qErr createDirectLink(const linkSpec& spec);
    void publishThroughServer();
    // Creates the engine link and waits until it runs.
    qErr connectProcedure();
    qErr awaitRunning() const;

    // qErrConnection / qErrPacket before anything is sent.
    qErr checkSendable(uint8_t module) const;
    // Puts a packet made of address and data; qErrResource when it cannot be made.
    qErr putPacket(uint8_t address, uint8_t length, const uint8_t* data) const;
    // Queues the packets of one multi-packet value together.
    qErr putPackets(const std::vector<qOwnedPacket>& packets) const;
    qOwnedPacket awaitReply(qPacketFilter filter, void* reference, uint32_t timeoutMs) const;

    // Streams.
    qErr installStreamFilter(bool install);
    void startAsyncWorker();
    void stopAsyncWorker();
    void queueAsyncCallback(const StreamEntry& entry, const qPacket* packet);
    void eraseMatchingStreams(uint64_t key);
    qErr tellModuleStream(uint64_t key, bool enable);
    static void asyncWork(std::shared_ptr<AsyncQueue> queue, std::future<void> stop);

    // Packet log reader run by the logger thread.
    static qErr packetLogReader(qFile* file, uint32_t linkId);

    Link* owner;
    // Engine link id; 0 = none.
    qLinkID m_stem = 0;
    qLogger* packetLogger = nullptr;
    VexnetConfig config;

    std::map<uint64_t, StreamEntry> streams;
    std::mutex streamMutex;
    bool streamFilterInstalled = false;
    // The worker owns a share of its queue, so a worker that cannot be joined (it is the thread
    // stopping itself from inside a callback) never outlives the ring it reads.
    std::shared_ptr<AsyncQueue> asyncQueue;
    std::thread asyncWorker;
    std::promise<void> stopPromise;

    std::string name;
    std::unique_ptr<linkSpec> specifier;
};

// One request of a transfer and its answer.
struct RequestExchange {
    qErr put = qErrNone;
    // Null when no reply came in time.
    qOwnedPacket reply;
    // The put's error, else qErrTimeout without a reply, else qErrNone.
    qErr failure() const;
};
// Puts a packet to module holding request and awaits the first reply the filter accepts; the
// filter is handed the request's bytes (a SlotRequest).
RequestExchange exchangeRequest(qLinkID linkId, uint8_t module, const uint8_t* request,
                                uint8_t length, qPacketFilter filter, uint32_t timeoutMs);

// Store-slot and factory-data transfers by engine link id.
uint8_t sOpenSlot(qLinkID linkId, uint8_t module, uint8_t store, uint8_t slot, uint8_t mode);
qErr sCloseSlot(qLinkID linkId, uint8_t module, uint8_t handle);
// filterData: a SlotRequest / FactoryRequest holding the request's data bytes.
uint8_t sSlotFilter(const qPacket* packet, void* filterData);
uint8_t sFactoryFilter(const qPacket* packet, void* filterData);

struct SlotRequest {
    const uint8_t* data;
    uint8_t length;
};
using FactoryRequest = SlotRequest;

}  // namespace Zendrival
}  // namespace Pelmorax
