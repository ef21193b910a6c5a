// Paces one direction of the line to the rate the host set: ten bit times per byte (start,
// eight data bits, stop), with a UART FIFO's worth of bytes allowed back to back.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace lpcsim {

class LinePacer {
  public:
    using Clock = std::chrono::steady_clock;

    // rate gives the current bits per second; 0 (or a pacer not enabled) means no limit.
    LinePacer(bool enabled, std::function<unsigned()> rate);

    // Bytes that may pass now (at most `wanted`).
    size_t allowance(Clock::time_point now, size_t wanted);
    void spend(size_t bytes);
    // When the next byte may pass.
    Clock::time_point nextByte(Clock::time_point now) const;
    // When `pending` bytes may pass back to back, or half as many as the FIFO holds: the time to
    // wake for them. Waking for each byte would cost a wake-up every few tens of microseconds at
    // the faster rates.
    Clock::time_point readyFor(Clock::time_point now, size_t pending) const;

  private:
    void refill(Clock::time_point now);

    bool enabled_;
    std::function<unsigned()> rate_;
    double credit_;
    double bytesPerSecond_ = 0;
    Clock::time_point last_;
};

}  // namespace lpcsim
