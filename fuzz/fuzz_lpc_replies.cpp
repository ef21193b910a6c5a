// Fuzzes how the host reads the LPC ISP bootloader's replies. The bytes are cut into lines the way
// the serial line reader cuts them (a leading "\n" dropped, a line ends after "\r\n" or when the
// buffer is full), and every line is read as each kind of reply: a return code, a device ID word,
// and a uuencoded data line, both into a buffer of a given capacity and into a memory read that
// advances through its buffer line by line. The bytes are also uuencoded in 45-byte pieces and
// decoded again, which must give them back.
//
// Input: one byte of settings (bits 0-5 the capacity of the single decode, bits 6-7 the size of
// the memory read), then the reply bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Log.h"
#include "NXPSerialClass.h"
#include "FuzzSupport.h"

namespace {

// The line buffers the class reads data lines and return-code lines into.
constexpr size_t kDataLineSize = 128;
constexpr size_t kCodeLineSize = 64;
constexpr uint32_t kReadSizes[4] = {4, 44, 900, 4096};
// Room uuencode needs for a full line and its NUL.
constexpr size_t kEncodedLineSize = NXPSerialClass::MAX_BYTES_PER_LINE / 3 * 4 + 2;

// The next line as the serial line reader stores it: line ends left at its start dropped, at most
// size - 1 bytes, NUL-terminated.
size_t nextLine(const uint8_t* data, size_t size, size_t* position, char* line, size_t lineSize) {
    size_t stored = 0;
    while (*position < size && data[*position] == '\n') {
        ++*position;
    }
    while (*position < size && stored + 1 < lineSize) {
        line[stored++] = static_cast<char>(data[(*position)++]);
        if (stored >= 2 && line[stored - 2] == '\r' && line[stored - 1] == '\n') {
            break;
        }
    }
    line[stored] = '\0';
    return stored;
}

bool isLineEnd(char c) {
    return c == '\0' || c == '\r' || c == '\n';
}

// A line decodes to the count its first character gives, or to nothing when that count does not
// fit (or the line is blank); never to more than the capacity.
void decodeWithCapacity(const char* line, size_t capacity) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity > 0 ? capacity : 1]);
    size_t decoded = NXPSerialClass::uudecode(buffer.get(), capacity, line);
    size_t claimed = (static_cast<uint8_t>(line[0]) - 32u) & 0x3F;
    bool fits = !isLineEnd(line[0]) && claimed <= capacity;
    check(decoded == (fits ? claimed : 0));
}

// A return code is read only from within the line (given here without its NUL) and is always one
// the error table can name.
void readReturnCode(const char* line, size_t length) {
    std::unique_ptr<char[]> exact(new char[length > 0 ? length : 1]);
    memcpy(exact.get(), line, length);
    size_t index = NXPSerialClass::GetErrorIndex(exact.get(), length);
    int code = NXPSerialClass::ReturnCodeOf(exact.get(), length);
    check(index <= length);
    check(code == NXPSerialClass::NO_RETURN_CODE ||
          (code >= 0 && code <= NXPSerialClass::MAX_ERROR && index < length));
    check(NXPSerialClass::GetErrorText(line) != nullptr);
}

void decodeMemoryRead(const uint8_t* data, size_t size, uint32_t count) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[count]);
    uint32_t received = 0;
    size_t position = 0;
    while (position < size) {
        char line[kDataLineSize];
        nextLine(data, size, &position, line, sizeof line);
        received += static_cast<uint32_t>(
            NXPSerialClass::uudecode(buffer.get() + received, count - received, line));
        check(received <= count);
        NXPSerialClass::sum(buffer.get(), received);
    }
}

void readEveryLine(const uint8_t* data, size_t size, size_t capacity) {
    size_t position = 0;
    while (position < size) {
        char line[kCodeLineSize];
        size_t length = nextLine(data, size, &position, line, sizeof line);
        readReturnCode(line, length);
        NXPSerialClass::DeviceIDWordOf(line);
        decodeWithCapacity(line, capacity);
    }
}

void roundTrip(const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
        std::unique_ptr<char[]> encoded(new char[kEncodedLineSize]);
        size_t used = NXPSerialClass::uuencode(encoded.get(), data + done, size - done);
        size_t expected = size - done < NXPSerialClass::MAX_BYTES_PER_LINE
                              ? size - done
                              : NXPSerialClass::MAX_BYTES_PER_LINE;
        check(used == expected && strlen(encoded.get()) == 1 + (used + 2) / 3 * 4);
        uint8_t decoded[NXPSerialClass::MAX_BYTES_PER_LINE];
        check(NXPSerialClass::uudecode(decoded, sizeof decoded, encoded.get()) == used);
        check(memcmp(decoded, data + done, used) == 0);
        done += used;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    logIntoNothing(DEBUG_NXPSerial);
    size_t capacity = data[0] & 0x3F;
    uint32_t readSize = kReadSizes[data[0] >> 6];
    readEveryLine(data + 1, size - 1, capacity);
    decodeMemoryRead(data + 1, size - 1, readSize);
    roundTrip(data + 1, size - 1);
    return 0;
}
