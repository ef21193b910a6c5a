// Creating links for each transport. A second creation for the same module hands back the
// existing link and counts one more user; a failed creation leaves nothing behind.
#include "qLink.h"

#include "qDebugging.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkSpec.h"
#include "qStreamsocket.h"
#include "unix_streamserial.h"
#include "unix_streamusb.h"

namespace {

// Serial line rates a module supports, in the order of the serial stream's baud codes.
constexpr uint32_t kSerialRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

bool baudCodeOf(uint32_t baud, int* code) {
    for (size_t i = 0; i < sizeof kSerialRates / sizeof kSerialRates[0]; ++i) {
        if (kSerialRates[i] == baud) {
            *code = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

// The existing link for this module, if any. A link published by a link server must be reached
// through that server instead.
bool reuseExisting(uint32_t type, uint32_t serialNumber, qLinkID* id) {
    *id = 0;
    switch (qLinkManager_ReuseEntry(type, serialNumber, id)) {
        case qLinkReuse::Reused:
            return true;
        case qLinkReuse::ServesServer:
            qDebug_Print(qDEBUG_LINK,
                         "This device is already being used as a \"SERVER\". \nYou must connect "
                         "by \"CLIENT\" \n");
            return true;
        case qLinkReuse::None:
            break;
    }
    return false;
}

// Makes the new entry's link run over the stream; the stream belongs to the link from here on.
qLinkID startNewLink(qLinkEntry* entry, qStream* stream, bool synchronise) {
    qLinkID id = entry->id;
    bool started = qLink_Init(id, stream) != 0 && qLinkManager_AddUser(id) &&
                   qLink_Start(id) == qErrNone && (!synchronise || qLink_Sync(id) == qErrNone);
    if (!started) {
        qDebug_Print(qDEBUG_LINK, "qLink(%u) could not be started\n", id);
        qLink_Destroy(&id);
        return 0;
    }
    return id;
}

// An entry whose stream could not be made: it goes again at once.
qLinkID abandon(qLinkEntry* entry) {
    qLinkID id = entry->id;
    qLink_Destroy(&id);
    return 0;
}

}  // namespace

qLinkID qLink_CreateUSB(uint32_t serialNumber) {
    qLinkID id = 0;
    if (reuseExisting(linkTypeUSB, serialNumber, &id)) {
        return id;
    }
    qLinkEntry* entry = qLinkManager_AddEntry(linkTypeUSB, serialNumber, 0, 0);
    if (entry == nullptr) {
        return 0;
    }
    qStream* stream = nullptr;
    if (qStream_CreateUSB(serialNumber, &stream) != qErrNone) {
        return abandon(entry);
    }
    // Over USB the first bytes may be the tail of whatever the module sent before: find the
    // packet boundaries before anyone relies on them.
    return startNewLink(entry, stream, true);
}

qLinkID qLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint32_t port) {
    qLinkID id = 0;
    if (reuseExisting(linkTypeTCPIP, serialNumber, &id)) {
        return id;
    }
    qLinkEntry* entry = qLinkManager_AddEntry(linkTypeTCPIP, serialNumber, address, port);
    if (entry == nullptr) {
        return 0;
    }
    qStream* stream = nullptr;
    if (qStream_CreateSocket(address, port, &stream) != qErrNone) {
        return abandon(entry);
    }
    return startNewLink(entry, stream, false);
}

qLinkID qLink_CreateSerial(uint32_t serialNumber, const char* path, uint32_t baud) {
    qLinkID id = 0;
    if (reuseExisting(linkTypeSerial, serialNumber, &id)) {
        return id;
    }
    int baudCode = 0;
    if (path == nullptr || !baudCodeOf(baud, &baudCode)) {
        return 0;
    }
    qLinkEntry* entry = qLinkManager_AddEntry(linkTypeSerial, serialNumber, 0, 0);
    if (entry == nullptr) {
        return 0;
    }
    qStream* stream = nullptr;
    if (qStream_CreateSerial_Packetized(path, baudCode, 0, 0, 0, &stream) != qErrNone) {
        return abandon(entry);
    }
    return startNewLink(entry, stream, false);
}

qLinkID qLink_Create(qStream* stream) {
    if (!qVALIDSTREAM(stream)) {
        return 0;
    }
    qLinkEntry* entry = qLinkManager_AddEntry(linkTypeNone, 0, 0, 0);
    if (entry == nullptr) {
        qStream_Destroy(&stream);
        return 0;
    }
    return startNewLink(entry, stream, false);
}
