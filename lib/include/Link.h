// One connection to a module's bus (USB, TCP/IP, serial port or a client of a shared link). A
// Link owns one link of the link engine, whose reader and writer threads move packets; every
// request here puts one packet on it and awaits, with a time-out, the first incoming packet that a
// filter for that request accepts. Links also subscribe to streamed values, keeping the latest
// sample of each so that gets are answered locally, and move byte data in and out of store slots
// and factory data blocks.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "UEIRecord.h"
#include "VexnetConfig.h"
#include "packetfifo.h"
#include "qError.h"
#include "qLink.h"
#include "qLinkSpec.h"
#include "qPacket.h"

namespace Pelmorax {
namespace Zendrival {

// Called on the link's callback worker with a copy of a stream packet and the subscriber's
// context; the packet is released after the call. The result is the callback writer's own.
using StreamCallback = std::function<uint8_t(const qPacket* packet, void* context)>;

class ZENDRIVAL_EXPORT Link {
  public:
    // Elements of a stream key; 255 in any of them means "any".
    enum STREAM_KEY : uint8_t {
        STREAM_KEY_MODULE = 0,
        STREAM_KEY_COMMAND = 1,
        STREAM_KEY_OPTION = 2,
        STREAM_KEY_INDEX = 3,
        STREAM_KEY_SUBINDEX = 4,
    };
    // Sample type of a stream packet (its data byte 3).
    enum STREAM_PACKET : uint8_t {
        STREAM_PACKET_NONE = 0,
        STREAM_PACKET_U8 = 1,
        STREAM_PACKET_U16 = 2,
        STREAM_PACKET_U32 = 3,
        STREAM_PACKET_BYTES = 4,
        STREAM_PACKET_SUBINDEX_U8 = 5,
        STREAM_PACKET_SUBINDEX_U16 = 6,
        STREAM_PACKET_SUBINDEX_U32 = 7,
    };
    struct StreamStatusEntry {
        uint64_t key;
        uint32_t value;
    };
    static constexpr uint8_t STREAM_ANY = 255;

    struct impl;

    explicit Link(const char* name);
    Link(const linkSpec& specifier, const char* name);
    virtual ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // --- Connection -------------------------------------------------------------------------
    // Finds a module by serial number (or, with serial number 0, by model; 0 = any model) and
    // connects to it, retrying once with the alternative link type when the configuration allows.
    qErr discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model);
    // Connects with the stored specifier; qErrConnection when an engine link is already held.
    qErr connect();
    // Connects over the engine link of a router module on the same bus.
    qErr connectThroughLinkModule(Link& router);
    // Takes over an engine link made elsewhere (for instance over a caller-made byte stream with
    // qLink_Create); the Link then owns one use of it. qErrConnection when a link is already held,
    // qErrParam for id 0.
    qErr adoptEngineLink(qLinkID id);
    // The engine link id; 0 when none.
    qLinkID getEngineLinkId() const;
    bool isConnected() const;
    // The engine's link status; 8 (error) when there is no engine link.
    uint32_t getStatus() const;
    qErr disconnect();
    qErr reset();
    // Asks the module for its bus address; qErrNotReady when not connected or no answer came.
    qErr getModuleAddress(uint8_t* address);

    qErr getConfig(VexnetConfig* config) const;
    // qErrMode while connected.
    qErr setConfig(const VexnetConfig& config);
    // qErrNotFound when no specifier is stored.
    qErr getLinkSpecifier(linkSpec* specifier) const;
    // qErrBusy while connected.
    qErr setLinkSpecifier(const linkSpec& specifier);
    const char* getName() const;

