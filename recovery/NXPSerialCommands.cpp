// The single-line ISP commands: identification, echo, rate, unlock, prepare, erase, copy, go.
#include <cstdio>
#include <cstdlib>

#include "Log.h"
#include "NXPSerialClass.h"

namespace {

// The unlock code defined by the ISP command set.
constexpr int kUnlockCode = 23130;
constexpr int kLineRetries = 100;
// Erasing takes the chip about 100 ms per sector, copying a few ms per 256 bytes; the margin
// covers the line and a slow chip.
constexpr uint32_t kSectorBusyMs = 100;
constexpr uint32_t kBusyMarginMs = 2000;
constexpr uint32_t kValidCopyLengths[] = {256, 512, 1024, 4096};
constexpr uint32_t kFlashPageSize = 256;
constexpr size_t kDeviceIdLineSize = 32;
constexpr int kCompareError = 10;

bool isValidCopyLength(uint32_t count) {
    for (uint32_t length : kValidCopyLengths) {
        if (count == length) {
            return true;
        }
    }
    return false;
}

}  // namespace

const char* NXPSerialClass::ReturnCodeText(int code) {
    return code < 0 || code > MAX_ERROR ? ERROR_TEXT[MAX_ERROR] : ERROR_TEXT[code];
}

qErr NXPSerialClass::ReadIntegerLine(char* line, size_t size) {
    size_t length = 0;
    qErr err = GetLine(line, size, &length, kLineRetries);
    return length > 0 ? qErrNone : (err != qErrNone ? err : qErrNotReady);
}

qErr NXPSerialClass::GetBootLoaderVersion(uint8_t* major, uint8_t* minor) {
    int code = NO_RETURN_CODE;
    qErr err = Command("K\r\n", &code, 0);
    if (err != qErrNone) {
        return err;
    }
    char line[kDeviceIdLineSize];
    ReadIntegerLine(line, sizeof line);
    int majorValue = static_cast<int>(strtol(line, nullptr, 0));
    ReadIntegerLine(line, sizeof line);
    int minorValue = static_cast<int>(strtol(line, nullptr, 0));
    if (major != nullptr) {
        *major = static_cast<uint8_t>(majorValue);
    }
    if (minor != nullptr) {
        *minor = static_cast<uint8_t>(minorValue);
    }
    Log::log(DEBUG_NXPSerial, "Device responded with version: %d.%d\n", majorValue & 0xFF,
             minorValue & 0xFF);
    return qErrNone;
}

qErr NXPSerialClass::GetPartNumber(int64_t* partNumber) {
    int code = NO_RETURN_CODE;
    qErr err = Command("J\r\n", &code, 0);
    if (err != qErrNone) {
        return err;
    }
    char line[kDeviceIdLineSize];
    ReadIntegerLine(line, sizeof line);
    long long value = strtoll(line, nullptr, 0);
    if (partNumber != nullptr) {
        *partNumber = value;
    }
    Log::log(DEBUG_NXPSerial, "Device responded with part number: %lld\n", value);
    return qErrNone;
}

qErr NXPSerialClass::GetDeviceID() {
    int code = NO_RETURN_CODE;
    qErr err = Command("N\r\n", &code, 0);
    if (err != qErrNone) {
        return err;
    }
    for (int word = 0; word < 4; ++word) {
        char line[kDeviceIdLineSize];
        err = ReadIntegerLine(line, sizeof line);
        if (err != qErrNone) {
            Log::log(DEBUG_NXPSerial, "Error device ID word %d not received\n", word);
            return err;
        }
        deviceID_[word] = DeviceIDWordOf(line);
    }
    Log::log(DEBUG_NXPSerial, "Device responded with ID: %08X %08X %08X %08X\n", deviceID_[0],
             deviceID_[1], deviceID_[2], deviceID_[3]);
    return qErrNone;
}

qErr NXPSerialClass::SetEcho(bool on) {
    Log::log(DEBUG_NXPSerial, "Setting device echo %d\n", on ? 1 : 0);
    char command[16];
    snprintf(command, sizeof command, "A %d\r\n", on ? 1 : 0);
    int code = NO_RETURN_CODE;
    qErr err = Command(command, &code, 0);
    if (err != qErrNone) {
        return err;
    }
    if (code != 0) {
        return qErrParam;
    }
    echo_ = on;
    return qErrNone;
}

