#include "qStreamsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "qStreamForCaller.h"
#include "unix_time.h"

namespace {

constexpr int kMaxWriteRetries = 10;
constexpr unsigned kWriteRetryPauseMs = 60;
// Lets the peer see the old connection go before the new one arrives.
constexpr unsigned kCloseSettleMs = 10;
constexpr size_t kReceiveBufferSize = 4096;

struct SocketRecord {
    uint16_t check = qSOCKETSTREAM_CHECK;
    uint32_t port = 0;
    sockaddr_in address{};
    int descriptor = -1;
    bool connected = false;
    // A caller's get met a dropped connection and left it: the reader thread's next get
    // reconnects as if it had met it itself (the kernel reports the drop only once).
    bool dropped = false;
    // The reader thread (get) and the writer thread (write) may both reconnect; the descriptor
    // and the connected flag change only under this lock.
    std::mutex lock;
    // Bytes received but not yet handed out; touched by the reading side only.
    uint8_t received[kReceiveBufferSize];
    size_t receivedLength;
    size_t receivedNext;
};

bool validRecord(const void* reference) {
    return reference != nullptr &&
           static_cast<const SocketRecord*>(reference)->check == qSOCKETSTREAM_CHECK;
}

bool isConnected(const SocketRecord* record) {
    return record->connected;
}

void closeSocket(SocketRecord* record) {
    record->connected = false;
    record->dropped = false;
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
    record->connected = true;
    return qErrNone;
}

bool isDroppedConnection(int error) {
    return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT;
}

// Reads are taken from the kernel in blocks and handed out one byte per get.
qErr takeBuffered(SocketRecord* record, uint8_t* byte) {
    if (record->receivedNext >= record->receivedLength) {
        return qErrNotReady;
    }
    *byte = record->received[record->receivedNext++];
    return qErrNone;
}

// Waits a moment for something to read (bytes, the peer's close or an error), so that an idle
// link's reader does not spin. The lock is not held meanwhile: the writer must not wait on it.
bool awaitReadable(SocketRecord* record) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        fd = record->descriptor;
    }
    pollfd readable{fd, POLLIN, 0};
    return poll(&readable, 1, qSTREAM_IDLE_WAIT_MS) > 0;
}

enum class ReceiveOutcome { Received, Nothing, PeerClosed, Failed };

// One receive of whatever the kernel holds. A connection found reset is made again (the module
// rebooted) and read once more. Caller holds the lock.
ReceiveOutcome receiveBlock(SocketRecord* record, qErr* failure) {
    const bool dropped = record->dropped;
    record->dropped = false;
    ssize_t got =
        dropped ? -1
                : recv(record->descriptor, record->received, sizeof record->received, MSG_DONTWAIT);
    if (dropped || (got < 0 && isDroppedConnection(errno))) {
        if (resetSocket(record) != qErrNone) {
            *failure = qErrConnection;
            return ReceiveOutcome::Failed;
        }
        got = recv(record->descriptor, record->received, sizeof record->received, MSG_DONTWAIT);
    }
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return ReceiveOutcome::Nothing;
        }
        *failure = qErrConnection;
        return ReceiveOutcome::Failed;
    }
    if (got == 0) {
        return ReceiveOutcome::PeerClosed;
    }
    record->receivedLength = static_cast<size_t>(got);
    record->receivedNext = 0;
    return ReceiveOutcome::Received;
}

// A get for a caller (qStreamForCaller.h): bytes, or a moment's silence, on a healthy
// connection; everything else is left to the reader thread. The lock is only tried: a writer may
// hold it for as long as a reconnect takes.
qErr callerGet(SocketRecord* record, uint8_t* byte) {
    std::unique_lock<std::mutex> guard(record->lock, std::try_to_lock);
    if (!guard.owns_lock() || !isConnected(record) || record->dropped) {
        return qErrBusy;
    }
    pollfd readable{record->descriptor, POLLIN | POLLRDHUP, 0};
    guard.unlock();
    const int ready = poll(&readable, 1, qSTREAM_IDLE_WAIT_MS);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return qErrNotReady;
    }
    // A reset, a hang-up or the peer's close: poll says so without taking the error from the
    // socket, which the reader thread's receive then meets.
    if (ready < 0 || readable.revents != POLLIN || !guard.try_lock() ||
        readable.fd != record->descriptor) {
        return qErrBusy;
    }
    const ssize_t got =
        recv(record->descriptor, record->received, sizeof record->received, MSG_DONTWAIT);
    if (got > 0) {
        record->receivedLength = static_cast<size_t>(got);
        record->receivedNext = 0;
        return takeBuffered(record, byte);
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return qErrNotReady;
    }
    record->dropped = got < 0 && isDroppedConnection(errno);
    return qErrBusy;
}

qErr socketGet(uint8_t* byte, void* reference) {
    if (!validRecord(reference) || byte == nullptr) {
        return qErrParam;
    }
    SocketRecord* record = static_cast<SocketRecord*>(reference);
    if (takeBuffered(record, byte) == qErrNone) {
        return qErrNone;
    }
    if (qStream_ReadingForCaller()) {
        return callerGet(record, byte);
    }
    bool dropped = false;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (!isConnected(record)) {
            return qErrConnection;
        }
        dropped = record->dropped;
    }
    if (!dropped && !awaitReadable(record)) {
        return qErrNotReady;
    }
    ReceiveOutcome outcome;
    qErr failure = qErrNone;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (!isConnected(record)) {
            return qErrConnection;
        }
        outcome = receiveBlock(record, &failure);
    }
    switch (outcome) {
        case ReceiveOutcome::Received:
            return takeBuffered(record, byte);
        case ReceiveOutcome::Nothing:
            return qErrNotReady;
        case ReceiveOutcome::PeerClosed:
            // Nothing more will come until someone reconnects; a closed connection always reads
            // as ready, so pause here instead of letting the reader spin.
            qTime_MSSleep(qSTREAM_IDLE_WAIT_MS);
            return qErrNotReady;
        case ReceiveOutcome::Failed:
            break;
    }
    return failure;
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
        record->connected = false;
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
    record->port = port;
    record->address.sin_family = AF_INET;
    record->address.sin_port = htons(static_cast<uint16_t>(port));
    record->address.sin_addr.s_addr = address;
    qErr err;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        err = resetSocket(record);
    }
    if (err != qErrNone) {
        socketDelete(record);
        return qErrResource;
    }
    if (!qStream_CreateOwning(socketGet, socketPut, socketWrite, socketDelete, record, stream)) {
        return qErrResource;
    }
    (*stream)->getWaitMs = qSTREAM_IDLE_WAIT_MS;
    return qErrNone;
}
