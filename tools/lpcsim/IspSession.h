// One chip's ISP conversation, byte by byte as the ROM's UART loop sees it: autobaud, the
// synchronisation lines, command lines with their echo and return codes, the W and R data
// phases, and the jump into user code. While the chip is busy (erasing, writing) it reads no
// input, so replies and echoes leave in the order a single-threaded ROM would send them.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "DeviceMemory.h"
#include "IspCommands.h"
#include "ReadTransfer.h"
#include "SimOptions.h"
#include "Trace.h"
#include "WriteTransfer.h"

namespace lpcsim {

using Clock = std::chrono::steady_clock;

class IspSession {
  public:
    // flashChanged runs after every erase and copy and when user code starts.
    IspSession(const SimOptions& options, DeviceMemory& memory, const Trace& trace,
               std::function<void()> flashChanged);

    void feed(const char* bytes, size_t count);
    size_t queuedInput() const { return input_.size(); }
    // Takes in what the chip would read by now.
    void run(Clock::time_point now);
    // Bytes due on the line by now.
    std::string takeDue(Clock::time_point now);
    // When something happens next without new input, or Clock::time_point::max().
    Clock::time_point nextEvent() const;

  private:
    enum class Phase {
        Autobaud,
        SyncLine,
        Crystal,
        Command,
        ReceiveData,
        SendData,
        Running,
        Silent
    };
    struct TimedBytes {
        Clock::time_point due;
        std::string bytes;
    };

    void handleByte(char c, Clock::time_point now);
    void autobaud(char c, Clock::time_point now);
    void finishLine(Clock::time_point now);
    void handleLine(const std::string& line, Clock::time_point now);
    void syncLine(const std::string& line, Clock::time_point now);
    void crystalLine(const std::string& line, Clock::time_point now);
    void commandLine(const std::string& line, Clock::time_point now);
    void dataLine(const std::string& line, Clock::time_point now);
    void readAcknowledge(const std::string& line, Clock::time_point now);
    void follow(const CommandOutcome& outcome, Clock::time_point now);
    void send(const std::string& bytes, Clock::time_point now, unsigned busyMs = 0);
    void reply(const std::string& bytes, Clock::time_point now, unsigned busyMs = 0);
    bool echoing() const;

    const SimOptions& options_;
    DeviceMemory& memory_;
    const Trace& trace_;
    std::function<void()> flashChanged_;
    IspCommands commands_;
    Phase phase_;
    std::deque<char> input_;
    std::deque<TimedBytes> output_;
    Clock::time_point busyUntil_{};
    std::string line_;
    bool lineOverflow_ = false;
    bool crPending_ = false;
    Clock::time_point crDeadline_{};
    unsigned commandLines_ = 0;
    unsigned checksums_ = 0;
    std::unique_ptr<WriteTransfer> write_;
    std::unique_ptr<ReadTransfer> read_;
};

}  // namespace lpcsim
