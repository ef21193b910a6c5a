#include "SdpRom.h"

#include <algorithm>
#include <cstdio>

#include "Wire.h"

namespace modulesim {

namespace {

// The chip's RAM: what a write brings beyond this is taken off the line and forgotten.
constexpr uint64_t kRamSize = 16u << 20;

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace

void SdpRom::answer(Result& result, bool withValue, uint32_t value) {
    result.answer.push_back(Word{true, kHabOpen});
    if (withValue) {
        result.answer.push_back(Word{false, value});
    }
}

void SdpRom::feed(const uint8_t* bytes, size_t count, Result& result) {
    size_t used = 0;
    while (used < count) {
        if (dataLeft_ > 0) {
            size_t chunk = static_cast<size_t>(std::min<uint64_t>(dataLeft_, count - used));
            takeData(bytes + used, chunk, result);
            used += chunk;
            continue;
        }
        command_.push_back(bytes[used++]);
        if (command_.size() == kSdpCommandSize) {
            execute(result);
            command_.clear();
        }
    }
}

void SdpRom::execute(Result& result) {
    uint16_t type = static_cast<uint16_t>(readBigEndian(command_.data(), 2));
    uint32_t address = readBigEndian(command_.data() + 2, 4);
    uint32_t count = readBigEndian(command_.data() + 7, 4);
    switch (static_cast<SdpCommand>(type)) {
        case SdpCommand::ErrorStatus:
            answer(result, true, lastStatus_);
            break;
        case SdpCommand::WriteFile:
            startWrite(address, count, result);
            break;
        case SdpCommand::JumpAddress:
            result.notes.push_back("imx-rom jumps to " + hex8(address));
            answer(result, false, 0);
            result.jump = true;
            result.jumpAddress = address;
            break;
        default: {
            char text[64];
            snprintf(text, sizeof text, "imx-rom ignores command %04X", type);
            result.notes.push_back(text);
            break;
        }
    }
}

void SdpRom::startWrite(uint32_t address, uint32_t count, Result& result) {
    result.notes.push_back("imx-rom write of " + std::to_string(count) + " bytes at " +
                           hex8(address));
    current_ = RamWrite{address, {}};
    dataLeft_ = count;
    keepData_ = !knobs_.dataError;
    if (knobs_.dataError) {
        // The ROM refuses at once; the data still arrives and is taken off the line unread.
        lastStatus_ = kDataRefusedStatus;
        answer(result, true, kDataRefusedStatus);
    }
    if (count == 0) {
        takeData(nullptr, 0, result);
    }
}

void SdpRom::takeData(const uint8_t* bytes, size_t count, Result& result) {
    if (keepData_ && ramHeld_ < kRamSize) {
        size_t room = static_cast<size_t>(std::min<uint64_t>(count, kRamSize - ramHeld_));
        current_.bytes.insert(current_.bytes.end(), bytes, bytes + room);
        ramHeld_ += room;
    }
    dataLeft_ -= count;
    if (dataLeft_ > 0 || !keepData_) {
        return;
    }
    writes_.push_back(std::move(current_));
    current_ = RamWrite();
    result.wrote = true;
    answer(result, true, knobs_.badComplete ? kBadCompletion : kWriteComplete);
}

void SdpRom::abandon() {
    command_.clear();
    dataLeft_ = 0;
    current_ = RamWrite();
}

void SdpRom::restart() {
    abandon();
    lastStatus_ = kNoErrorStatus;
    writes_.clear();
    ramHeld_ = 0;
}

bool SdpRom::holdsCode(uint32_t address) const {
    return std::any_of(writes_.begin(), writes_.end(), [address](const RamWrite& write) {
        return address >= write.address && address - write.address < write.bytes.size();
    });
}

}  // namespace modulesim
