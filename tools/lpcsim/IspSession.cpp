#include "IspSession.h"

#include <algorithm>

namespace lpcsim {

namespace {
// Longer lines than any command or data line are cut here; what was cut is lost.
constexpr size_t kMaxLine = 128;
// How long a CR waits for its LF when the LF is echoed before the return code.
constexpr auto kLfWait = std::chrono::milliseconds(50);
// What a host sees when the ROM measured its "?" at a wrong rate.
const std::string kGarbage("\xF0\xF8\x80\x00\xFE", 5);

bool allDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

IspSession::IspSession(const SimOptions& options, DeviceMemory& memory, const Trace& trace,
                       std::function<void()> flashChanged)
    : options_(options),
      memory_(memory),
      trace_(trace),
      flashChanged_(std::move(flashChanged)),
      commands_(options, memory),
      phase_(options.silent ? Phase::Silent : Phase::Autobaud) {}

void IspSession::feed(const char* bytes, size_t count) {
    input_.insert(input_.end(), bytes, bytes + count);
}

void IspSession::run(Clock::time_point now) {
    while (!input_.empty() && now >= busyUntil_) {
        char c = input_.front();
        if (crPending_ && c != '\n') {
            finishLine(now);
            continue;
        }
        input_.pop_front();
        handleByte(c, now);
    }
    if (crPending_ && input_.empty() && now >= crDeadline_ && now >= busyUntil_) {
        finishLine(now);
    }
}

std::string IspSession::takeDue(Clock::time_point now) {
    std::string due;
    while (!output_.empty() && output_.front().due <= now) {
        due += output_.front().bytes;
        output_.pop_front();
    }
    return due;
}

Clock::time_point IspSession::nextEvent() const {
    Clock::time_point next = Clock::time_point::max();
    if (!output_.empty()) {
        next = output_.front().due;
    }
    if (!input_.empty()) {
        next = std::min(next, busyUntil_);
    }
    if (crPending_) {
        next = std::min(next, std::max(crDeadline_, busyUntil_));
    }
    return next;
}

void IspSession::handleByte(char c, Clock::time_point now) {
    if (phase_ == Phase::Silent || phase_ == Phase::Running) {
        return;
    }
    if (phase_ == Phase::Autobaud) {
        autobaud(c, now);
        return;
    }
    if (echoing()) {
        send(std::string(1, c), now);
    }
    if (c == '\r' && options_.lfBeforeCode) {
        crPending_ = true;
        crDeadline_ = now + kLfWait;
    } else if (c == '\r' || c == '\n') {
        finishLine(now);
    } else if (line_.size() < kMaxLine) {
        line_ += c;
    } else {
        lineOverflow_ = true;
    }
}

void IspSession::autobaud(char c, Clock::time_point now) {
    if (c != '?') {
        return;
    }
    if (options_.noSync) {
        reply(kGarbage, now);
        return;
    }
    reply("Synchronized\r\n", now);
    phase_ = Phase::SyncLine;
}

void IspSession::finishLine(Clock::time_point now) {
    crPending_ = false;
    std::string line;
    line.swap(line_);
    bool overflow = lineOverflow_;
    lineOverflow_ = false;
    if (line.empty() && !overflow) {
        return;  // the LF after a CR, or a blank line: echoed, nothing more
    }
    handleLine(overflow ? std::string(kMaxLine + 1, '?') : line, now);
}

void IspSession::handleLine(const std::string& line, Clock::time_point now) {
    switch (phase_) {
        case Phase::SyncLine:
            syncLine(line, now);
            break;
        case Phase::Crystal:
            crystalLine(line, now);
            break;
        case Phase::Command:
            commandLine(line, now);
            break;
        case Phase::ReceiveData:
            dataLine(line, now);
            break;
        case Phase::SendData:
            readAcknowledge(line, now);
            break;
        default:
            break;
    }
}

void IspSession::syncLine(const std::string& line, Clock::time_point now) {
    trace_.received("sync", line);
    if (line == "Synchronized") {
        reply("OK\r\n", now);
        phase_ = Phase::Crystal;
    } else {
        trace_.note("sync line not recognised: back to autobaud");
        phase_ = Phase::Autobaud;
    }
}

void IspSession::crystalLine(const std::string& line, Clock::time_point now) {
    trace_.received("crystal", line);
    if (allDigits(line)) {
        reply("OK\r\n", now);
        phase_ = Phase::Command;
    } else {
        trace_.note("crystal frequency not a number: back to autobaud");
        phase_ = Phase::Autobaud;
    }
}

void IspSession::commandLine(const std::string& line, Clock::time_point now) {
    trace_.received("command", line);
    ++commandLines_;
    CommandOutcome outcome = commands_.execute(line);
    reply(outcome.reply, now, outcome.busyMs);
    if (!outcome.note.empty()) {
        trace_.note(outcome.note);
    }
    if (outcome.flashChanged) {
        flashChanged_();
    }
    follow(outcome, now);
    if (options_.stopAfter != 0 && commandLines_ >= options_.stopAfter) {
        trace_.note("stopping: command line limit reached");
        phase_ = Phase::Silent;
    }
    if (options_.silentAfterCopies != 0 && commands_.copies() >= options_.silentAfterCopies) {
        trace_.note("stopping: copy limit reached");
        phase_ = Phase::Silent;
    }
}

void IspSession::follow(const CommandOutcome& outcome, Clock::time_point now) {
    switch (outcome.next) {
        case CommandOutcome::Next::ReceiveData:
            write_ = std::make_unique<WriteTransfer>(outcome.address, outcome.count);
            phase_ = Phase::ReceiveData;
            break;
        case CommandOutcome::Next::SendData:
            read_ = std::make_unique<ReadTransfer>(memory_.read(outcome.address, outcome.count));
            reply(read_->block(), now);
            phase_ = Phase::SendData;
            break;
        case CommandOutcome::Next::Run:
            trace_.note("running user code from " + std::to_string(outcome.address));
            phase_ = Phase::Running;
            flashChanged_();
            break;
        case CommandOutcome::Next::Command:
            break;
    }
}

void IspSession::dataLine(const std::string& line, Clock::time_point now) {
    trace_.received("data", line);
    if (!write_->checksumDue()) {
        write_->dataLine(line);
        return;
    }
    ++checksums_;
    bool forceResend = options_.badChecksumAlways || checksums_ == options_.badChecksumAt;
    bool good = write_->checksumLine(line, forceResend, memory_);
    reply(good ? "OK\r\n" : "RESEND\r\n", now);
    if (write_->finished()) {
        write_.reset();
        phase_ = Phase::Command;
    }
}

void IspSession::readAcknowledge(const std::string& line, Clock::time_point now) {
    trace_.received("read answer", line);
    if (line == "OK") {
        read_->acknowledge();
    } else if (line != "RESEND") {
        trace_.note("read abandoned by the host");
        read_.reset();
        phase_ = Phase::Command;
        return;
    }
    if (read_->finished()) {
        read_.reset();
        phase_ = Phase::Command;
        return;
    }
    reply(read_->block(), now);
}

void IspSession::send(const std::string& bytes, Clock::time_point now, unsigned busyMs) {
    Clock::time_point due = now + std::chrono::milliseconds(busyMs);
    if (!output_.empty()) {
        due = std::max(due, output_.back().due);
    }
    due = std::max(due, busyUntil_);
    output_.push_back({due, bytes});
    busyUntil_ = due;
}

void IspSession::reply(const std::string& bytes, Clock::time_point now, unsigned busyMs) {
    trace_.replied(bytes);
    send(bytes, now, busyMs);
}

bool IspSession::echoing() const {
    return commands_.echo();
}

}  // namespace lpcsim
