// Creating links for each transport. A second creation for the same module hands back the
// existing link and counts one more user; a failed creation leaves nothing behind.
#include "qLink.h"

#include <cstring>

#include "qDebugging.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkTransport.h"

namespace {

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
qLinkID startNewLink(const qLinkEntry& entry, qStream* stream, bool synchronise) {
    qLinkID id = entry.id;
    bool started = qLink_Init(id, stream) != 0 && qLinkManager_AddUser(id) &&
                   qLink_Start(id) == qErrNone && (!synchronise || qLink_Sync(id) == qErrNone);
    if (!started) {
        qDebug_Print(qDEBUG_LINK, "qLink(%u) could not be started\n", id);
        qLink_Destroy(&id);
        return 0;
    }
    return id;
}

}  // namespace

qLinkID qLink_CreateUSB(uint32_t serialNumber) {
    return qLink_CreateFromSpec(qLinkSpec_Of(linkTypeUSB, serialNumber));
}

qLinkID qLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint32_t port) {
    linkSpec spec = qLinkSpec_Of(linkTypeTCPIP, serialNumber);
    spec.ipAddress = address;
    spec.port = port;
    return qLink_CreateFromSpec(spec);
}

qLinkID qLink_CreateSerial(uint32_t serialNumber, const char* path, uint32_t baud) {
    linkSpec spec = qLinkSpec_Of(linkTypeSerial, serialNumber);
    spec.baudRate = baud;
    if (path != nullptr) {
        const size_t length = strlen(path);
        // The link keeps the path in its spec, so a longer one could only name another port.
        if (length > sizeof spec.devicePath) {
            return 0;
        }
        memcpy(spec.devicePath, path, length);
    }
    return qLink_CreateFromSpec(spec);
}

qLinkID qLink_CreateFromSpec(const linkSpec& spec) {
    qLinkID id = 0;
    if (reuseExisting(spec.type, spec.serialNumber, &id)) {
        return id;
    }
    const qLinkTransport* transport = qLinkTransport_Find(spec.type);
    if (transport == nullptr || transport->createStream == nullptr) {
        return 0;
    }
    qLinkEntryRef entry = qLinkManager_AddEntry(spec);
    if (entry == nullptr) {
        return 0;
    }
    qStream* stream = nullptr;
    if (transport->createStream(spec, &stream) != qErrNone) {
        // An entry whose stream could not be made goes again at once.
        id = entry->id;
        qLink_Destroy(&id);
        return 0;
    }
    return startNewLink(*entry, stream, transport->syncOnCreate);
}

qLinkID qLink_Create(qStream* stream) {
    if (!qVALIDSTREAM(stream)) {
        return 0;
    }
    qLinkEntryRef entry = qLinkManager_AddEntry(linkSpec{});
    if (entry == nullptr) {
        qStream_Destroy(&stream);
        return 0;
    }
    return startNewLink(*entry, stream, false);
}
