#include "ModuleEnd.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kIdleWaitMs = 20;
constexpr int kQuietWaitMs = 10000;
constexpr auto kMaxHold = std::chrono::seconds(10);

}  // namespace

struct ModuleEnd::State {
    int linkFd = -1;
    int wakeFd = -1;
    std::atomic<bool> quiet{false};
    std::mutex lock;
    std::condition_variable released;
    bool holding = false;
    size_t begun = 0;
    std::vector<size_t> sizes;

    ~State() {
        if (linkFd >= 0) {
            close(linkFd);
        }
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }
};

namespace {

using State = ModuleEnd::State;

State* stateOf(void* reference) {
    return static_cast<std::shared_ptr<State>*>(reference)->get();
}

qErr linkGet(uint8_t* byte, void* reference) {
    State* state = stateOf(reference);
    pollfd fds[2] = {{state->linkFd, POLLIN, 0}, {state->wakeFd, POLLIN, 0}};
    if (poll(fds, 2, state->quiet ? kQuietWaitMs : kIdleWaitMs) <= 0) {
        return qErrNotReady;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        uint64_t count = 0;
        ssize_t n = read(state->wakeFd, &count, sizeof count);
        (void)n;
        return qErrNotReady;
    }
    ssize_t n = recv(state->linkFd, byte, 1, MSG_DONTWAIT);
    if (n == 1) {
        return qErrNone;
    }
    if (n == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
    }
    return qErrNotReady;
}

qErr linkWrite(const uint8_t* data, size_t length, void* reference) {
    State* state = stateOf(reference);
    {
        std::unique_lock<std::mutex> guard(state->lock);
        state->begun++;
        state->released.wait_for(guard, kMaxHold, [state] { return !state->holding; });
        state->sizes.push_back(length);
    }
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = send(state->linkFd, data + sent, length - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return qErrIO;
        }
        sent += static_cast<size_t>(n);
    }
    return qErrNone;
}

qErr linkPut(uint8_t byte, void* reference) {
    return linkWrite(&byte, 1, reference);
}

qErr linkDelete(void* reference) {
    delete static_cast<std::shared_ptr<State>*>(reference);
    return qErrNone;
}

}  // namespace

ModuleEnd::ModuleEnd() : state_(std::make_shared<State>()) {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
        state_->linkFd = fds[0];
        moduleFd_ = fds[1];
    }
    state_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ModuleEnd::~ModuleEnd() {
    releaseWrites();
    // The link (if it still exists) keeps the state alive but sees the line closed.
    if (moduleFd_ >= 0) {
        close(moduleFd_);
    }
}

qStream* ModuleEnd::stream() {
    return qStream_Create(linkGet, linkPut, linkWrite, linkDelete,
                          new std::shared_ptr<State>(state_));
}

void ModuleEnd::send(const std::string& wire) {
    size_t sent = 0;
    while (sent < wire.size()) {
        ssize_t n = ::send(moduleFd_, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

std::string ModuleEnd::receive(size_t count, int timeoutMs) {
    std::string got;
    while (got.size() < count) {
        pollfd readable{moduleFd_, POLLIN, 0};
        if (poll(&readable, 1, timeoutMs) != 1) {
            break;
        }
        char buffer[8192];
        size_t want = std::min(sizeof buffer, count - got.size());
        ssize_t n = recv(moduleFd_, buffer, want, 0);
        if (n <= 0) {
            break;
        }
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

std::string ModuleEnd::receiveUntilSilent(int quietMs) {
    std::string got;
    for (;;) {
        pollfd readable{moduleFd_, POLLIN, 0};
        if (poll(&readable, 1, quietMs) != 1) {
            return got;
        }
        char buffer[8192];
        ssize_t n = recv(moduleFd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return got;
        }
        got.append(buffer, static_cast<size_t>(n));
    }
}

void ModuleEnd::setQuiet(bool quiet) {
    state_->quiet = quiet;
}

void ModuleEnd::poke() {
    uint64_t one = 1;
    ssize_t n = write(state_->wakeFd, &one, sizeof one);
    (void)n;
}

void ModuleEnd::holdWrites() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->holding = true;
}

void ModuleEnd::releaseWrites() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->holding = false;
    }
    state_->released.notify_all();
}

size_t ModuleEnd::writesBegun() {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->begun;
}

std::vector<size_t> ModuleEnd::writeSizes() {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->sizes;
}

void ModuleEnd::clearWriteSizes() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->sizes.clear();
    state_->begun = 0;
}

std::string bytes(std::initializer_list<uint8_t> values) {
    return std::string(values.begin(), values.end());
}

std::string repeat(const std::string& part, int times) {
    std::string whole;
    for (int i = 0; i < times; ++i) {
        whole += part;
    }
    return whole;
}

std::string hex(const std::string& wire) {
    std::string text;
    char piece[4];
    for (unsigned char c : wire) {
        snprintf(piece, sizeof piece, "%02X ", c);
        text += piece;
    }
    return text;
}
