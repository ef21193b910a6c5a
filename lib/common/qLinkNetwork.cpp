// Links that reach a module through a link server: client links, and putting a server in front
// of an open link. The server and its client stream belong to the network transport, which is
// not in this build: both creations fail cleanly, and a client link may still share an existing
// link by its id.
#include "qLink.h"

#include "qDebugging.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkSpec.h"

qErr qLink_CreateClientStream(uint32_t address, uint32_t port, qStream** stream) {
    (void)address;
    (void)port;
    (void)stream;
    return qErrUnimplemented;
}

qLinkID qLink_CreateClient(uint32_t address, uint32_t port, qLinkID ref) {
    if (ref != 0) {
        if (!qLinkManager_AddUser(ref)) {
            qDebug_Print(qDEBUG_LINK, "The provided ref is invalid.\n");
            return 0;
        }
        qDebug_Print(qDEBUG_LINK, "Using existing link - ConnectThroughLinkModule\n");
        return ref;
    }
    qLinkEntry* entry = qLinkManager_AddEntry(linkTypeNetworkClient, address, port,
                                              qLinkManager_NextClientCounter());
    if (entry == nullptr) {
        return 0;
    }
    qLinkID id = entry->id;
    qStream* stream = nullptr;
    if (qLink_CreateClientStream(address, port, &stream) != qErrNone ||
        qLink_Init(id, stream) == 0 || qLink_Start(id) != qErrNone || !qLinkManager_AddUser(id)) {
        qLink_Destroy(&id);
        return 0;
    }
    return id;
}

qLinkID qLink_CreateServer(qLinkID linkId, uint16_t* port, uint32_t* interface, bool localOnly) {
    (void)port;
    (void)interface;
    (void)localOnly;
    if (sLookupEntryByID(linkId) == nullptr) {
        qDebug_Print(qDEBUG_LINK, "FAIL: sLookupEntryByID:\n");
    } else {
        qDebug_Print(qDEBUG_LINK, "FAIL: qServer_Create:\n");
    }
    qDebug_Print(qDEBUG_SERVER, "Failed to create server\n");
    return 0;
}
