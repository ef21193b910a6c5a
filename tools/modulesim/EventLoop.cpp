#include "EventLoop.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <vector>

namespace modulesim {

int64_t EventLoop::nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void EventLoop::watch(int fd, short events, FdCallback callback) {
    watches_[fd] = Watch{events, nextGeneration_++, std::move(callback)};
}

void EventLoop::setEvents(int fd, short events) {
    auto it = watches_.find(fd);
    if (it != watches_.end()) {
        it->second.events = events;
    }
}

void EventLoop::unwatch(int fd) {
    watches_.erase(fd);
}

EventLoop::TimerId EventLoop::after(int64_t delayMs, TimerCallback callback) {
    TimerId id = nextTimer_++;
    auto it = timers_.emplace(nowMs() + (delayMs > 0 ? delayMs : 0),
                              std::make_pair(id, std::move(callback)));
    timerIndex_[id] = it;
    return id;
}

void EventLoop::cancel(TimerId id) {
    auto found = timerIndex_.find(id);
    if (found != timerIndex_.end()) {
        timers_.erase(found->second);
        timerIndex_.erase(found);
    }
}

void EventLoop::runDueTimers() {
    int64_t now = nowMs();
    while (!stopped_ && !timers_.empty() && timers_.begin()->first <= now) {
        auto first = timers_.begin();
        TimerCallback callback = std::move(first->second.second);
        timerIndex_.erase(first->second.first);
        timers_.erase(first);
        callback();
    }
}

void EventLoop::run(int64_t deadlineMs) {
    std::vector<pollfd> fds;
    std::vector<uint64_t> generations;
    while (!stopped_) {
        runDueTimers();
        int64_t now = nowMs();
        if (stopped_ || now >= deadlineMs) {
            break;
        }
        int64_t wakeAt = deadlineMs;
        if (!timers_.empty() && timers_.begin()->first < wakeAt) {
            wakeAt = timers_.begin()->first;
        }
        fds.clear();
        generations.clear();
        for (const auto& [fd, watch] : watches_) {
            fds.push_back(pollfd{fd, watch.events, 0});
            generations.push_back(watch.generation);
        }
        int ready = poll(fds.data(), fds.size(), static_cast<int>(wakeAt - now));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (size_t i = 0; ready > 0 && i < fds.size() && !stopped_; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            // A callback may have closed or replaced this descriptor meanwhile.
            auto it = watches_.find(fds[i].fd);
            if (it == watches_.end() || it->second.generation != generations[i]) {
                continue;
            }
            FdCallback callback = it->second.callback;
            callback(fds[i].revents);
        }
    }
}

}  // namespace modulesim
