#include "I2CBus.h"

namespace modulesim {

namespace {

constexpr uint8_t kPullupAddress = 1;  // a 4-byte request to address 1 sets the pull-ups
constexpr uint8_t kStatusError = 0x80;
constexpr uint8_t kMaxSpeed = 3;

uint8_t errorStatus(ErrorCode code) {
    return static_cast<uint8_t>(kStatusError | code);
}

}  // namespace

void I2CRegisters::write(const uint8_t* bytes, size_t count) {
    if (count == 0) {
        return;
    }
    pointer_ = bytes[0];
    for (size_t i = 1; i < count; ++i) {
        registers_[pointer_++] = bytes[i];
    }
}

std::vector<uint8_t> I2CRegisters::read(size_t count) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(registers_[pointer_++]);
    }
    return bytes;
}

I2CRegisters* I2CBus::find(uint8_t address) const {
    auto it = targets_.find(static_cast<uint8_t>(address & 0xFE));
    return it == targets_.end() ? nullptr : it->second;
}

void I2CBus::handle(const Packet& request, uint8_t moduleAddress, Outcome& outcome) {
    const std::vector<uint8_t>& data = request.data;
    if (data.size() < 3) {
        return;  // too short to name an address the reply could be matched on
    }
    if (data.size() == 4 && data[2] == kPullupAddress) {
        uint8_t status = data[1] == 0 ? uint8_t(0) : errorStatus(qErrIndexRange);
        if (status == 0)
            pullup_ = data[3] != 0;
        outcome.replies.push_back(
            Packet(moduleAddress, {kCmdI2C, data[1], kPullupAddress, data[3], status}));
        return;
    }
    if (data[2] & 1) {
        read(request, moduleAddress, outcome);
    } else {
        write(request, moduleAddress, outcome);
    }
}

void I2CBus::write(const Packet& request, uint8_t moduleAddress, Outcome& outcome) {
    const std::vector<uint8_t>& data = request.data;
    ErrorCode code = qErrNone;
    I2CRegisters* target = find(data[2]);
    size_t announced = data.size() > 3 ? data[3] : 0;
    if (data[1] != 0) {
        code = qErrIndexRange;  // one I2C bus per module
    } else if (data.size() < 5) {
        code = qErrShortCommand;
    } else if (data[4] > kMaxSpeed) {
        code = qErrParam;
    } else if (announced > kMaxTransfer || announced != data.size() - 5) {
        code = qErrSize;
    } else if (target == nullptr) {
        code = qErrTimeout;  // nobody acknowledges the address
    } else {
        target->write(data.data() + 5, announced);
    }
    uint8_t status = code == qErrNone ? 0 : errorStatus(code);
    outcome.replies.push_back(Packet(moduleAddress, {kCmdI2C, data[1], data[2], 0, status}));
}

void I2CBus::read(const Packet& request, uint8_t moduleAddress, Outcome& outcome) {
    const std::vector<uint8_t>& data = request.data;
    ErrorCode code = qErrNone;
    I2CRegisters* target = find(data[2]);
    size_t wanted = data.size() > 3 ? data[3] : 0;
    if (data[1] != 0) {
        code = qErrIndexRange;
    } else if (data.size() < 5) {
        code = qErrShortCommand;
    } else if (data[4] > kMaxSpeed) {
        code = qErrParam;
    } else if (wanted > kMaxTransfer) {
        code = qErrSize;
    } else if (target == nullptr) {
        code = qErrTimeout;
    }
    std::vector<uint8_t> bytes;
    if (code == qErrNone) {
        bytes = target->read(wanted);
    }
    Packet reply(moduleAddress, {kCmdI2C, data[1], data[2], static_cast<uint8_t>(bytes.size()),
                                 static_cast<uint8_t>(code == qErrNone ? 0 : errorStatus(code))});
    reply.data.insert(reply.data.end(), bytes.begin(), bytes.end());
    outcome.replies.push_back(std::move(reply));
}

}  // namespace modulesim
