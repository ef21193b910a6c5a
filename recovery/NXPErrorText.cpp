// Return codes of the ISP commands and how their reply lines are read.
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "NXPSerialClass.h"

const char* const NXPSerialClass::ERROR_TEXT[MAX_ERROR + 1] = {
    "CMD_SUCCESS",         "INVALID_COMMAND",
    "SRC_ADDR_ERROR",      "DST_ADDR_ERROR",
    "SRC_ADDR_NOT_MAPPED", "DST_ADDR_NOT_MAPPED",
    "COUNT_ERROR",         "INVALID_SECTOR",
    "SECTOR_NOT_BLANK",    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
    "COMPARE_ERROR",       "BUSY",
    "PARAM_ERROR",         "ADDR_ERROR",
    "ADDR_NOT_MAPPED",     "CMD_LOCKED",
    "INVALID_CODE",        "INVALID_BAUD_RATE",
    "INVALID_STOP_BIT",    "CODE_READ_PROTECTION_ENABLED",
    "Unknown error",
};

const char* NXPSerialClass::GetErrorText(const char* line) {
    if (line == nullptr) {
        return ERROR_TEXT[MAX_ERROR];
    }
    errno = 0;
    long code = strtol(line, nullptr, 0);
    if (errno != 0 || code < 0 || code > MAX_ERROR) {
        return ERROR_TEXT[MAX_ERROR];
    }
    return ERROR_TEXT[code];
}

size_t NXPSerialClass::GetErrorIndex(const char* line, size_t lineLength) {
    if (line == nullptr) {
        return lineLength;
    }
    size_t end = lineLength;
    while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' ')) {
        --end;
    }
    size_t start = end;
    while (start > 0 && isdigit(static_cast<unsigned char>(line[start - 1]))) {
        --start;
    }
    // The code stands alone: at the start of the line or after the line end of an echo that the
    // bootloader sent before it. Digits glued to other text are not a return code.
    bool alone = start == 0 || line[start - 1] == '\r' || line[start - 1] == '\n';
    return start < end && alone ? start : lineLength;
}

int NXPSerialClass::ReturnCodeOf(const char* line, size_t lineLength) {
    size_t index = GetErrorIndex(line, lineLength);
    if (index >= lineLength) {
        return NO_RETURN_CODE;
    }
    // The digits are read only within the line: a line cut at the buffer's end need not be
    // terminated there.
    int code = 0;
    for (size_t i = index; i < lineLength && isdigit(static_cast<unsigned char>(line[i])); ++i) {
        code = code > MAX_ERROR ? code : code * 10 + (line[i] - '0');
    }
    return code > MAX_ERROR ? MAX_ERROR : code;
}

uint32_t NXPSerialClass::DeviceIDWordOf(const char* line) {
    return line == nullptr ? 0 : static_cast<uint32_t>(strtoul(line, nullptr, 0));
}
