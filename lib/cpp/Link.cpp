// Construction, configuration and the shared request plumbing of a Link.
#include "Link.h"

#include <algorithm>
#include <cstring>

#include "LinkImpl.h"
#include "qDebugging.h"

namespace Pelmorax {
namespace Zendrival {

std::mutex linkCreateHelperSerializer;

Link::impl::impl(Link* linkOwner, const char* linkName) : owner(linkOwner) {
    if (linkName != nullptr) {
        name.assign(linkName, strnlen(linkName, LINK_NAME_MAX));
    }
}

Link::impl::~impl() {
    if (streamFilterInstalled || asyncWorker.joinable()) {
        installStreamFilter(false);
    }
    // The logger reads the engine's packet log by link id; stop it before the link goes.
    if (packetLogger != nullptr) {
        qLogger_Destroy(&packetLogger);
    }
    if (m_stem != 0) {
        qLink_Destroy(&m_stem);
    }
}

qErr Link::impl::checkSendable(uint8_t module) const {
    if (!owner->isConnected()) {
        return qErrConnection;
    }
    if (module == 0 || (module & 1) != 0) {
        return qErrPacket;
    }
    return qErrNone;
}

qErr Link::impl::putPacket(uint8_t address, uint8_t length, const uint8_t* data) const {
    static const uint8_t noData[1] = {0};
    qOwnedPacket packet(qPacket_CreateWithData(address, length, data != nullptr ? data : noData));
    if (!packet) {
        return qErrResource;
    }
    const qPacket* const one[] = {packet.get()};
    return qLink_SendPackets(m_stem, one, 1);
}

qErr Link::impl::putPackets(const std::vector<qOwnedPacket>& packets) const {
    // Groups of what one pooled write carries; never near the queue's bound, which would empty it.
    constexpr size_t GROUP = 128;
    std::vector<const qPacket*> pointers;
    pointers.reserve(packets.size());
    for (const qOwnedPacket& packet : packets) {
        pointers.push_back(packet.get());
    }
    for (size_t first = 0; first < pointers.size(); first += GROUP) {
        const size_t count = std::min(GROUP, pointers.size() - first);
        const qErr put = qLink_SendPackets(m_stem, pointers.data() + first, count);
        if (put != qErrNone) {
            return put;
        }
    }
    return qErrNone;
}

qOwnedPacket Link::impl::awaitReply(qPacketFilter filter, void* reference,
                                    uint32_t timeoutMs) const {
    return qOwnedPacket(qLink_AwaitFirst(m_stem, filter, reference, timeoutMs));
}

Link::Link(const char* name) : m_impl(std::make_unique<impl>(this, name)) {}

Link::Link(const linkSpec& specifier, const char* name)
    : m_impl(std::make_unique<impl>(this, name)) {
    m_impl->specifier = std::make_unique<linkSpec>(specifier);
}

Link::~Link() = default;

qErr Link::getConfig(VexnetConfig* config) const {
    if (config == nullptr) {
        return qErrParam;
    }
    *config = m_impl->config;
    return qErrNone;
}

qErr Link::setConfig(const VexnetConfig& config) {
    if (isConnected()) {
        return qErrMode;
    }
    m_impl->config = config;
    return qErrNone;
}

qErr Link::getLinkSpecifier(linkSpec* specifier) const {
    if (specifier == nullptr) {
        return qErrParam;
    }
    if (!m_impl->specifier) {
        return qErrNotFound;
    }
    *specifier = *m_impl->specifier;
    return qErrNone;
}

qErr Link::setLinkSpecifier(const linkSpec& specifier) {
    if (isConnected()) {
        return qErrBusy;
    }
    m_impl->specifier = std::make_unique<linkSpec>(specifier);
    return qErrNone;
}

const char* Link::getName() const {
    return m_impl->name.c_str();
}

qErr Link::enablePooledPackets(bool pooled) {
    return qLink_EnablePooledPackets(m_impl->m_stem, pooled);
}

bool isVEXNET(linkType type) {
    return type >= linkTypeNetworkClient && type <= linkTypeNetworkClientSerial;
}

bool _fallbackHelper(qErr result, linkType type, bool fallback) {
    const bool retryable =
        result == qErrNotFound || result == qErrInitialization || result == qErrConnection;
    const bool fallbackType = type == linkTypeUSB || type == linkTypeTCPIP || isVEXNET(type);
    return retryable && fallback && fallbackType;
}

bool cbModelCallback(const linkSpec* candidate, bool* found, void* wanted) {
    linkSpec* want = static_cast<linkSpec*>(wanted);
    if (candidate == nullptr || want == nullptr) {
        return true;
    }
    if (want->model != 0 && candidate->model != want->model) {
        return true;
    }
    *want = *candidate;
    if (found != nullptr) {
        *found = true;
    }
    return false;
}

}  // namespace Zendrival
}  // namespace Pelmorax
