#include "WriteTransfer.h"

#include "Uuencode.h"

namespace lpcsim {

namespace {
bool parseDecimal(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    uint64_t parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        parsed = parsed * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = parsed;
    return true;
}
}  // namespace

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
    bool good = parseDecimal(line, &announced) && announced == byteSum(block_) && !forceResend;
    if (good) {
        memory.writeRam(address_ + committed_, block_);
        committed_ += static_cast<uint32_t>(block_.size());
    }
    block_.clear();
    linesInBlock_ = 0;
    return good;
}

}  // namespace lpcsim
