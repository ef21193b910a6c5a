// The simulator's one thread: poll() over the descriptors of every attachment, and timers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace modulesim {

class EventLoop {
  public:
    using FdCallback = std::function<void(short revents)>;
    using TimerCallback = std::function<void()>;
    using TimerId = uint64_t;

    // Monotonic milliseconds.
    static int64_t nowMs();

    void watch(int fd, short events, FdCallback callback);
    void setEvents(int fd, short events);
    void unwatch(int fd);

    // Timers due at the same moment run in the order they were made, so delayed replies keep
    // their order.
    TimerId after(int64_t delayMs, TimerCallback callback);
    void cancel(TimerId id);

    void stop() { stopped_ = true; }
    // Runs until stop() or until the monotonic clock reaches deadlineMs.
    void run(int64_t deadlineMs);

  private:
    struct Watch {
        short events;
        uint64_t generation;
        FdCallback callback;
    };
    using TimerQueue = std::multimap<int64_t, std::pair<TimerId, TimerCallback>>;

    void runDueTimers();

    std::map<int, Watch> watches_;
    uint64_t nextGeneration_ = 1;
    TimerQueue timers_;
    std::map<TimerId, TimerQueue::iterator> timerIndex_;
    TimerId nextTimer_ = 1;
    bool stopped_ = false;
};

}  // namespace modulesim