    // --- UEI exchange -----------------------------------------------------------------------
    // Puts the request (one packet, or a run of packets for a bytes value).
    qErr sendUEI(uei request);
    // One packet with the sub-index in front of the value; bytes values are not sent this way.
    qErr sendUEI(uei request, uint8_t subIndex);
    // Awaits the first reply of module/command/option/index (option exactly as expected in the
    // reply, index without flags). An error reply sets bit 7 of reply->specifier and puts the code
    // in reply->value.u8. reply->type and value.bytes select the time-out (4 s for a bytes value
    // longer than 1000 bytes, else 1 s).
    qErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply);
    // The same with a caller's filter; filterData null passes reply to the filter.
    qErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply,
                    qPacketFilter filter, void* filterData = nullptr);
    // Discards every queued reply the standard UEI filter would take for these values.
    qErr dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option, uint8_t index);

    // --- Raw packets ------------------------------------------------------------------------
    // A packet to module holding command and length (at most 27) further data bytes.
    qErr sendPacket(uint8_t module, uint8_t command, uint8_t length, const uint8_t* data);
    // Awaits (1 s) the first packet whose first *length data bytes equal pattern; then *length is
    // the reply's data length and data (room for qPACKET_MAX_DATA bytes) receives its data bytes.
    qErr receivePacket(uint8_t module, const uint8_t* pattern, uint8_t* length, uint8_t* data);

    // --- Store slots and factory data -------------------------------------------------------
    qErr storeSlotCapacity(uint8_t module, uint8_t store, uint8_t slot, size_t* capacity);
    qErr storeSlotSize(uint8_t module, uint8_t store, uint8_t slot, size_t* size);
    qErr loadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, const uint8_t* data,
                       size_t length);
    // qErrOverrun (with the first capacity bytes read) when the slot holds more than capacity.
    qErr unloadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, uint8_t* buffer,
                         size_t capacity, size_t* length);
    qErr getFactoryData(uint8_t module, uint8_t index, uint8_t* buffer, size_t capacity,
                        size_t* length);
    qErr setFactoryData(uint8_t module, uint8_t index, const uint8_t* data, size_t length);

    // --- Engine options and packet log ------------------------------------------------------
    qErr enablePooledPackets(bool pooled);
    // Appends every packet sent and received to fileName, one line each.
    qErr enablePacketLog(const char* fileName);
    qErr disablePacketLog();

    // --- Stream sampling --------------------------------------------------------------------
    // Subscribes (enable) or unsubscribes one stream; 255 in command, option or index subscribes
    // to all of them. The module is told with a stream-control set.
    qErr registerStreamCallback(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                                bool enable, StreamCallback callback, void* context);
    qErr enableStream(uint8_t module, uint8_t command, uint8_t option, uint8_t index, bool enable);
    // Latest sample: qErrNone once when fresh, then qErrStreamStale with the same value;
    // qErrNotFound when no sample of that exact key is kept.
    qErr getStreamValue(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                        uint8_t subIndex, uint32_t* value);
    // Lists {key, value} of every concrete entry matching the filter (255 = any); qErrSize when
    // there are more than capacity (capacity entries are then filled).
    qErr getStreamStatus(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                         uint8_t subIndex, StreamStatusEntry* entries, size_t capacity,
                         size_t* count);
    std::vector<uint64_t> filterActiveStreamKeys(uint8_t module, uint8_t command, uint8_t option,
                                                 uint8_t index, uint8_t subIndex, bool lock);
    qErr isLinkStreaming(uint8_t module, uint8_t* streaming);

    static uint64_t createStreamKey(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                                    uint8_t subIndex);
    static uint8_t getStreamKeyElement(uint64_t key, STREAM_KEY element);
    static void getTimestampParts(uint64_t timestamp, uint32_t* high, uint32_t* low);
    static bool isStreamPacket(const qPacket* packet);
    static bool getStreamPacketType(const qPacket* packet, STREAM_PACKET* type);
    static bool isSubindexType(STREAM_PACKET type);
    static bool isStreamSample(const qPacket* packet);
    // qErrSize for a bytes stream, qErrPacket for anything that is not a valid sample.
    static qErr getStreamSample(const qPacket* packet, uint64_t* timestamp, uint32_t* value,
                                uint8_t* subIndex);

    // Runs on the engine's reader thread for every incoming packet; consumes stream packets.
    static uint8_t linkStreamFilter(const qPacket* packet, void* linkImpl);

  private:
    friend struct LinkTestAccess;
    std::unique_ptr<impl> m_impl;
};

// True for the network-client link types 4 to 7.
ZENDRIVAL_EXPORT bool isVEXNET(linkType type);

// The object layer's own helpers below are not exported from the shared library; the tests reach
// them through the in-tree static one.
// Whether a failed discovery of this type may be retried with the alternative type.
bool _fallbackHelper(qErr result, linkType type, bool fallback);
// Discovery callback taking the first module of the wanted model (wanted: linkSpec*, its model
// 0 = any); copies it over the wanted specifier.
bool cbModelCallback(const linkSpec* candidate, bool* found, void* wanted);

// Reply filters. MatchMagic: any packet without data bytes (the address answer).
uint8_t MatchMagic(const qPacket* packet, void* filterData);
// filterData: uei* holding module, command, exact option and plain index; fills it on accept.
uint8_t sUEIFilter(const qPacket* packet, void* filterData);
// filterData: CommandPattern*.
uint8_t sCommandFilter(const qPacket* packet, void* filterData);

struct CommandPattern {
    const uint8_t* pattern;
    uint8_t length;
};

}  // namespace Zendrival
}  // namespace Pelmorax
