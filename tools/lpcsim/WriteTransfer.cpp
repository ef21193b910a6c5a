#include "WriteTransfer.h"

#include "Decimal.h"
#include "Uuencode.h"

namespace lpcsim {

WriteTransfer::WriteTransfer(uint32_t address, uint32_t count) : address_(address), count_(count) {}

bool WriteTransfer::checksumDue() const {
    return linesInBlock_ == kLinesPerChecksum || committed_ + block_.size() >= count_;
}

void WriteTransfer::dataLine(const std::string& line) {
    std::vector<uint8_t> bytes = uudecodeLine(line);
    size_t room = count_ - committed_ - block_.size();
    if (bytes.size() > room) {
        bytes.resize(room);
    }
    block_.insert(block_.end(), bytes.begin(), bytes.end());
    ++linesInBlock_;
}

bool WriteTransfer::checksumLine(const std::string& line, bool forceResend, DeviceMemory& memory) {
    uint64_t announced = 0;
    bool good = parseDecimal(line, 12, &announced) && announced == byteSum(block_) && !forceResend;
    if (good) {
        memory.writeRam(address_ + committed_, block_);
        committed_ += static_cast<uint32_t>(block_.size());
    }
    block_.clear();
    linesInBlock_ = 0;
    return good;
}

}  // namespace lpcsim
