#include "Lifetime.h"

void Lifetime::requestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

bool Lifetime::stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

bool Lifetime::sleepUnlessStopped(std::chrono::milliseconds duration) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, duration, [this] { return stopping_; });
}

void Lifetime::markListenFinished() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listenFinished_ = true;
        stopping_ = true;
    }
    changed_.notify_all();
}

bool Lifetime::listenFinished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listenFinished_;
}
