#include "Uei.h"

#include <algorithm>

namespace modulesim {

bool parseUeiRequest(const Packet& packet, UeiRequest& request) {
    if (packet.data.size() < 3) {
        return false;
    }
    uint8_t optionByte = packet.data[1];
    request.command = packet.data[0];
    request.option = optionByte & 0x3F;
    request.index = packet.data[2] & 0x1F;
    request.get = (optionByte & kOptionGet) != 0;
    request.set = (optionByte & kOptionSet) != 0;
    request.value.assign(packet.data.begin() + 3, packet.data.end());
    return request.get != request.set;
}

bool ueiNumericValue(const UeiRequest& request, size_t width, uint32_t& value) {
    size_t length = request.value.size();
    if (length != width && length != width + 1) {
        return false;
    }
    value = readBigEndian(request.value.data() + (length - width), width);
    return true;
}

Packet ueiValueReply(uint8_t address, const UeiRequest& request, uint32_t value, size_t width) {
    Packet reply(address, {request.command, request.option, request.index});
    appendBigEndian(reply.data, value, width);
    return reply;
}

Packet ueiAck(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& value) {
    Packet reply(address,
                 {request.command, static_cast<uint8_t>(request.option | 0xC0), request.index});
    reply.data.insert(reply.data.end(), value.begin(), value.end());
    return reply;
}

Packet ueiError(uint8_t address, const UeiRequest& request, ErrorCode code) {
    uint8_t option = request.set ? static_cast<uint8_t>(request.option | 0xC0) : request.option;
    return Packet(address, {request.command, option,
                            static_cast<uint8_t>(request.index | kIndexError), code});
}

void ueiBytesRun(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& bytes,
                 std::vector<Packet>& out) {
    size_t sent = 0;
    uint8_t sequence = 0;
    do {
        size_t chunk = std::min(kBytesPerRunPacket, bytes.size() - sent);
        Packet packet(address, {request.command, request.option, request.index});
        packet.data.insert(packet.data.end(), bytes.begin() + sent, bytes.begin() + sent + chunk);
        sent += chunk;
        uint8_t more = sent < bytes.size() ? 0x80 : 0x00;
        packet.data.push_back(static_cast<uint8_t>(more | (sequence & 0x7F)));
        out.push_back(std::move(packet));
        sequence = static_cast<uint8_t>((sequence + 1) & 0x7F);
    } while (sent < bytes.size());
}

void BytesCollector::reset() {
    active_ = false;
    expected_ = 0;
    bytes_.clear();
}

BytesCollector::Result BytesCollector::add(const UeiRequest& request, size_t limit,
                                           ErrorCode* code) {
    if (request.value.empty()) {
        // Every packet of a run ends with its trailer.
        reset();
        *code = qErrShortCommand;
        return Result::Error;
    }
    uint8_t trailer = request.value.back();
    uint8_t sequence = trailer & 0x7F;
    bool sameValue = active_ && command_ == request.command && option_ == request.option &&
                     index_ == request.index;
    bool continues = sameValue && sequence == expected_;
    if (sequence == 0 && !continues) {
        // A new run always starts at 0, even when an earlier one was left unfinished; a long run
        // also passes through 0 again after 127, and then it simply goes on.
        reset();
        active_ = true;
        command_ = request.command;
        option_ = request.option;
        index_ = request.index;
    } else if (!continues) {
        reset();
        *code = qErrPacket;
        return Result::Error;
    }
    size_t chunk = request.value.size() - 1;
    if (bytes_.size() + chunk > limit) {
        reset();
        *code = qErrSize;
        return Result::Error;
    }
    bytes_.insert(bytes_.end(), request.value.begin(), request.value.end() - 1);
    if (trailer & 0x80) {
        expected_ = static_cast<uint8_t>((sequence + 1) & 0x7F);
        return Result::NeedMore;
    }
    active_ = false;
    return Result::Complete;
}

}  // namespace modulesim
