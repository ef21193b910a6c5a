#include "qError.h"

namespace {

struct ErrorEntry {
    const char* name;
    const char* description;
};

constexpr ErrorEntry kErrors[] = {
    {"qErrNone", "Success, no error"},
    {"qErrMemory", "Memory allocation"},
    {"qErrParam", "Invalid parameter"},
    {"qErrNotFound", "Not found"},
    {"qErrFileNameLength", "File name too long"},
    {"qErrBusy", "Resource busy"},
    {"qErrIO", "Input/Output error"},
    {"qErrMode", "Invalid Mode"},
    {"qErrWrite", "Write error"},
    {"qErrRead", "Read error"},
    {"qErrEOF", "End of file"},
    {"qErrNotReady", "Not ready, no bytes available"},
    {"qErrPermission", "Insufficient permissions"},
    {"qErrRange", "Value out of range"},
    {"qErrSize", "Invalid Size"},
    {"qErrOverrun", "Buffer/queue overrun"},
    {"qErrParse", "Parse error"},
    {"qErrConfiguration", "Configuration error"},
    {"qErrTimeout", "Timeout occurred"},
    {"qErrInitialization", "Initialization error"},
    {"qErrVersion", "Invalid version"},
    {"qErrUnimplemented", "Functionality unimplemented"},
    {"qErrDuplicate", "Duplicate request"},
    {"qErrCancel", "Cancellation occurred, or did not complete"},
    {"qErrPacket", "Packet byte invalid"},
    {"qErrConnection", "Connection error"},
    {"qErrIndexRange", "Index out of range"},
    {"qErrShortCommand", "Zendrival command to short"},
    {"qErrInvalidEntity", "Invalid entity error"},
    {"qErrInvalidOption", "Invalid option code"},
    {"qErrResource", "Resource unavailable"},
    {"qErrMedia", "Media error"},
    {"qErrAsyncReturn", "Asynchronous return error"},
    {"qErrStreamStale", "Stream value is stale"},
    {"qErrUnknown", "Unknown error"},
};

const ErrorEntry& entryFor(unsigned code) {
    return code > qErrUnknown ? kErrors[qErrUnknown] : kErrors[code];
}

}  // namespace

const char* qError_GetErrorText(unsigned code) {
    return entryFor(code).name;
}

const char* qError_GetErrorDescription(unsigned code) {
    return entryFor(code).description;
}
