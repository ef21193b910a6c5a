// Packet log: the engine records every packet sent and received in its packet debug buffer; a
// logger thread drains that buffer into a text file, one line per record.
#include <cstdio>
#include <string>

#include "LinkImpl.h"
#include "unix_time.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

constexpr uint8_t LOG_RECORD_MAX = 64;
constexpr uint32_t LOG_IDLE_MS = 5;
const char START_MARK[] = "START";

}  // namespace

qErr Link::impl::packetLogReader(qFile* file, uint32_t linkId) {
    uint8_t type = 0;
    uint8_t length = LOG_RECORD_MAX;
    uint8_t record[LOG_RECORD_MAX];
    const qErr read = qLink_PacketDebug_Read(linkId, &type, &length, record);
    if (read != qErrNone) {
        // Empty (or gone): wait a moment rather than spin on the buffer.
        qTime_MSSleep(LOG_IDLE_MS);
        return read;
    }
    std::string line = std::to_string(length) + (type == qPACKETLOG_SENT ? " > " : " < ");
    char hex[8];
    for (uint8_t i = 0; i < length; ++i) {
        if (type == qPACKETLOG_TEXT) {
            line.push_back(static_cast<char>(record[i]));
        } else {
            snprintf(hex, sizeof(hex), "0x%X ", record[i]);
            line += hex;
        }
    }
    line += "\r\n";
    size_t written = 0;
    return qFile_Write(file, line.data(), line.size(), &written);
}

qErr Link::enablePacketLog(const char* fileName) {
    const qLinkID linkId = m_impl->m_stem;
    if (linkId == 0) {
        return qErrConfiguration;
    }
    qErr result = qLink_PacketDebug_Enable(linkId);
    if (result != qErrNone) {
        return result;
    }
    if (m_impl->packetLogger == nullptr) {
        m_impl->packetLogger = qLogger_Create(linkId, impl::packetLogReader, fileName);
        if (m_impl->packetLogger == nullptr) {
            return qErrResource;
        }
    }
    result = qLogger_Enable(m_impl->packetLogger);
    if (result == qErrNone) {
        result = qLink_PacketDebug_Write(linkId, qPACKETLOG_TEXT, sizeof(START_MARK),
                                         reinterpret_cast<const uint8_t*>(START_MARK));
    }
    return result;
}

qErr Link::disablePacketLog() {
    const qLinkID linkId = m_impl->m_stem;
    if (linkId == 0) {
        return qErrConfiguration;
    }
    const qErr result = qLink_PacketDebug_Disable(linkId);
    if (m_impl->packetLogger != nullptr) {
        qLogger_Disable(m_impl->packetLogger);
    }
    return result;
}

}  // namespace Zendrival
}  // namespace Pelmorax
