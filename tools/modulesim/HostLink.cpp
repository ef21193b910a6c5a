#include "HostLink.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace modulesim {

namespace {

constexpr size_t kMaxPendingOutput = 1 << 20;
// A host that has not answered this many heartbeats in a row is taken to be gone.
constexpr uint32_t kMaxUnansweredHeartbeats = 3;

// How many of these a host sends depends on timing, so disconnect-after does not count them:
// the heartbeat command goes to the module only to answer its own heartbeats, which its timer
// sends, and a host that synchronises the link sends identify requests in a burst and drops
// those it has not yet sent once the answers line up.
bool sentAtTheClocksPace(const Packet& packet) {
    if (packet.address == kMagicAddress) {
        return packet.data.empty();
    }
    return packet.address != kRouteAddress && !packet.data.empty() &&
           packet.data[0] == kCmdHeartbeat;
}

}  // namespace

HostLink::HostLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log,
                   ChannelTraits traits, std::unique_ptr<Framing> framing)
    : loop_(loop),
      front_(front),
      log_(log),
      defaultLatencyMs_(defaultLatencyMs),
      traits_(traits),
      framing_(framing ? std::move(framing) : std::make_unique<RawFraming>()) {}

HostLink::~HostLink() {
    loop_.cancel(heartbeatTimer_);
    for (const auto& timer : streamTimers_) {
        loop_.cancel(timer.second);
    }
    if (fd_ >= 0) {
        loop_.unwatch(fd_);
    }
}

void HostLink::addBusModule(SimModule& module) {
    busModules_.push_back(&module);
    front_.bus().attach(module.address(), &module.i2cTarget());
}

int HostLink::latencyFor(const SimModule& module) const {
    int own = module.config().faults.latencyMs;
    return own >= 0 ? own : defaultLatencyMs_;
}

void HostLink::setChannel(int fd) {
    fd_ = fd;
    output_.clear();
    loop_.watch(fd, POLLIN, [this](short events) {
        if (events & (POLLIN | POLLHUP | POLLERR)) {
            readable();
        }
        if (fd_ >= 0 && (events & POLLOUT)) {
            writable();
        }
    });
}

void HostLink::clearChannel() {
    if (fd_ >= 0) {
        loop_.unwatch(fd_);
    }
    fd_ = -1;
    output_.clear();
}

void HostLink::startSession() {
    sessionChanging();
    inSession_ = true;
    ++session_;
    framing_->reset();
    armHeartbeat();
}

void HostLink::endSession() {
    if (!inSession_) {
        return;
    }
    inSession_ = false;
    ++session_;
    loop_.cancel(heartbeatTimer_);
    heartbeatTimer_ = 0;
    for (const auto& timer : streamTimers_) {
        loop_.cancel(timer.second);
    }
    streamTimers_.clear();
    front_.endSession();
    for (SimModule* module : busModules_) {
        module->endSession();
    }
    output_.clear();
    framing_->reset();
    sessionChanging();
    if (fd_ >= 0) {
        loop_.setEvents(fd_, POLLIN);
    }
}

void HostLink::readable() {
    uint8_t buffer[4096];
    ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        log_.note(front_.serial(), traits_.endNote);
        dropHost();
        return;
    }
    if (!inSession_) {
        startSession();
    }
    readDone(static_cast<size_t>(count));
    std::vector<Packet> packets;
    std::vector<Rejection> rejected;
    framing_->feed(buffer, static_cast<size_t>(count), packets, rejected);
    uint64_t session = session_;
    auto rejection = rejected.begin();
    for (size_t i = 0; i <= packets.size(); ++i) {
        for (; rejection != rejected.end() && rejection->after == i; ++rejection) {
            log_.note(front_.serial(), rejection->reason);
        }
        if (i == packets.size() || session != session_ || fd_ < 0) {
            break;  // all done, or the link went down while handling an earlier packet
        }
        dispatch(packets[i]);
    }
}

void HostLink::writable() {
    flush();
}

SimModule* HostLink::moduleAt(uint8_t address) {
    if (address == front_.address()) {
        return &front_;
    }
    for (SimModule* module : busModules_) {
        if (module->address() == address) {
            return module;
        }
    }
    return nullptr;
}

bool HostLink::countReceived(SimModule& module, const Packet& packet) {
    uint32_t limit = module.config().faults.disconnectAfter;
    if (limit == 0 || module.disconnectedOnPurpose || sentAtTheClocksPace(packet)) {
        return true;
    }
    if (++module.receivedThisSession >= limit) {
        module.disconnectedOnPurpose = true;
        log_.note(module.serial(), "disconnects on purpose");
        dropHost();
        return false;
    }
    return true;
}

void HostLink::dispatch(const Packet& packet) {
    if (packet.address == kMagicAddress || packet.address == kRouteAddress) {
        // Link-level requests: only the module at the end of the link hears them.
        log_.packet(front_.serial(), '<', packet);
        if (!countReceived(front_, packet)) {
            return;
        }
        const FaultKnobs& faults = front_.config().faults;
        if (packet.address == kRouteAddress) {
            if (packet.data.size() == 1)
                front_.recordRoute(packet.data[0]);
        } else if (packet.data.empty() && faults.silent) {
            log_.note(front_.serial(), "stays silent");
        } else if (packet.data.empty() && !faults.noAddress) {
            sendReply(front_, front_.identifyAnswer());
        }
        return;
    }
    SimModule* module = moduleAt(packet.address);
    if (module == nullptr) {
        log_.packet(front_.serial(), '<', packet);  // nobody at that address
        return;
    }
    dispatchToModule(*module, packet);
}

