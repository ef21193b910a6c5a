#include "ReadTransfer.h"

#include <algorithm>

#include "Uuencode.h"

namespace lpcsim {

ReadTransfer::ReadTransfer(std::vector<uint8_t> data) : data_(std::move(data)) {}

size_t ReadTransfer::blockSize() const {
    return std::min(data_.size() - position_, kBytesPerLine * kLinesPerChecksum);
}

std::string ReadTransfer::block() const {
    std::string text;
    size_t end = position_ + blockSize();
    for (size_t at = position_; at < end; at += kBytesPerLine) {
        text += uuencodeLine(data_.data() + at, std::min(kBytesPerLine, end - at)) + "\r\n";
    }
    std::vector<uint8_t> bytes(data_.begin() + static_cast<long>(position_),
                               data_.begin() + static_cast<long>(end));
    return text + std::to_string(byteSum(bytes)) + "\r\n";
}

void ReadTransfer::acknowledge() {
    position_ += blockSize();
}

}  // namespace lpcsim
