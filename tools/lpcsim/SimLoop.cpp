#include "SimLoop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lpcsim {

namespace {
// Input not yet taken by the chip is held up to this much before the pty is left to fill up.
constexpr size_t kInboxLimit = 1 << 16;
constexpr auto kLongestWait = std::chrono::seconds(1);
}  // namespace

SimLoop::SimLoop(const SimOptions& options, simtools::Pty& port, IspSession& session)
    : options_(options),
      port_(port),
      session_(session),
      inPacer_(options.baudLimit, [&port] { return port.lineRate(); }),
      outPacer_(options.baudLimit, [&port] { return port.lineRate(); }) {}

void SimLoop::run(int stopFd) {
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(options_.durationSeconds));
    for (;;) {
        Clock::time_point now = Clock::now();
        if (now >= deadline) {
            break;
        }
        takeInput(now);
        session_.run(now);
        wire_ += session_.takeDue(now);
        giveOutput(now);

        pollfd fds[2] = {{port_.master(), 0, 0}, {stopFd, POLLIN, 0}};
        if (inbox_.size() < kInboxLimit) {
            fds[0].events |= POLLIN;
        }
        if (!wire_.empty() && outPacer_.nextByte(now) <= now) {
            fds[0].events |= POLLOUT;
        }
        const timespec wait = waitTime(now, deadline);
        int ready = ppoll(fds, 2, &wait, nullptr);
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            readPort();
        } else if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP))) {
            usleep(10000);  // no reader on the line: wait for the host to come back
        }
    }
}

void SimLoop::takeInput(Clock::time_point now) {
    size_t count = inPacer_.allowance(now, inbox_.size());
    if (count > 0) {
        session_.feed(inbox_.data(), count);
        inbox_.erase(0, count);
        inPacer_.spend(count);
    }
}

void SimLoop::giveOutput(Clock::time_point now) {
    size_t count = outPacer_.allowance(now, wire_.size());
    if (count == 0) {
        return;
    }
    ssize_t written = write(port_.master(), wire_.data(), count);
    if (written > 0) {
        wire_.erase(0, static_cast<size_t>(written));
        outPacer_.spend(static_cast<size_t>(written));
    }
}

// To the microsecond: at 230400 baud the FIFO's 16 bytes cross the line in 0.7 ms, so a wait
// rounded up to whole milliseconds would hold the line below its rate.
timespec SimLoop::waitTime(Clock::time_point now, Clock::time_point deadline) const {
    Clock::time_point next = std::min({deadline, session_.nextEvent(), now + kLongestWait});
    if (!inbox_.empty()) {
        next = std::min(next, inPacer_.readyFor(now, inbox_.size()));
    }
    // Output the line may take now waits for POLLOUT; paced output waits for its time.
    if (!wire_.empty() && outPacer_.nextByte(now) > now) {
        next = std::min(next, outPacer_.readyFor(now, wire_.size()));
    }
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(
        std::max(next - now, Clock::duration::zero()));
    timespec value{};
    value.tv_sec = static_cast<time_t>(wait.count() / 1000000);
    value.tv_nsec = static_cast<long>(wait.count() % 1000000) * 1000;
    return value;
}

void SimLoop::readPort() {
    char buffer[4096];
    ssize_t got = read(port_.master(), buffer, sizeof(buffer));
    if (got > 0) {
        inbox_.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace lpcsim
