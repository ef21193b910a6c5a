// Fuzzes the framing of packetised serial links: COBS and CRC-8 as such, the framed stream's
// receive side over bytes from the line (frames, CRC checks, the bounded receive buffer), and its
// send side over bytes from the link's writer, whose frames must come back intact when they are
// received again.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cobs.h"
#include "crc8.h"
#include "qPacket.h"
#include "qStream_CobsEncoding.h"

namespace {

// The framed stream holds at most this many encoded bytes of one frame.
constexpr size_t kReceiveLimit = 32;
// Wire form, CRC, COBS overhead and the delimiter of the largest packet.
constexpr size_t kFrameLimit = qPACKET_MAX_WIRE + 1 + 1 + 1;

struct Line {
    std::vector<uint8_t> input;
    size_t position = 0;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> putBytes;
};

qErr lineGet(uint8_t* byte, void* reference) {
    Line* line = static_cast<Line*>(reference);
    if (line->position >= line->input.size()) {
        return qErrNotReady;
    }
    *byte = line->input[line->position++];
    return qErrNone;
}

qErr linePut(uint8_t byte, void* reference) {
    static_cast<Line*>(reference)->putBytes.push_back(byte);
    return qErrNone;
}

qErr lineWrite(const uint8_t* bytes, size_t length, void* reference) {
    static_cast<Line*>(reference)->frames.emplace_back(bytes, bytes + length);
    return qErrNone;
}

qErr lineDelete(void*) {
    return qErrNone;
}

// The bit-by-bit definition of CRC-8/MAXIM, to hold the table against.
uint8_t crc8Bitwise(const uint8_t* data, size_t size) {
    uint8_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<uint8_t>((crc >> 1) ^ 0x8C)
                                 : static_cast<uint8_t>(crc >> 1);
        }
    }
    return crc;
}

void checkCrc(const uint8_t* data, size_t size) {
    const uint8_t crc = crc8_create(data, size);
    if (crc != crc8Bitwise(data, size) || !crc8_check(data, size, crc)) {
        abort();
    }
    // Without a final XOR, the CRC over the data and its own CRC is zero.
    if (crc8_update(crc, crc) != 0) {
        abort();
    }
}

// Buffers of exactly the promised size, so that any write past it is caught.
void checkCobs(const uint8_t* data, size_t size) {
    const size_t bound = size + size / 254 + 1;
    std::unique_ptr<uint8_t[]> encoded(new uint8_t[bound]);
    const size_t encodedSize = cobs_encode(data, size, encoded.get());
    if (encodedSize > bound || memchr(encoded.get(), 0, encodedSize) != nullptr) {
        abort();
    }
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[encodedSize]);
    if (cobs_decode(encoded.get(), encodedSize, decoded.get()) != size ||
        (size > 0 && memcmp(decoded.get(), data, size) != 0)) {
        abort();
    }
    // Decoding what came off the line: never more than came in, and the same in place.
    std::unique_ptr<uint8_t[]> raw(new uint8_t[size]);
    std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
    if (size > 0) {
        memcpy(raw.get(), data, size);
    }
    const size_t outSize = cobs_decode(data, size, out.get());
    if (outSize > size || cobs_decode_inplace(raw.get(), size) != outSize ||
        (outSize > 0 && memcmp(raw.get(), out.get(), outSize) != 0)) {
        abort();
    }
}

// Reads the framed stream until the line has nothing more; returns the bytes delivered.
std::vector<uint8_t> receiveAll(qStream* stream, const Line& line, size_t* refused) {
    std::vector<uint8_t> delivered;
    const size_t limit = 40 * (line.input.size() + 2);
    for (size_t call = 0; call < limit; ++call) {
        uint8_t byte = 0;
        qErr err = qStream_Read(stream, &byte, 1);
        if (err == qErrNone) {
            delivered.push_back(byte);
        } else if (err == qErrPacket) {
            ++*refused;
        } else if (err != qErrNotReady) {
            abort();
        } else if (line.position >= line.input.size()) {
            return delivered;
        }
    }
    abort();  // the stream must run dry with the line
}

// What the framed stream hands out is whole packets in wire form, one per frame at most.
void checkDelivered(const std::vector<uint8_t>& delivered, size_t frames) {
    size_t position = 0;
    size_t count = 0;
    while (position < delivered.size()) {
        if (position + 1 >= delivered.size()) {
            abort();
        }
        const size_t length = delivered[position + 1] + size_t(qPACKET_HEADER_SIZE);
        if (length + 1 > kReceiveLimit) {
            abort();
        }
        position += length;
        ++count;
    }
    if (position != delivered.size() || count > frames) {
        abort();
    }
}

void checkReceive(const uint8_t* data, size_t size) {
    Line line;
    if (size > 0) {
        line.input.assign(data, data + size);
    }
    qStream* stream = nullptr;
    if (qStream_CreateCobsEncoding(lineGet, linePut, lineWrite, lineDelete, &line, &stream) !=
        qErrNone) {
        return;
    }
    size_t refused = 0;
    std::vector<uint8_t> delivered = receiveAll(stream, line, &refused);
    const size_t zeros = size_t(std::count(line.input.begin(), line.input.end(), 0));
    if (refused > zeros || delivered.size() > size) {
        abort();
    }
    checkDelivered(delivered, zeros - refused);
    qStream_Destroy(&stream);
}

// The packets in bytes as the link's writer hands them over: skipped bytes do not count.
std::vector<uint8_t> packetsIn(const uint8_t* data, size_t size) {
    std::vector<uint8_t> wire;
    qPacket* packet = qPacket_Create();
    for (size_t i = 0; i < size; ++i) {
        if (qPacket_AddByte(packet, data[i]) != qErrNone || !qPacket_IsComplete(packet)) {
            continue;
        }
        uint8_t bytes[qPACKET_MAX_WIRE];
        size_t length = 0;
        qPacket_GetBytes(packet, bytes, sizeof bytes, &length);
        wire.insert(wire.end(), bytes, bytes + length);
        qPacket_Reset(packet);
    }
    qPacket_Destroy(&packet);
    return wire;
}

// Every frame sent is one delimited COBS frame, and the far end gets the packets back intact.
void checkSend(const uint8_t* data, size_t size) {
    Line sent;
    qStream* stream = nullptr;
    if (qStream_CreateCobsEncoding(lineGet, linePut, lineWrite, lineDelete, &sent, &stream) !=
        qErrNone) {
        return;
    }
    if (stream->write(data, size, stream->reference) != qErrNone ||
        stream->put(0x5A, stream->reference) != qErrNone || sent.putBytes.size() != 1) {
        abort();
    }
    qStream_Destroy(&stream);

    Line farEnd;
    for (const std::vector<uint8_t>& frame : sent.frames) {
        if (frame.size() < 2 || frame.size() > kFrameLimit || frame.back() != 0 ||
            std::count(frame.begin(), frame.end(), 0) != 1) {
            abort();
        }
        farEnd.input.insert(farEnd.input.end(), frame.begin(), frame.end());
    }
    if (qStream_CreateCobsEncoding(lineGet, linePut, lineWrite, lineDelete, &farEnd, &stream) !=
        qErrNone) {
        return;
    }
    size_t refused = 0;
    std::vector<uint8_t> received = receiveAll(stream, farEnd, &refused);
    if (refused != 0 || received != packetsIn(data, size)) {
        abort();
    }
    qStream_Destroy(&stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkCrc(data, size);
    checkCobs(data, size);
    checkReceive(data, size);
    checkSend(data, size);
    return 0;
}
