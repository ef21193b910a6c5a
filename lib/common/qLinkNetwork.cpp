// Links that reach a module through a link server: client links, and putting a server in front
// of an open link so that other processes (and this one) share it.
#include <cstring>

#include "qDebugging.h"
#include "qLink.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkSpec.h"
#include "qLinkTransport.h"
#include "qServer_ZeroMQ.h"
#include "unix_time.h"

namespace {

constexpr int kDetailAttempts = 5;
constexpr uint32_t kDetailRetryMs = 10;

qErr destroyServerProc(void** server) {
    qServer* typed = static_cast<qServer*>(*server);
    qErr err = qServer_Destroy(&typed);
    *server = nullptr;
    return err;
}

// Address and model of the module behind the server, asked through the server itself.
qErr _qLink_ConfigureServerDetails(qLinkID clientId, qServer* server) {
    uint8_t address = 0;
    qErr err = _qLink_GetModuleAddress(clientId, &address);
    if (err == qErrNone) {
        qServer_SetModuleAddress(server, address);
        uint8_t model = 0;
        err = _qLink_GetModel(clientId, address, &model);
        if (err == qErrNone) {
            qServer_SetModel(server, model);
        }
    }
    if (err != qErrNone) {
        qServer_FlushFIFO(server);
    }
    return err;
}

bool configureWithRetries(qLinkID clientId, qServer* server) {
    for (int attempt = 0; attempt < kDetailAttempts; attempt++) {
        if (_qLink_ConfigureServerDetails(clientId, server) == qErrNone) {
            return true;
        }
        qTime_MSSleep(kDetailRetryMs);
    }
    return false;
}

// Brings the server up and connects a client to it; the failing step's name, or null.
const char* publish(qLinkID linkId, qServer** server, uint16_t* port, uint32_t* interface,
                    bool localOnly, qLinkID* clientId) {
    if (sLookupEntryByID(linkId) == nullptr) {
        return "sLookupEntryByID";
    }
    *server = qServer_Create(linkId, *interface, localOnly);
    if (*server == nullptr) {
        return "qServer_Create";
    }
    if (qServer_Start(*server) != qErrNone) {
        return "qServer_Start";
    }
    if (qServer_GetPort(*server, port) != qErrNone) {
        return "qServer_GetPort";
    }
    if (qServer_GetInterface(*server, interface) != qErrNone) {
        return "qServer_GetInterface";
    }
    *clientId = qLink_CreateClient(*interface, *port, 0);
    if (*clientId == 0) {
        return "qLink_CreateClient";
    }
    if (!qLinkManager_SetServer(linkId, *server, destroyServerProc) ||
        !qLinkManager_SetServedLink(*clientId, linkId)) {
        return "NULL != clientItem";
    }
    if (!configureWithRetries(*clientId, *server)) {
        return "NULL != _getDeviceInfo";
    }
    return nullptr;
}

}  // namespace

qLinkID qLink_CreateClient(uint32_t address, uint32_t port, qLinkID ref) {
    linkSpec spec = qLinkSpec_Of(linkTypeNetworkClient, 0);
    spec.ipAddress = address;
    spec.port = port;
    return qLink_CreateClientFromSpec(&spec, ref, nullptr);
}

qLinkID qLink_CreateClientFromSpec(const linkSpec* described, qLinkID ref, qErr* err) {
    qErr ignored = qErrNone;
    qErr& result = err != nullptr ? *err : ignored;
    result = qErrNone;
    if (ref != 0) {
        if (!qLinkManager_AddUser(ref)) {
            qDebug_Print(qDEBUG_LINK, "The provided ref is invalid.\n");
            result = qErrParam;
            return 0;
        }
        qDebug_Print(qDEBUG_LINK, "Using existing link - ConnectThroughLinkModule\n");
        return ref;
    }
    if (described == nullptr) {
        result = qErrParam;
        return 0;
    }
    // Whatever module discovery reported, the link is a client of the server: only the server's
    // address, port and key come along.
    linkSpec spec = qLinkSpec_Of(linkTypeNetworkClient, 0);
    spec.ipAddress = described->ipAddress;
    spec.port = described->port;
    memcpy(spec.reserved, described->reserved, sizeof spec.reserved);
    qLinkEntryRef entry = qLinkManager_AddEntry(spec);
    if (entry == nullptr) {
        result = qErrMemory;
        return 0;
    }
    qLinkID id = entry->id;
    qStream* stream = nullptr;
    result = qLinkTransport_Find(spec.type)->createStream(spec, &stream);
    if (result != qErrNone || qLink_Init(id, stream) == 0 || qLink_Start(id) != qErrNone ||
        !qLinkManager_AddUser(id)) {
        result = result != qErrNone ? result : qErrResource;
        qLink_Destroy(&id);
        return 0;
    }
    return id;
}

qLinkID qLink_CreateServer(qLinkID linkId, uint16_t* port, uint32_t* interface, bool localOnly) {
    if (port == nullptr || interface == nullptr) {
        return 0;
    }
    qServer* server = nullptr;
    qLinkID clientId = 0;
    uint16_t madePort = 0;
    uint32_t madeInterface = *interface;
    const char* failed = publish(linkId, &server, &madePort, &madeInterface, localOnly, &clientId);
    if (failed == nullptr) {
        *port = madePort;
        *interface = madeInterface;
        return clientId;
    }
    qDebug_Print(qDEBUG_LINK, "FAIL: %s:\n", failed);
    qDebug_Print(qDEBUG_SERVER, "Failed to create server\n");
    // The published link stays as the caller had it: only what was made here goes.
    qLinkManager_SetServedLink(clientId, 0);
    if (clientId != 0) {
        qLink_Destroy(&clientId);
    }
    qLinkManager_SetServer(linkId, nullptr, nullptr);
    if (server != nullptr) {
        qServer_Destroy(&server);
    }
    return 0;
}
