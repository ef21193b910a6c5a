// Writing to the chip's RAM: uuencoded lines of 45 bytes, a checksum after every 20 lines and
// after the last, each answered "OK" or "RESEND".
#include <cstdio>
#include <cstring>
#include <vector>

#include "Log.h"
#include "NXPSerialClass.h"
#include "NXPSerialTrace.h"
#include "unix_time.h"

namespace {

// The chip decodes and sums 20 lines before it answers a checksum.
constexpr int kChecksumRetries = 2000;
constexpr int kBlankLinesSkipped = 3;
constexpr uint8_t kErasedByte = 0xFF;

// The reply without line ends that an echo left in front of it.
const char* replyText(const char* line) {
    return line + strspn(line, "\r\n");
}

double percentOf(uint32_t part, uint32_t whole) {
    return whole == 0 ? 100.0 : 100.0 * part / whole;
}

}  // namespace

qErr NXPSerialClass::ReadContentLine(char* line, size_t size, size_t* length, int retries) {
    qErr err = qErrNone;
    for (int blank = 0; blank <= kBlankLinesSkipped; ++blank) {
        err = GetLine(line, size, length, retries);
        if (*length == 0 || strspn(line, "\r\n ") != *length) {
            return err;
        }
    }
    return err;
}

qErr NXPSerialClass::WriteLines(const uint8_t* data, uint32_t from, uint32_t count,
                                uint32_t* position) {
    *position = from;
    for (uint32_t line = 0; line < LINES_PER_CHECKSUM && *position < count; ++line) {
        char text[MAX_BYTES_PER_LINE / 3 * 4 + 2];
        size_t used = uuencode(text, data + *position, count - *position);
        qErr err = Send(text, echo_);
        if (err == qErrNone) {
            err = Send("\r\n", echo_);
        }
        if (err != qErrNone) {
            return err;
        }
        *position += static_cast<uint32_t>(used);
    }
    return qErrNone;
}

qErr NXPSerialClass::WriteChecksum(const uint8_t* data, uint32_t from, uint32_t to, char* reply,
                                   size_t size) {
    uint32_t checksum = sum(data + from, to - from);
    Log::log(DEBUG_NXPSerial, "Write() Checksum: %08X (%d)\n", checksum,
             static_cast<int>(checksum));
    char text[32];
    snprintf(text, sizeof text, "%u\r\n", checksum);
    qErr err = Send(text, echo_);
    if (err != qErrNone) {
        return err;
    }
    uint64_t start = qTime_GetMSTicks();
    size_t length = 0;
    ReadContentLine(reply, size, &length, kChecksumRetries);
    Log::log(DEBUG_NXPSerial_E, "Write() waited for checksum %d ms\n",
             static_cast<int>(qTime_GetMSTicks() - start));
    return qErrNone;
}

qErr NXPSerialClass::Write(uint32_t ramAddress, uint32_t count, const uint8_t* data) {
    qErr err = StartTransfer('W', ramAddress, count, data, "Write() ");
    if (err != qErrNone) {
        return err;
    }
    int retries = MAX_READ_RETRY;
    uint32_t acknowledged = 0;
    while (acknowledged < count) {
        uint32_t position = acknowledged;
        err = WriteLines(data, acknowledged, count, &position);
        char reply[64];
        if (err == qErrNone) {
            err = WriteChecksum(data, acknowledged, position, reply, sizeof reply);
        }
        if (err != qErrNone) {
            return err;
        }
        if (strcmp(replyText(reply), "OK\r\n") == 0) {
            acknowledged = position;
            Log::log(DEBUG_NXPSerial, "Write() valid transfer of %d of %d (%.0f%%) bytes\n",
                     static_cast<int>(acknowledged), static_cast<int>(count),
                     percentOf(acknowledged, count));
        } else if (strcmp(replyText(reply), "RESEND\r\n") == 0) {
            if (--retries < 1) {
                Log::log(DEBUG_NXPSerial, "Write() exceeded retries\n");
                return qErrTimeout;
            }
        } else {
            Log::log(DEBUG_NXPSerial, "Write() unexpected response [%s]\n",
                     nxpPrintableText(reply).c_str());
            return qErrIO;
        }
    }
    return qErrNone;
}

qErr NXPSerialClass::Write(uint32_t ramAddress, uint32_t count, const uint8_t* data,
                           uint32_t paddedCount) {
    if (data == nullptr || paddedCount < count) {
        return qErrParam;
    }
    std::vector<uint8_t> padded(paddedCount, kErasedByte);
    memcpy(padded.data(), data, count);
    return Write(ramAddress, paddedCount, padded.data());
}
