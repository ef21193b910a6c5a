#include "LinePacer.h"

#include <algorithm>

namespace lpcsim {

namespace {
constexpr double kFifoBytes = 16;
constexpr double kBitsPerByte = 10;
}  // namespace

LinePacer::LinePacer(bool enabled, std::function<unsigned()> rate)
    : enabled_(enabled), rate_(std::move(rate)), credit_(kFifoBytes), last_(Clock::now()) {}

void LinePacer::refill(Clock::time_point now) {
    bytesPerSecond_ = rate_() / kBitsPerByte;
    std::chrono::duration<double> elapsed = now - last_;
    last_ = now;
    credit_ = std::min(kFifoBytes, credit_ + elapsed.count() * bytesPerSecond_);
}

size_t LinePacer::allowance(Clock::time_point now, size_t wanted) {
    if (!enabled_) {
        return wanted;
    }
    refill(now);
    if (bytesPerSecond_ <= 0) {
        return wanted;
    }
    return std::min(wanted, static_cast<size_t>(std::max(0.0, credit_)));
}

void LinePacer::spend(size_t bytes) {
    if (enabled_ && bytesPerSecond_ > 0) {
        credit_ -= static_cast<double>(bytes);
    }
}

LinePacer::Clock::time_point LinePacer::nextByte(Clock::time_point now) const {
    if (!enabled_ || bytesPerSecond_ <= 0 || credit_ >= 1) {
        return now;
    }
    std::chrono::duration<double> wait((1 - credit_) / bytesPerSecond_);
    return now + std::chrono::duration_cast<Clock::duration>(wait);
}

LinePacer::Clock::time_point LinePacer::readyFor(Clock::time_point now, size_t pending) const {
    // Half the FIFO, as a UART's trigger level: a wake-up that comes late still finds room for
    // the credit that builds meanwhile, which a full FIFO would lose.
    const double wanted = std::min(kFifoBytes / 2, std::max(1.0, static_cast<double>(pending)));
    if (!enabled_ || bytesPerSecond_ <= 0 || credit_ >= wanted) {
        return now;
    }
    std::chrono::duration<double> wait((wanted - credit_) / bytesPerSecond_);
    return now + std::chrono::duration_cast<Clock::duration>(wait);
}

}  // namespace lpcsim
