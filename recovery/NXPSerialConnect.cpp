// Opening the serial port and the bootloader's autobaud handshake.
#include <cstdio>
#include <cstring>

#include "Log.h"
#include "NXPSerialClass.h"
#include "NXPSerialTrace.h"
#include "unix_streamserial.h"

namespace {

constexpr size_t kPortNameLimit = 2047;
constexpr char kSynchronized[] = "Synchronized\r\n";
constexpr char kOk[] = "OK\r\n";
// Lines read after the probe's line end before deciding that no return code is coming.
constexpr int kProbeLines = 3;
constexpr int kLineRetries = 100;

bool startsWith(const char* reply, size_t length, const char* prefix) {
    size_t prefixLength = strlen(prefix);
    return length >= prefixLength && memcmp(reply, prefix, prefixLength) == 0;
}

}  // namespace

const uint32_t NXPSerialClass::CONNECT_RATES[CONNECT_RATE_COUNT] = {2400,  4800,  9600,   19200,
                                                                    38400, 57600, 115200, 230400};

NXPSerialClass::~NXPSerialClass() {
    Disconnect();
}

int NXPSerialClass::ConnectRateIndex(uint32_t baud) {
    for (size_t i = 0; i < CONNECT_RATE_COUNT; ++i) {
        if (CONNECT_RATES[i] >= baud) {
            return static_cast<int>(i);
        }
    }
    return DEFAULT_RATE_INDEX;
}

qErr NXPSerialClass::Connect(const std::string& port, uint32_t baud) {
    Disconnect();
    int index = ConnectRateIndex(baud);
    baudRate_ = CONNECT_RATES[index];
    Log::log(DEBUG_NXPSerial, "Creating serial connection: [%s] stream baud:%d(%d)\n", port.c_str(),
             index, static_cast<int>(baudRate_));
    qErr err = qStream_CreateSerial(port.c_str(), index, 0, 0, 0, &stream_);
    if (err != qErrNone) {
        stream_ = nullptr;
        Log::log(DEBUG_NXPSerial, "Error Creating Serial [%s] ==> %s", port.c_str(),
                 qError_GetErrorText(err));
        return err;
    }
    std::string name = port.substr(0, kPortNameLimit);
    if (name != portName_) {
        portName_ = name;
    }
    return qErrNone;
}

qErr NXPSerialClass::Disconnect() {
    if (stream_ != nullptr) {
        qStream_Destroy(&stream_);
        stream_ = nullptr;
    }
    return qErrNone;
}

qErr NXPSerialClass::Sync() {
    qErr err = Send("?", false);
    if (err != qErrNone) {
        return err;
    }
    char reply[64];
    size_t length = 0;
    err = Response(reply, sizeof reply, &length, kSynchronized, strlen(kSynchronized));
    if (startsWith(reply, length, kSynchronized)) {
        return SyncHandshake();
    }
    if (ProbeSynchronized()) {
        Log::log(DEBUG_NXPSerial, "Device already synchronized, \"?\" taken as a command\n");
        return qErrNone;
    }
    if (err != qErrNone) {
        Log::log(DEBUG_NXPSerial,
                 "Did not receive correct response to opening sync command: [%s]. Response: "
                 "[%s]\n",
                 qError_GetErrorText(err), nxpPrintableText(reply, length).c_str());
        return err;
    }
    Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s]\n",
             nxpPrintableText(reply, length).c_str());
    return SyncHandshake();
}

bool NXPSerialClass::ProbeSynchronized() {
    // A bootloader that finished the handshake in an earlier session reads "?" as the start of a
    // command line: ending that line makes it answer with a return code (INVALID_COMMAND), which
    // an unsynchronised one never sends.
    if (Send("\r\n", false) != qErrNone) {
        return false;
    }
    for (int i = 0; i < kProbeLines; ++i) {
        char line[64];
        size_t length = 0;
        GetLine(line, sizeof line, &length, kLineRetries);
        if (length == 0) {
            return false;
        }
        if (GetErrorIndex(line, length) < length) {
            return true;
        }
        if (strspn(line, "\r\n ") != length) {
            return false;
        }
    }
    return false;
}

qErr NXPSerialClass::SyncHandshake() {
    qErr err = Send(kSynchronized, true);
    if (err != qErrNone) {
        return err;
    }
    char reply[64];
    size_t length = 0;
    Response(reply, sizeof reply, &length, kOk, strlen(kOk));
    if (!startsWith(reply, length, "OK")) {
        Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s] != [%s]\n",
                 nxpPrintableText(reply, length).c_str(), nxpPrintableText(kOk).c_str());
        return qErrIO;
    }
    char crystal[32];
    snprintf(crystal, sizeof crystal, "%d\r\n",
             static_cast<int>(0.5 + static_cast<double>(CRYSTAL_DEFAULT) * 1000));
    err = Send(crystal, true);
    if (err != qErrNone) {
        return err;
    }
    return Response(reply, sizeof reply, &length, kOk, strlen(kOk));
}
