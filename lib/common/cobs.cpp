#include "cobs.h"

#include <vector>

namespace {

constexpr uint8_t FULL_RUN = 0xFF;

}  // namespace

size_t cobs_encode(const uint8_t* src, size_t length, uint8_t* dst) {
    size_t codeIndex = 0;
    size_t write = 1;
    uint8_t code = 1;
    for (size_t read = 0; read < length; ++read) {
        if (src[read] == 0) {
            dst[codeIndex] = code;
            code = 1;
            codeIndex = write++;
            continue;
        }
        dst[write++] = src[read];
        if (++code == FULL_RUN) {
            dst[codeIndex] = code;
            code = 1;
            codeIndex = write++;
        }
    }
    dst[codeIndex] = code;
    return write;
}

size_t cobs_encode_inplace(uint8_t* buffer, size_t length) {
    std::vector<uint8_t> source(buffer, buffer + length);
    return cobs_encode(source.data(), length, buffer);
}

// Never writes ahead of what it has read, so src and dst may be the same buffer.
size_t cobs_decode(const uint8_t* src, size_t length, uint8_t* dst) {
    size_t read = 0;
    size_t write = 0;
    while (read < length) {
        const uint8_t code = src[read];
        if (code == 0 || read + code > length) {
            return 0;
        }
        ++read;
        for (uint8_t i = 1; i < code; ++i) {
            dst[write++] = src[read++];
        }
        if (code != FULL_RUN && read < length) {
            dst[write++] = 0;
        }
    }
    return write;
}

size_t cobs_decode_inplace(uint8_t* buffer, size_t length) {
    return cobs_decode(buffer, length, buffer);
}
