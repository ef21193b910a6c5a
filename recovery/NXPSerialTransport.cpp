// Byte-level exchange with the ISP bootloader: commands, their echo, reply lines and return
// codes. The bootloader answers slowly and never on its own, so echoes and lines are read one
// byte at a time and given up after a bounded number of empty reads, each of which waits a
// little on the line.
#include <cstdio>
#include <cstring>
#include <string>

#include "Log.h"
#include "NXPSerialClass.h"
#include "NXPSerialTrace.h"
#include "unix_time.h"

namespace {

// Empty reads an echo may take before it is given up.
constexpr int kEchoEmptyReads = 100;
// An empty read of an echo or a line: the stream's own wait for the byte, then this pause.
constexpr uint32_t kEmptyReadMs = 1;
// Bytes that match nothing expected, beyond the echo's own length, before an echo is given up:
// a line that chatters on cannot hold the reader.
constexpr size_t kEchoStrayBytes = 512;
// Leading line ends and zero bytes a reply may start with before it is given up.
constexpr size_t kResponseLeadingBytes = 256;
// Retries of one line read, and lines without a number tolerated before a return code.
constexpr int kLineRetries = 100;
constexpr int kBlankLinesBeforeCode = 4;
// Each line read with kLineRetries empty reads lasts at least this long on a silent line.
constexpr uint32_t kLineReadMinimumMs = 100;

bool endsLine(const char* buffer, size_t length) {
    return length >= 2 && buffer[length - 2] == '\r' && buffer[length - 1] == '\n';
}

bool isBlank(const char* line, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (line[i] != '\r' && line[i] != '\n' && line[i] != ' ') {
            return false;
        }
    }
    return true;
}

}  // namespace

qErr NXPSerialClass::ReadByte(uint8_t* byte, uint32_t waitMs) {
    if (stream_ == nullptr) {
        return qErrConnection;
    }
    qErr err = qErrNone;
    return qStream_ReadWithin(stream_, byte, 1, waitMs, &err) == 1 ? qErrNone : err;
}

