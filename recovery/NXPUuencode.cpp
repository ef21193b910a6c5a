// Data lines of the ISP memory transfers: classic uuencoding, one length character and then four
// characters per three bytes, with the grave accent standing for zero.
#include <cstring>

#include "Log.h"
#include "NXPSerialClass.h"

namespace {

bool isLineEnd(char c) {
    return c == '\0' || c == '\r' || c == '\n';
}

uint32_t sixBits(char c) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c) - 32) & 0x3F;
}

}  // namespace

uint32_t NXPSerialClass::sum(const uint8_t* data, size_t n) {
    uint32_t total = 0;
    for (size_t i = 0; data != nullptr && i < n; ++i) {
        total += data[i];
    }
    return total;
}

char NXPSerialClass::uuchar(uint32_t x) {
    uint32_t value = x & 0x3F;
    return value == 0 ? '`' : static_cast<char>(value + 32);
}

size_t NXPSerialClass::uuencode(char* out, const uint8_t* data, size_t n) {
    if (out == nullptr) {
        return 0;
    }
    size_t count = data == nullptr ? 0 : (n < MAX_BYTES_PER_LINE ? n : MAX_BYTES_PER_LINE);
    char* p = out;
    *p++ = uuchar(static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; i += 3) {
        uint32_t group = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < count) {
            group |= static_cast<uint32_t>(data[i + 1]) << 8;
        }
        if (i + 2 < count) {
            group |= data[i + 2];
        }
        *p++ = uuchar(group >> 18);
        *p++ = uuchar(group >> 12);
        *p++ = uuchar(group >> 6);
        *p++ = uuchar(group);
    }
    *p = '\0';
    return count;
}

size_t NXPSerialClass::uudecode(uint8_t* buffer, size_t capacity, const char* line) {
    // A blank line carries no data, whatever its first character would say as a length.
    if (buffer == nullptr || line == nullptr || isLineEnd(line[0])) {
        return 0;
    }
    size_t n = sixBits(line[0]);
    if (n > capacity) {
        return 0;
    }
    const char* p = line + 1;
    size_t produced = 0;
    while (produced < n) {
        uint32_t c[4];
        for (int k = 0; k < 4; ++k) {
            if (isLineEnd(*p)) {
                // A short line leaves no stale bytes behind; the checksum will tell the caller.
                memset(buffer + produced, 0, n - produced);
                Log::log(DEBUG_NXPSerial, "Error buffer overrun\n");
                return n;
            }
            c[k] = sixBits(*p++);
        }
        const uint8_t bytes[3] = {static_cast<uint8_t>(c[0] << 2 | c[1] >> 4),
                                  static_cast<uint8_t>(c[1] << 4 | c[2] >> 2),
                                  static_cast<uint8_t>(c[2] << 6 | c[3])};
        for (int k = 0; k < 3 && produced < n; ++k) {
            buffer[produced++] = bytes[k];
        }
    }
    return n;
}
