// When the server stops: a signal, the --duration limit, or a failed listen. Handlers that wait
// (delay, stall) wait here, so that stopping never waits for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class Lifetime {
  public:
    void requestStop();
    bool stopping() const;
    // Waits up to duration; true when the server is stopping.
    bool sleepUnlessStopped(std::chrono::milliseconds duration) const;

    void markListenFinished();
    bool listenFinished() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    bool listenFinished_ = false;
};