qErr NXPSerialClass::SetBaudRate(uint32_t baud) {
    char command[32];
    snprintf(command, sizeof command, "B %u %d\r\n", baud, 1);
    int code = NO_RETURN_CODE;
    qErr err = Command(command, &code, 0);
    if (err != qErrNone) {
        return err;
    }
    return code == 0 ? qErrNone : qErrParam;
}

qErr NXPSerialClass::Unlock() {
    char command[16];
    snprintf(command, sizeof command, "U %d\r\n", kUnlockCode);
    int code = NO_RETURN_CODE;
    qErr err = Command(command, &code, 0);
    if (err != qErrNone) {
        return err;
    }
    return code == 0 ? qErrNone : qErrParam;
}

qErr NXPSerialClass::SectorCommand(const char* command, uint32_t sectorCount) {
    int code = NO_RETURN_CODE;
    qErr err = Command(command, &code, sectorCount * kSectorBusyMs + kBusyMarginMs);
    if (err != qErrNone) {
        return err;
    }
    if (code != 0) {
        Log::log(DEBUG_NXPSerial, "Error response ==>[%s]\n", ReturnCodeText(code));
        return qErrParam;
    }
    return qErrNone;
}

qErr NXPSerialClass::Prepare(uint32_t firstSector, uint32_t lastSector) {
    if (lastSector < firstSector) {
        return qErrParam;
    }
    char command[48];
    snprintf(command, sizeof command, "P %u %u\r\n", firstSector, lastSector);
    return SectorCommand(command, lastSector - firstSector + 1);
}

qErr NXPSerialClass::Erase(uint32_t firstSector, uint32_t lastSector) {
    if (lastSector < firstSector) {
        return qErrParam;
    }
    char command[48];
    snprintf(command, sizeof command, "E %u %u\r\n", firstSector, lastSector);
    return SectorCommand(command, lastSector - firstSector + 1);
}

qErr NXPSerialClass::CopyToFlash(uint32_t flashAddress, uint32_t ramAddress, uint32_t count) {
    if (flashAddress % kFlashPageSize != 0 || !isValidCopyLength(count)) {
        return qErrParam;
    }
    char command[64];
    snprintf(command, sizeof command, "C %u %u %u\r\n", flashAddress, ramAddress, count);
    uint32_t first = SectorFromAddress(flashAddress);
    uint32_t last = SectorFromAddress(flashAddress + count - 1);
    return SectorCommand(command, last >= first ? last - first + 1 : 1);
}

qErr NXPSerialClass::Compare(uint32_t flashAddress, uint32_t ramAddress, uint32_t count,
                             uint32_t* differenceOffset) {
    if (differenceOffset != nullptr) {
        *differenceOffset = 0;
    }
    if (flashAddress % 4 != 0 || ramAddress % 4 != 0 || count == 0 || count % 4 != 0) {
        return qErrParam;
    }
    char command[64];
    snprintf(command, sizeof command, "M %u %u %u\r\n", flashAddress, ramAddress, count);
    int code = NO_RETURN_CODE;
    qErr err = Command(command, &code, 0);
    if (err != qErrNone) {
        return err;
    }
    if (code == 0) {
        return qErrNone;
    }
    if (code != kCompareError) {
        Log::log(DEBUG_NXPSerial, "Error response ==>[%s]\n", ReturnCodeText(code));
        return qErrParam;
    }
    char line[kDeviceIdLineSize];
    uint32_t offset = 0;
    if (ReadIntegerLine(line, sizeof line) == qErrNone) {
        offset = static_cast<uint32_t>(strtoul(line, nullptr, 10));
    }
    Log::log(DEBUG_NXPSerial, "Compare() flash 0x%08X differs from RAM at offset %u\n",
             flashAddress, offset);
    if (differenceOffset != nullptr) {
        *differenceOffset = offset;
    }
    return COMPARE_MISMATCH;
}

qErr NXPSerialClass::ExecuteFrom(uint32_t address) {
    char command[32];
    snprintf(command, sizeof command, "G %u T\r\n", address);
    qErr err = SendCommand(command, 0);
    if (err != qErrNone) {
        Log::log(DEBUG_NXPSerial, "Error Sending command [G %u T] [%s]\n", address,
                 qError_GetErrorText(err));
    }
    return err;
}
