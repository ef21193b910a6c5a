#include "CobsWire.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace cobstest {

namespace {

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

uint8_t crc8Maxim(const Bytes& bytes) {
    uint8_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C)
                            : static_cast<uint8_t>(crc >> 1);
        }
    }
    return crc;
}

Bytes cobsStuff(const Bytes& plain) {
    // Split at the zeros; every piece longer than 254 bytes is cut into full runs.
    Bytes out;
    Bytes run;
    auto emit = [&](const Bytes& piece) {
        out.push_back(static_cast<uint8_t>(piece.size() + 1));
        out.insert(out.end(), piece.begin(), piece.end());
    };
    for (size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == 0) {
            emit(run);
            run.clear();
            continue;
        }
        run.push_back(plain[i]);
        if (run.size() == 254) {
            emit(run);
            run.clear();
            if (i + 1 == plain.size()) {
                return out;
            }
        }
    }
    emit(run);
    return out;
}

bool cobsUnstuff(const Bytes& stuffed, Bytes& plain) {
    plain.clear();
    size_t at = 0;
    while (at < stuffed.size()) {
        size_t code = stuffed[at];
        if (code == 0 || at + code > stuffed.size()) {
            return false;
        }
        for (size_t i = at + 1; i < at + code; ++i) {
            if (stuffed[i] == 0) {
                return false;
            }
            plain.push_back(stuffed[i]);
        }
        at += code;
        if (code != 255 && at < stuffed.size()) {
            plain.push_back(0);
        }
    }
    return true;
}

Bytes frameOf(uint8_t address, const Bytes& data, bool badCrc) {
    Bytes plain = simtest::wire(address, data);
    uint8_t crc = crc8Maxim(plain);
    plain.push_back(badCrc ? static_cast<uint8_t>(crc ^ 0xFF) : crc);
    Bytes frame = cobsStuff(plain);
    frame.push_back(0);
    return frame;
}

FrameTerminal::~FrameTerminal() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool FrameTerminal::open(const std::string& path) {
    // The simulator has made the line raw already, as a module's serial device is.
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    return fd_ >= 0;
}

void FrameTerminal::sendBytes(const Bytes& bytes) {
    simtest::writeAll(fd_, bytes);
}

bool FrameTerminal::receiveRaw(Bytes& stuffed, int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        auto end = std::find(pending_.begin(), pending_.end(), 0);
        if (end != pending_.end()) {
            stuffed.assign(pending_.begin(), end);
            pending_.erase(pending_.begin(), end + 1);
            return true;
        }
        int64_t left = deadline - nowMs();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
            return false;
        }
        uint8_t chunk[256];
        ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;  // hung up
        }
        if (n > 0) {
            pending_.insert(pending_.end(), chunk, chunk + n);
        } else if (n == 0 && (p.revents & POLLHUP)) {
            return false;
        }
    }
}

bool FrameTerminal::receive(simtest::WirePacket& packet, int timeoutMs, bool keepHeartbeats) {
    int64_t deadline = nowMs() + timeoutMs;
    Bytes stuffed;
    Bytes plain;
    while (receiveRaw(stuffed, static_cast<int>(std::max<int64_t>(0, deadline - nowMs())))) {
        if (!cobsUnstuff(stuffed, plain) || plain.size() < 3 || plain.size() != plain[1] + 3u ||
            crc8Maxim(Bytes(plain.begin(), plain.end() - 1)) != plain.back()) {
            ++badFrames;
            continue;
        }
        packet.address = plain[0];
        packet.data.assign(plain.begin() + 2, plain.end() - 1);
        bool heartbeat = packet.data.size() == 2 && packet.data[0] == 0 && packet.data[1] < 2;
        if (keepHeartbeats || !heartbeat) {
            return true;
        }
    }
    return false;
}

simtest::WirePacket FrameTerminal::exchange(uint8_t address, const Bytes& data) {
    sendPacket(address, data);
    simtest::WirePacket reply;
    if (!receive(reply)) {
        return simtest::WirePacket();
    }
    return reply;
}

bool FrameTerminal::quietFor(int ms) {
    return simtest::descriptorQuietFor(fd_, ms);
}

bool FrameTerminal::hungUp(int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(deadline - nowMs())) != 1) {
            return false;
        }
        if (p.revents & (POLLHUP | POLLERR)) {
            return true;
        }
        uint8_t buffer[256];
        if (read(fd_, buffer, sizeof buffer) < 0 && errno != EAGAIN && errno != EINTR) {
            return true;
        }
    }
    return false;
}

}  // namespace cobstest
