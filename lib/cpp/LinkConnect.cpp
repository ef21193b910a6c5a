// Making, finding and dropping the engine link of a Link, and learning the module's address.
#include "LinkImpl.h"
#include "discover.h"
#include "qDebugging.h"
#include "qLinkTransport.h"
#include "qUEI.h"
#include "unix_time.h"

namespace Pelmorax {
namespace Zendrival {

qErr Link::impl::createDirectLink(const linkSpec& spec) {
    const qLinkTransport* transport = qLinkTransport_Find(spec.type);
    if (transport == nullptr || transport->createStream == nullptr) {
        m_stem = 0;
        return qErrMode;
    }
    m_stem = qLink_CreateFromSpec(spec);
    return qErrNone;
}

void Link::impl::publishThroughServer() {
    qDebug_Print(qDEBUG_LINK, "Creating Server: real_stem id: %d\n", static_cast<int>(m_stem));
    const qLinkID client = qLink_CreateServer(m_stem, &config.assignedPort,
                                              &config.networkInterface, config.localOnly);
    if (client == 0) {
        qLink_Destroy(&m_stem);
        m_stem = 0;
        qDebug_Print(qDEBUG_SERVER, "Failed to create server\n");
        return;
    }
    m_stem = client;
    qDebug_Print(qDEBUG_LINK, "Creating Server: m_stem id: %d\n", static_cast<int>(m_stem));
}

// m_stem may hold a router's link id on entry (not yet counted as ours): every path either
// replaces it with a counted id or clears it.
qErr Link::impl::createEngineLink() {
    std::lock_guard<std::mutex> guard(linkCreateHelperSerializer);
    const linkSpec spec = *specifier;
    const linkType type = static_cast<linkType>(spec.type);
    if (isVEXNET(type)) {
        if (!config.enabled) {
            m_stem = 0;
            return qErrConfiguration;
        }
        // The discovered linkSpec carries the server's key, without which a server on the
        // network is not reached; why a client could not be made is the caller's answer.
        qErr made = qErrNone;
        m_stem = qLink_CreateClientFromSpec(&spec, m_stem, &made);
        return m_stem == 0 ? made : qErrNone;
    }
    const qErr result = createDirectLink(spec);
    if (result == qErrNone && m_stem != 0 && config.enabled) {
        publishThroughServer();
    }
    return result;
}

qErr Link::impl::awaitRunning() const {
    constexpr uint32_t START_POLL_MS = 10;
    constexpr int START_POLLS = 200;
    uint32_t status = qLink_GetStatus(m_stem);
    if (status == qLINK_STATUS_STOPPED || status == qLINK_STATUS_STARTING ||
        status == qLINK_STATUS_SYNCING) {
        for (int poll = 0; poll < START_POLLS && status != qLINK_STATUS_RUNNING; ++poll) {
            qTime_MSSleep(START_POLL_MS);
            status = qLink_GetStatus(m_stem);
        }
        return status == qLINK_STATUS_RUNNING ? qErrNone : qErrConnection;
    }
    switch (status) {
        case qLINK_STATUS_RUNNING:
            return qErrNone;
        case qLINK_STATUS_INVALID:
        case qLINK_STATUS_IO_ERROR:
        case qLINK_STATUS_ERROR:
            return qErrConnection;
        case qLINK_STATUS_STOPPING:
            return qErrBusy;
        default:
            return qErrDuplicate;
    }
}

qErr Link::impl::connectProcedure() {
    if (!specifier) {
        m_stem = 0;
        return qErrConfiguration;
    }
    const qErr created = createEngineLink();
    if (created != qErrNone) {
        return created;
    }
    if (m_stem == 0) {
        return qErrConnection;
    }
    const qErr running = awaitRunning();
    if (running != qErrNone) {
        // A link that never came up is dropped, so that a later connect can try again.
        qLink_Destroy(&m_stem);
        m_stem = 0;
    }
    return running;
}

qErr Link::connect() {
    if (m_impl->m_stem != 0) {
        return qErrConnection;
    }
    qDebug_Print(qDEBUG_LINK, "Link(%s)::connect\n", getName());
    return m_impl->connectProcedure();
}

qErr Link::connectThroughLinkModule(Link& router) {
    if (router.m_impl->m_stem == 0) {
        return qErrInitialization;
    }
    if (m_impl->m_stem != 0) {
        return qErrConnection;
    }
    m_impl->m_stem = router.m_impl->m_stem;
    return m_impl->connectProcedure();
}

qErr Link::adoptEngineLink(qLinkID id) {
    if (id == 0) {
        return qErrParam;
    }
    if (m_impl->m_stem != 0) {
        return qErrConnection;
    }
    m_impl->m_stem = id;
    return qErrNone;
}

qLinkID Link::getEngineLinkId() const {
    return m_impl->m_stem;
}

bool Link::isConnected() const {
    return m_impl->m_stem != 0 && qLink_GetStatus(m_impl->m_stem) == qLINK_STATUS_RUNNING;
}

uint32_t Link::getStatus() const {
    return m_impl->m_stem == 0 ? qLINK_STATUS_ERROR : qLink_GetStatus(m_impl->m_stem);
}

qErr Link::disconnect() {
    // The engine link may live on for other users (a module behind this router): our stream
    // filter must not stay behind on it.
    if (m_impl->streamFilterInstalled || m_impl->asyncWorker.joinable()) {
        m_impl->installStreamFilter(false);
    }
    if (m_impl->m_stem != 0) {
        qLink_Destroy(&m_impl->m_stem);
        m_impl->m_stem = 0;
    }
    return qErrNone;
}

qErr Link::reset() {
    if (m_impl->m_stem != 0) {
        qLink_Reset(m_impl->m_stem);
    }
    return qErrNone;
}

namespace {

qErr findSpecifier(linkType type, uint32_t serialNumber, uint8_t model, uint32_t networkInterface,
                   linkSpec* found) {
    if (serialNumber != 0) {
        linkSpec* spec = qDiscovery_FindModule(type, serialNumber, networkInterface);
        if (spec == nullptr) {
            return qErrNotFound;
        }
        *found = *spec;
        qLinkSpec_Destroy(&spec);
        return qErrNone;
    }
    linkSpec* wanted = qLinkSpec_Create(type);
    if (wanted == nullptr) {
        return qErrResource;
    }
    wanted->serialNumber = 0;
    wanted->model = model;
    const int accepted =
        qDiscovery_EnumerateModules(type, cbModelCallback, wanted, networkInterface);
    if (accepted > 0) {
        *found = *wanted;
    }
    qLinkSpec_Destroy(&wanted);
    return accepted > 0 ? qErrNone : qErrNotFound;
}

}  // namespace

qErr Link::discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model) {
    auto attempt = [&](linkType attemptType) {
        linkSpec found{};
        qErr result = findSpecifier(attemptType, serialNumber, model,
                                    m_impl->config.networkInterface, &found);
        if (result == qErrNone) {
            result = setLinkSpecifier(found);
        }
        return result == qErrNone ? connect() : result;
    };
    qErr result = attempt(type);
    if (_fallbackHelper(result, type, m_impl->config.fallback)) {
        const linkType alternative = isVEXNET(type) ? linkTypeUSB : linkTypeNetworkClient;
        qDebug_Print(qDEBUG_LINK, "Executing Fallback - old type: %d - new type: %d\n",
                     static_cast<int>(type), static_cast<int>(alternative));
        result = attempt(alternative);
    }
    return result;
}

uint8_t MatchMagic(const qPacket* packet, void* /*filterData*/) {
    return qVALIDPACKET(packet) && packet->dataSize == 0 ? 1 : 0;
}

qErr Link::getModuleAddress(uint8_t* address) {
    if (address == nullptr) {
        return qErrParam;
    }
    *address = 0;
    if (!isConnected()) {
        return qErrNotReady;
    }
    qDebug_Print(qDEBUG_LINK, "getModuleAddress\n");
    const qErr put = m_impl->putPacket(qADDRESS_MAGIC, 0, nullptr);
    if (put != qErrNone) {
        return put;
    }
    qDebug_Print(qDEBUG_LINK, "getModuleAddress wait\n");
    qOwnedPacket reply = m_impl->awaitReply(MatchMagic, nullptr, LINK_REPLY_TIMEOUT_MS);
    if (!reply) {
        return qErrNotReady;
    }
    *address = reply->address;
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