void HostLink::dispatchToModule(SimModule& module, const Packet& packet) {
    log_.packet(module.serial(), '<', packet);
    if (!countReceived(module, packet)) {
        return;
    }
    if (module.config().faults.silent) {
        log_.note(module.serial(), "stays silent");
        return;
    }
    Outcome outcome;
    int64_t now = EventLoop::nowMs();
    module.handle(packet, now, outcome);
    for (const std::string& note : outcome.notes) {
        log_.note(module.serial(), note);
    }
    for (Packet& reply : outcome.replies) {
        sendReply(module, std::move(reply));
    }
    if (outcome.reboot) {
        log_.note(module.serial(), "restarts");
        if (&module == &front_) {
            rebootFront();
        } else {
            module.reboot(now);
        }
    }
    if (outcome.timingChanged || outcome.reboot) {
        if (&module == &front_)
            armHeartbeat();
        armStream(module);
    }
}

void HostLink::sendReply(SimModule& module, Packet packet) {
    const FaultKnobs& faults = module.config().faults;
    uint64_t count = ++module.repliesSent;
    if (faults.dropEvery != 0 && count % faults.dropEvery == 0) {
        log_.packet(module.serial(), 'x', packet);
        return;
    }
    if (faults.corruptEvery != 0 && count % faults.corruptEvery == 0) {
        // A damaged data byte, or an odd address that throws the host out of step.
        if (packet.data.empty()) {
            packet.address |= 1;
        } else {
            packet.data.back() ^= 0xFF;
        }
        log_.note(module.serial(), "damages the next reply");
    }
    bool badCheck = (faults.badCrcEvery != 0 && count % faults.badCrcEvery == 0) ||
                    (faults.badCrcAt != 0 && count == faults.badCrcAt);
    if (badCheck) {
        log_.note(module.serial(), "spoils the CRC of the next reply");
    }
    send(module, packet, badCheck);
}

void HostLink::send(SimModule& module, const Packet& packet, bool badCheck) {
    int latency = latencyFor(module);
    if (latency <= 0) {
        transmit(module.serial(), packet, badCheck);
        return;
    }
    uint64_t session = session_;
    uint32_t serial = module.serial();
    loop_.after(latency, [this, session, serial, packet, badCheck]() {
        if (session == session_) {
            transmit(serial, packet, badCheck);
        }
    });
}

void HostLink::transmit(uint32_t serial, const Packet& packet, bool badCheck) {
    if (fd_ < 0) {
        return;
    }
    log_.packet(serial, '>', packet);
    std::vector<uint8_t> bytes = framing_->frame(packet, badCheck);
    if (output_.size() + bytes.size() > kMaxPendingOutput) {
        log_.note(serial, "host is not reading; reply dropped");
        return;
    }
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    flush();
}

void HostLink::flush() {
    size_t done = 0;
    while (done < output_.size()) {
        ssize_t count = write(fd_, output_.data() + done, output_.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && errno == EAGAIN) {
            break;
        } else {
            done = output_.size();  // the reading side will notice the broken channel
        }
    }
    output_.erase(output_.begin(), output_.begin() + static_cast<long>(done));
    loop_.setEvents(fd_, output_.empty() ? POLLIN : (POLLIN | POLLOUT));
}

void HostLink::armHeartbeat() {
    loop_.cancel(heartbeatTimer_);
    heartbeatTimer_ = 0;
    int interval = front_.heartbeatMs();
    if (!inSession_ || interval <= 0 || front_.config().faults.silent) {
        return;
    }
    heartbeatTimer_ = loop_.after(interval, [this]() {
        heartbeatTimer_ = 0;
        heartbeatDue();
    });
}

void HostLink::heartbeatDue() {
    if (!inSession_) {
        return;
    }
    if (traits_.hostTrackedByHeartbeat &&
        front_.unansweredHeartbeats() >= kMaxUnansweredHeartbeats) {
        log_.note(front_.serial(), "host stopped answering heartbeats");
        endSession();
        return;
    }
    send(front_, front_.heartbeat());
    front_.heartbeatSent();
    armHeartbeat();
}

void HostLink::armStream(SimModule& module) {
    if (!inSession_ || !module.streaming() || module.config().faults.silent ||
        streamTimers_.count(&module) != 0) {
        return;
    }
    SimModule* target = &module;
    streamTimers_[target] = loop_.after(module.streamMs(), [this, target]() {
        streamTimers_.erase(target);
        streamDue(target);
    });
}

void HostLink::streamDue(SimModule* module) {
    if (!inSession_ || !module->streaming()) {
        return;
    }
    std::vector<Packet> samples;
    module->collectSamples(EventLoop::nowMs(), samples);
    for (const Packet& sample : samples) {
        send(*module, sample);
    }
    armStream(*module);
}

}  // namespace modulesim
