#include "ModulePeer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zvtest {

namespace {

constexpr int kIdleWaitMs = 20;
constexpr int kQuietWaitMs = 10000;
constexpr int kReaderPollMs = 5;
constexpr auto kMaxHold = std::chrono::seconds(10);
constexpr uint8_t kRouteAddress = 175;
constexpr uint8_t kHeartbeatCommand = 0;

bool isRoute(const WirePacket& packet) {
    return packet.address == kRouteAddress;
}

bool isHeartbeatAnswer(const WirePacket& packet) {
    return packet.data.size() == 2 && packet.data[0] == kHeartbeatCommand;
}

bool sendAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// The host's end of a socket pair. The link may outlive the peer: it keeps this alive and then
// only sees the line closed.
struct ModulePeer::HostEnd {
    int linkFd = -1;
    int wakeFd = -1;
    std::atomic<bool> quiet{false};
    std::mutex lock;
    std::condition_variable released;
    bool holding = false;
    size_t begun = 0;
    std::vector<size_t> sizes;
    std::vector<std::thread::id> writers;
    // The thread that read the last byte.
    std::thread::id lastReader;

    ~HostEnd() {
        if (linkFd >= 0) {
            close(linkFd);
        }
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }
};

namespace {

using HostEnd = ModulePeer::HostEnd;

HostEnd* hostOf(void* reference) {
    return static_cast<std::shared_ptr<HostEnd>*>(reference)->get();
}

qErr hostGet(uint8_t* byte, void* reference) {
    HostEnd* host = hostOf(reference);
    pollfd fds[2] = {{host->linkFd, POLLIN, 0}, {host->wakeFd, POLLIN, 0}};
    if (poll(fds, 2, host->quiet ? kQuietWaitMs : kIdleWaitMs) <= 0) {
        return qErrNotReady;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        uint64_t count = 0;
        (void)!read(host->wakeFd, &count, sizeof count);
        return qErrNotReady;
    }
    ssize_t n = recv(host->linkFd, byte, 1, MSG_DONTWAIT);
    if (n == 1) {
        std::lock_guard<std::mutex> guard(host->lock);
        host->lastReader = std::this_thread::get_id();
        return qErrNone;
    }
    if (n == 0) {
        // The peer is gone: a closed line reads as silence, not as a fault of the link.
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
    }
    return qErrNotReady;
}

qErr hostWrite(const uint8_t* data, size_t length, void* reference) {
    HostEnd* host = hostOf(reference);
    {
        std::unique_lock<std::mutex> guard(host->lock);
        host->begun++;
        host->released.wait_for(guard, kMaxHold, [host] { return !host->holding; });
        host->sizes.push_back(length);
        host->writers.push_back(std::this_thread::get_id());
    }
    return sendAll(host->linkFd, data, length) ? qErrNone : qErrIO;
}

qErr hostPut(uint8_t byte, void* reference) {
    return hostWrite(&byte, 1, reference);
}

qErr hostDelete(void* reference) {
    delete static_cast<std::shared_ptr<HostEnd>*>(reference);
    return qErrNone;
}

}  // namespace

ModulePeer::ModulePeer() : host_(std::make_shared<HostEnd>()) {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
        host_->linkFd = fds[0];
        moduleFd_ = fds[1];
    }
    host_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    start([] { return true; });
}

ModulePeer::ModulePeer(OwnTcpPort) : listener_(std::make_unique<LoopbackListener>()) {
    start([this] {
        while (running_) {
            int connection = listener_->accept(kReaderPollMs);
            if (connection >= 0) {
                std::lock_guard<std::mutex> guard(sendLock_);
                moduleFd_ = connection;
                return true;
            }
        }
        return false;
    });
}

ModulePeer::~ModulePeer() {
    running_ = false;
    reader_.join();
    if (host_) {
        releaseWrites();
    }
    if (moduleFd_ >= 0) {
        close(moduleFd_);
    }
}

void ModulePeer::start(std::function<bool()> connect) {
    reader_ = std::thread([this, connect] {
        if (connect()) {
            run();
        }
    });
}

uint16_t ModulePeer::port() const {
    return listener_ ? static_cast<uint16_t>(listener_->port()) : 0;
}

qStream* ModulePeer::stream() {
    qStream* hostStream = qStream_Create(hostGet, hostPut, hostWrite, hostDelete,
                                         new std::shared_ptr<HostEnd>(host_));
    if (hostStream != nullptr) {
        // What a get waits outside quiet mode.
        hostStream->getWaitMs = kIdleWaitMs;
    }
    return hostStream;
}

