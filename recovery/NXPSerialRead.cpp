// Reading the chip's memory: the chip sends uuencoded lines and a checksum after every 20 lines
// and after the last; the host answers "OK" or asks for the block again with "RESEND".
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Log.h"
#include "NXPSerialClass.h"
#include "NXPSerialTrace.h"

namespace {

constexpr int kLineRetries = 100;
constexpr size_t kLineSize = 128;

double percentOf(uint32_t part, uint32_t whole) {
    return whole == 0 ? 100.0 : 100.0 * part / whole;
}

}  // namespace

qErr NXPSerialClass::ReadLines(uint8_t* buffer, uint32_t count, uint32_t* received) {
    for (uint32_t line = 0; line < LINES_PER_CHECKSUM && *received < count; ++line) {
        char text[kLineSize];
        size_t length = 0;
        ReadContentLine(text, sizeof text, &length, kLineRetries);
        if (length == 0) {
            Log::log(DEBUG_NXPSerial, "Read() no data from device after %d of %d bytes\n",
                     static_cast<int>(*received), static_cast<int>(count));
            return qErrTimeout;
        }
        *received += static_cast<uint32_t>(uudecode(buffer + *received, count - *received, text));
    }
    return qErrNone;
}

qErr NXPSerialClass::AcknowledgeRead(bool complete) {
    qErr err = Send("OK\r\n", false);
    // Only a bootloader that echoes sends the "OK" back.
    if (err == qErrNone && echo_) {
        char echo[16];
        size_t length = 0;
        Response(echo, sizeof echo, &length, "OK\r\n", complete ? 4 : 3);
    }
    return err;
}

qErr NXPSerialClass::Read(uint32_t address, uint32_t count, uint8_t* buffer) {
    qErr err = StartTransfer('R', address, count, buffer, "");
    if (err != qErrNone) {
        return err;
    }
    int retries = MAX_READ_RETRY;
    uint32_t acknowledged = 0;
    while (acknowledged < count) {
        uint32_t received = acknowledged;
        err = ReadLines(buffer, count, &received);
        if (err != qErrNone) {
            return err;
        }
        char line[kLineSize];
        size_t length = 0;
        ReadContentLine(line, sizeof line, &length, kLineRetries);
        if (length == 0) {
            Log::log(DEBUG_NXPSerial, "Read() no checksum from device\n");
            return qErrTimeout;
        }
        uint32_t expected = static_cast<uint32_t>(strtoul(line, nullptr, 10));
        uint32_t actual = sum(buffer + acknowledged, received - acknowledged);
        // A block that brought no data cannot move the transfer on, whatever its checksum says.
        if (expected == actual && received > acknowledged) {
            err = AcknowledgeRead(received == count);
            if (err != qErrNone) {
                return err;
            }
            acknowledged = received;
            Log::log(DEBUG_NXPSerial, "valid receipt of %d of %d (%.0f%%) bytes\n",
                     static_cast<int>(acknowledged), static_cast<int>(count),
                     percentOf(acknowledged, count));
            continue;
        }
        Log::log(DEBUG_NXPSerial, "Read() checksum %u != %u\n", expected, actual);
        if (--retries < 1) {
            Log::log(DEBUG_NXPSerial, "Read() exceeded retries\n");
            return qErrTimeout;
        }
        err = Send("RESEND\r\n", echo_);
        if (err != qErrNone) {
            return err;
        }
    }
    return qErrNone;
}
