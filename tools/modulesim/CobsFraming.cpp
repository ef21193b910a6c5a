#include "CobsFraming.h"

#include "Cobs.h"
#include "Crc8.h"

namespace modulesim {

namespace {

constexpr uint8_t kDelimiter = 0;
// Address and length before the data, the CRC after it.
constexpr size_t kFrameOverhead = 3;

}  // namespace

void CobsFraming::feed(const uint8_t* bytes, size_t count, std::vector<Packet>& complete,
                       std::vector<Rejection>& rejected) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == kDelimiter) {
            endOfFrame(complete, rejected);
        } else if (buffer_.size() < kReceiveBufferSize) {
            buffer_.push_back(bytes[i]);
        }
    }
}

void CobsFraming::endOfFrame(std::vector<Packet>& complete, std::vector<Rejection>& rejected) {
    std::vector<uint8_t> decoded;
    std::string reason = cobsDecode(buffer_.data(), buffer_.size(), decoded)
                             ? check(decoded)
                             : "its encoding is broken";
    buffer_.clear();
    if (!reason.empty()) {
        ++rejectedCount_;
        rejected.push_back(
            {complete.size(), "frame " + std::to_string(rejectedCount_) + " dropped: " + reason});
        return;
    }
    complete.emplace_back(decoded[0], std::vector<uint8_t>(decoded.begin() + 2, decoded.end() - 1));
}

std::string CobsFraming::check(const std::vector<uint8_t>& decoded) {
    if (decoded.size() < kFrameOverhead) {
        return "too short (" + std::to_string(decoded.size()) + " bytes)";
    }
    if (decoded.size() != decoded[1] + kFrameOverhead) {
        return "length byte " + std::to_string(decoded[1]) + " in " +
               std::to_string(decoded.size()) + " bytes";
    }
    if (crc8(decoded.data(), decoded.size() - 1) != decoded.back()) {
        return "bad CRC";
    }
    return "";
}

std::vector<uint8_t> CobsFraming::frame(const Packet& packet, bool badCheck) const {
    std::vector<uint8_t> plain = encodePacket(packet);
    uint8_t crc = crc8(plain.data(), plain.size());
    plain.push_back(badCheck ? static_cast<uint8_t>(~crc) : crc);
    std::vector<uint8_t> bytes = cobsEncode(plain.data(), plain.size());
    bytes.push_back(kDelimiter);
    return bytes;
}

}  // namespace modulesim