qLinkID ModulePeer::makeEngineLink() {
    qStream* hostStream = stream();
    return hostStream != nullptr ? qLink_Create(hostStream) : 0;
}

void ModulePeer::setResponder(Script script) {
    std::lock_guard<std::mutex> guard(lock_);
    script_ = std::move(script);
}

void ModulePeer::send(const std::string& wireBytes) {
    std::lock_guard<std::mutex> guard(sendLock_);
    if (moduleFd_ >= 0) {
        sendAll(moduleFd_, reinterpret_cast<const uint8_t*>(wireBytes.data()), wireBytes.size());
    }
}

void ModulePeer::send(const WirePacket& packet) {
    send(packet.wireText());
}

void ModulePeer::run() {
    while (running_) {
        pollfd readable{moduleFd_, POLLIN, 0};
        if (poll(&readable, 1, kReaderPollMs) != 1) {
            continue;
        }
        char chunk[8192];
        ssize_t n = recv(moduleFd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        take(std::string(chunk, static_cast<size_t>(n)));
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        hostClosed_ = true;
    }
    arrived_.notify_all();
}

// The host always sends whole packets, so its bytes cut cleanly at each length byte.
void ModulePeer::take(const std::string& chunk) {
    std::vector<WirePacket> complete;
    {
        std::lock_guard<std::mutex> guard(lock_);
        unread_ += chunk;
        for (char byte : chunk) {
            partial_.push_back(byte);
            if (partial_.size() >= 2 &&
                partial_.size() == static_cast<uint8_t>(partial_[1]) + size_t{2}) {
                complete.push_back(WirePacket::fromWire(partial_));
                received_.push_back(complete.back());
                partial_.clear();
            }
        }
    }
    arrived_.notify_all();
    for (const WirePacket& packet : complete) {
        handle(packet);
    }
}

void ModulePeer::handle(const WirePacket& packet) {
    if (isRoute(packet)) {
        return;
    }
    Script script;
    {
        std::lock_guard<std::mutex> guard(lock_);
        script = script_;
    }
    if (script) {
        for (const WirePacket& reply : script(packet)) {
            send(reply);
        }
    }
}

std::string ModulePeer::receive(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                      [&] { return unread_.size() >= count || hostClosed_; });
    std::string got = unread_.substr(0, count);
    unread_.erase(0, got.size());
    return got;
}

std::string ModulePeer::receiveUntilSilent(int quietMs) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        const size_t before = unread_.size();
        if (!arrived_.wait_for(guard, std::chrono::milliseconds(quietMs),
                               [&] { return unread_.size() > before || hostClosed_; }) ||
            hostClosed_) {
            break;
        }
    }
    std::string got;
    got.swap(unread_);
    return got;
}

std::vector<WirePacket> ModulePeer::received() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

std::vector<WirePacket> ModulePeer::requests() {
    std::vector<WirePacket> result;
    for (const WirePacket& packet : received()) {
        if (!isRoute(packet) && !isHeartbeatAnswer(packet)) {
            result.push_back(packet);
        }
    }
    return result;
}

bool ModulePeer::waitForRequests(size_t count, std::chrono::milliseconds limit) {
    return eventually([&] { return requests().size() >= count; }, limit);
}

void ModulePeer::setQuiet(bool quiet) {
    host_->quiet = quiet;
}

void ModulePeer::poke() {
    uint64_t one = 1;
    (void)!write(host_->wakeFd, &one, sizeof one);
}

void ModulePeer::holdWrites() {
    std::lock_guard<std::mutex> guard(host_->lock);
    host_->holding = true;
}

void ModulePeer::releaseWrites() {
    {
        std::lock_guard<std::mutex> guard(host_->lock);
        host_->holding = false;
    }
    host_->released.notify_all();
}

size_t ModulePeer::writesBegun() {
    std::lock_guard<std::mutex> guard(host_->lock);
    return host_->begun;
}

std::vector<size_t> ModulePeer::writeSizes() {
    std::lock_guard<std::mutex> guard(host_->lock);
    return host_->sizes;
}

std::vector<std::thread::id> ModulePeer::writingThreads() {
    std::lock_guard<std::mutex> guard(host_->lock);
    return host_->writers;
}

std::thread::id ModulePeer::lastReadingThread() {
    std::lock_guard<std::mutex> guard(host_->lock);
    return host_->lastReader;
}

void ModulePeer::clearWriteSizes() {
    std::lock_guard<std::mutex> guard(host_->lock);
    host_->sizes.clear();
    host_->writers.clear();
    host_->begun = 0;
}

}  // namespace zvtest
