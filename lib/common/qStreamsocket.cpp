#include "qStreamsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

#include "unix_time.h"

namespace {

constexpr uint32_t kConnectedFlag = 0x1;
constexpr int kMaxWriteRetries = 10;
constexpr unsigned kWriteRetryPauseMs = 60;
// Lets the peer see the old connection go before the new one arrives.
constexpr unsigned kCloseSettleMs = 10;

struct SocketRecord {
    uint16_t check;
    uint32_t port;
    sockaddr_in address;
    int descriptor;
    uint32_t flags;
    // The reader thread (get) and the writer thread (write) may both reconnect; the descriptor
    // and flags change only under this lock.
    std::mutex lock;
};

bool validRecord(const void* reference) {
    return reference != nullptr &&
           static_cast<const SocketRecord*>(reference)->check == qSOCKETSTREAM_CHECK;
}

bool isConnected(const SocketRecord* record) {
    return (record->flags & kConnectedFlag) != 0;
}

void closeSocket(SocketRecord* record) {
    record->flags &= ~kConnectedFlag;
    if (record->descriptor >= 0) {
        close(record->descriptor);
        record->descriptor = -1;
        qTime_MSSleep(kCloseSettleMs);
    }
}

bool applyOptions(int fd) {
    int on = 1;
    timeval noTimeout{0, 0};
    // Linger 0: closing resets the connection instead of lingering in TIME_WAIT, so a
    // reconnecting host does not leave the module with half-closed sessions.
    linger abortive{1, 0};
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof noTimeout) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) != 0) {
        return false;
    }
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

qErr connectErrorCode(int error) {
    switch (error) {
        case EAGAIN:
        case ECONNRESET:
        case ETIMEDOUT:
        case ECONNREFUSED:
            return qErrConnection;
        default:
            return qErrIO;
    }
}

// Closes any open connection and connects again; also makes the first connection. Caller holds
// the record's lock.
qErr resetSocket(SocketRecord* record) {
    closeSocket(record);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return qErrIO;
    }
    int rc;
    do {
        rc = connect(fd, reinterpret_cast<const sockaddr*>(&record->address),
                     sizeof record->address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        qErr err = connectErrorCode(errno);
        close(fd);
        return err;
    }
    if (!applyOptions(fd)) {
        close(fd);
        return qErrIO;
    }
    record->descriptor = fd;
    record->flags |= kConnectedFlag;
    return qErrNone;
}

bool isDroppedConnection(int error) {
    return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT;
}

// Peeks so that a connection reset is noticed (and repaired) before a byte is taken.
qErr peekByte(SocketRecord* record) {
    uint8_t byte = 0;
    ssize_t got = recv(record->descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got < 0 && isDroppedConnection(errno)) {
        qErr err = resetSocket(record);
        if (err != qErrNone) {
            return qErrConnection;
        }
        got = recv(record->descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    }
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? qErrNotReady : qErrConnection;
    }
    // Zero bytes: the peer closed its side; nothing to read until someone reconnects.
    return got == 0 ? qErrNotReady : qErrNone;
}

qErr socketGet(uint8_t* byte, void* reference) {
    if (!validRecord(reference) || byte == nullptr) {
        return qErrParam;
    }
    SocketRecord* record = static_cast<SocketRecord*>(reference);
    std::lock_guard<std::mutex> guard(record->lock);
    if (!isConnected(record)) {
        return qErrConnection;
    }
    qErr err = peekByte(record);
    if (err != qErrNone) {
        return err;
    }
    ssize_t got = recv(record->descriptor, byte, 1, MSG_DONTWAIT);
    if (got == 1) {
        return qErrNone;
    }
    if (got == 0) {
        return qErrNotReady;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return qErrEOF;
    }
    return isDroppedConnection(errno) ? qErrNotReady : qErrIO;
}

enum class SendOutcome { Sent, Retry, Reconnected, Failed };

// One send attempt under the lock. A connection found broken (or never restored) is made again
// so that the rest can go out on the new one.
SendOutcome sendOnce(SocketRecord* record, const uint8_t* bytes, size_t length, size_t* sent,
                     qErr* failure) {
    std::lock_guard<std::mutex> guard(record->lock);
    int error = ENOTCONN;
    if (isConnected(record)) {
        ssize_t rc = send(record->descriptor, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (rc >= 0) {
            *sent = static_cast<size_t>(rc);
            return SendOutcome::Sent;
        }
        error = errno;
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        return SendOutcome::Retry;
    }
    if (error == EPIPE || error == ECONNRESET || error == ENOTCONN) {
        record->flags &= ~kConnectedFlag;
        *failure = resetSocket(record);
        return *failure == qErrNone ? SendOutcome::Reconnected : SendOutcome::Failed;
    }
    *failure = qErrIO;
    return SendOutcome::Failed;
}

qErr socketWrite(const uint8_t* bytes, size_t length, void* reference) {
    if (!validRecord(reference) || (bytes == nullptr && length > 0)) {
        return qErrParam;
    }
    SocketRecord* record = static_cast<SocketRecord*>(reference);
    size_t remaining = length;
    int retries = 0;
    while (remaining > 0 && retries < kMaxWriteRetries) {
        size_t sent = 0;
        qErr failure = qErrNone;
        switch (sendOnce(record, bytes + (length - remaining), remaining, &sent, &failure)) {
            case SendOutcome::Sent:
                if (sent < remaining) {
                    retries = 1;
                }
                remaining -= sent;
                break;
            case SendOutcome::Retry:
            case SendOutcome::Reconnected:
                retries++;
                break;
            case SendOutcome::Failed:
                return failure;
        }
        if (remaining > 0) {
            qTime_MSSleep(kWriteRetryPauseMs);
        }
    }
    return remaining == 0 ? qErrNone : qErrWrite;
}

qErr socketPut(uint8_t byte, void* reference) {
    return socketWrite(&byte, 1, reference);
}

qErr socketDelete(void* reference) {
    if (!validRecord(reference)) {
        return qErrParam;
    }
    SocketRecord* record = static_cast<SocketRecord*>(reference);
    if (record->descriptor >= 0) {
        close(record->descriptor);
    }
    record->check = 0;
    delete record;
    return qErrNone;
}

}  // namespace

qErr qStream_CreateSocket(uint32_t address, uint32_t port, qStream** stream) {
    if (stream == nullptr || port > 0xFFFF) {
        return qErrResource;
    }
    SocketRecord* record = new (std::nothrow) SocketRecord();
    if (record == nullptr) {
        return qErrResource;
    }
    record->check = qSOCKETSTREAM_CHECK;
    record->port = port;
    record->address.sin_family = AF_INET;
    record->address.sin_port = htons(static_cast<uint16_t>(port));
    record->address.sin_addr.s_addr = address;
    record->descriptor = -1;
    record->flags = 0;
    qErr err;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        err = resetSocket(record);
    }
    qStream* created = nullptr;
    if (err == qErrNone) {
        created = qStream_Create(socketGet, socketPut, socketWrite, socketDelete, record);
    }
    if (created == nullptr) {
        socketDelete(record);
        return qErrResource;
    }
    *stream = created;
    return qErrNone;
}