qErr NXPSerialClass::WriteText(const char* label, const char* text, size_t length) {
    Log::log(DEBUG_NXPSerial_SR, "%s:[%s] [%s]\n", label, nxpHexText(text, length).c_str(),
             nxpPrintableText(text, length).c_str());
    qErr err = stream_ == nullptr
                   ? qErrConnection
                   : qStream_Write(stream_, reinterpret_cast<const uint8_t*>(text), length);
    if (err != qErrNone) {
        Log::log(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", qError_GetErrorText(err));
    }
    return err;
}

qErr NXPSerialClass::Send(const char* text, bool readEcho) {
    size_t length = strlen(text);
    qErr err = WriteText("Send", text, length);
    if (err != qErrNone) {
        return err;
    }
    if (readEcho && length > 1) {
        size_t received = 0;
        GetEcho(text, length - 1, &received);
    }
    return err;
}

qErr NXPSerialClass::SendCommand(const char* command, uint32_t waitMs) {
    size_t length = strlen(command);
    qErr err = WriteText("Sending", command, length);
    if (err != qErrNone) {
        Log::log(DEBUG_NXPSerial, "Error Write Serial [%s]\n", qError_GetErrorText(err));
        return err;
    }
    if (waitMs > 0) {
        Log::log(DEBUG_NXPSerial_E, "SendCommand() wait for command completion [%d ms]\n",
                 static_cast<int>(waitMs));
        qTime_MSSleep(waitMs);
    }
    // The final "\n" of the echo stays in the stream; the next line read skips it.
    if (echo_ && length > 1) {
        size_t received = 0;
        GetEcho(command, length - 1, &received);
        if (received < length - 1) {
            Log::log(DEBUG_NXPSerial, "Error SendCommand() bad echo [%d!=%d]\n",
                     static_cast<int>(received), static_cast<int>(length - 1));
        }
    }
    return qErrNone;
}

qErr NXPSerialClass::GetEcho(const char* expected, size_t count, size_t* received) {
    size_t matched = 0;
    size_t strays = 0;
    int emptyReads = 0;
    std::string seen;
    qErr err = qErrNone;
    while (matched < count && emptyReads < kEchoEmptyReads && strays < count + kEchoStrayBytes) {
        uint8_t byte = 0;
        err = ReadByte(&byte, kEmptyReadMs);
        if (err != qErrNone) {
            ++emptyReads;
            continue;
        }
        seen += static_cast<char>(byte);
        if (byte == static_cast<uint8_t>(expected[matched])) {
            ++matched;
        } else {
            ++strays;
            Log::log(DEBUG_NXPSerial_E, " %.2X!=%.2X", byte,
                     static_cast<uint8_t>(expected[matched]));
        }
    }
    Log::log(DEBUG_NXPSerial_E, "GetEcho() Received: [%s] [%s] %d of %d\n",
             nxpHexText(seen.data(), seen.size()).c_str(),
             nxpPrintableText(seen.data(), seen.size()).c_str(), static_cast<int>(matched),
             static_cast<int>(count));
    if (received != nullptr) {
        *received = matched;
    }
    return err;
}

qErr NXPSerialClass::GetLine(char* buffer, size_t size, size_t* length, int retries) {
    size_t stored = 0;
    int left = retries;
    qErr err = qErrNone;
    while (stored + 1 < size && left > 0) {
        uint8_t byte = 0;
        err = ReadByte(&byte, kEmptyReadMs);
        if (err != qErrNone) {
            --left;
            Log::log(DEBUG_NXPSerial_E, ".");
            continue;
        }
        if (stored == 0 && byte == '\n') {
            --left;
            Log::log(DEBUG_NXPSerial_E, ",");
            qTime_MSSleep(1);
            continue;
        }
        buffer[stored++] = static_cast<char>(byte);
        if (endsLine(buffer, stored)) {
            break;
        }
    }
    if (size > 0) {
        buffer[stored] = '\0';
    }
    *length = stored;
    Log::log(DEBUG_NXPSerial_SR, "GetLine() Received: [%s] [%s] %d %s [%s]\n",
             nxpHexText(buffer, stored).c_str(), nxpPrintableText(buffer, stored).c_str(),
             static_cast<int>(stored), endsLine(buffer, stored) ? "term" : "non-term",
             qError_GetErrorText(err));
    return err;
}

qErr NXPSerialClass::Response(char* buffer, size_t size, size_t* length, const char* expected,
                              size_t expectedLength) {
    size_t want = expected != nullptr ? expectedLength : size - 1;
    if (want > size - 1) {
        want = size - 1;
    }
    uint32_t waitMs = WAIT_TIME_MS(static_cast<uint32_t>(expectedLength), baudRate_) + 20;
    Log::log(DEBUG_NXPSerial_E, "Response() wait for serial [%d bytes, %d, %d ms]\n",
             static_cast<int>(want), static_cast<int>(baudRate_), static_cast<int>(waitMs));
    qTime_MSSleep(waitMs);

    size_t stored = 0;
    size_t skipped = 0;
    qErr err = qErrNone;
    while (stored < want) {
        uint8_t byte = 0;
        // The reply had its time on the line already: the first read that finds nothing ends it.
        err = ReadByte(&byte, 0);
        if (err != qErrNone) {
            break;
        }
        if (stored == 0 && (byte == '\n' || byte == '\r' || byte == 0)) {
            Log::log(DEBUG_NXPSerial_E, byte == '\n'   ? "Response ignoring leading \\n\n"
                                        : byte == '\r' ? "Response ignoring leading \\r\n"
                                                       : "Response ignoring leading 0 byte\n");
            if (++skipped >= kResponseLeadingBytes) {
                err = qErrIO;
                break;
            }
            continue;
        }
        buffer[stored++] = static_cast<char>(byte);
        if (expected != nullptr && byte != static_cast<uint8_t>(expected[stored - 1])) {
            Log::log(DEBUG_NXPSerial,
                     "Error Test_Serial_Response() Expected byte %d does not match [[%02X] %c != "
                     "%c [%02X]]\n",
                     static_cast<int>(stored - 1), byte, byte, expected[stored - 1],
                     static_cast<uint8_t>(expected[stored - 1]));
        }
        if (endsLine(buffer, stored)) {
            break;
        }
    }
    buffer[stored] = '\0';
    *length = stored;
    Log::log(DEBUG_NXPSerial_SR, "Response() Received: [%s] [%s] [%s]\n",
             nxpHexText(buffer, stored).c_str(), nxpPrintableText(buffer, stored).c_str(),
             qError_GetErrorText(err));
    return err;
}

int NXPSerialClass::ReadReturnCode(uint32_t waitMs) {
    // Erasing and copying keep the chip busy before it answers: keep reading lines until the
    // answer comes or the wait allowed for the command is over. The clock bounds the wait; the
    // attempt count bounds it even when the clock cannot be read.
    const uint64_t deadline = qTime_GetMSTicks() + waitMs;
    const uint32_t attempts = waitMs / kLineReadMinimumMs + 1;
    int blankLines = 0;
    for (uint32_t attempt = 0; attempt < attempts && blankLines < kBlankLinesBeforeCode;) {
        char line[64];
        size_t length = 0;
        GetLine(line, sizeof line, &length, kLineRetries);
        if (length == 0) {
            ++attempt;
            if (qTime_GetMSTicks() >= deadline) {
                break;
            }
            continue;
        }
        int code = ReturnCodeOf(line, length);
        if (code != NO_RETURN_CODE) {
            return code;
        }
        if (!isBlank(line, length)) {
            Log::log(DEBUG_NXPSerial, "Error no return code in [%s]\n",
                     nxpPrintableText(line, length).c_str());
            return NO_RETURN_CODE;
        }
        ++blankLines;
    }
    Log::log(DEBUG_NXPSerial, "Error no return code received\n");
    return NO_RETURN_CODE;
}

qErr NXPSerialClass::StartTransfer(char command, uint32_t address, uint32_t count,
                                   const void* bytes, const char* logPrefix) {
    if (count == 0 || count % 4 != 0 || bytes == nullptr) {
        return qErrParam;
    }
    char text[48];
    snprintf(text, sizeof text, "%c %u %u\r\n", command, address, count);
    int code = NO_RETURN_CODE;
    qErr err = Command(text, &code, 0, logPrefix);
    if (err == qErrNone && code != 0) {
        Log::log(DEBUG_NXPSerial, "%sError response ==>[%s]\n", logPrefix, ReturnCodeText(code));
        return qErrParam;
    }
    return err;
}

qErr NXPSerialClass::Command(const char* command, int* code, uint32_t waitMs,
                             const char* errorPrefix) {
    *code = NO_RETURN_CODE;
    qErr err = SendCommand(command, 0);
    if (err != qErrNone) {
        Log::log(DEBUG_NXPSerial, "%sError Sending command [%s] [%s]\n", errorPrefix,
                 nxpPrintableText(command).c_str(), qError_GetErrorText(err));
        return err;
    }
    *code = ReadReturnCode(waitMs);
    Log::log(DEBUG_NXPSerial, "Command [%s] returned %d\n", nxpPrintableText(command).c_str(),
             *code);
    return qErrNone;
}
