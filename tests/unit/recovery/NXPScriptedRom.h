// A scripted LPC ISP bootloader on the far end of a pseudo-terminal: a thread on the master side
// that waits for given text from the host and answers with canned bytes, optionally echoing
// every byte it receives first (as the ROM does with echo on). It records everything the host
// sent, so tests can compare the exact bytes on the wire.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

class NXPScriptedRom {
  public:
    struct Step {
        std::string await;  // text the host must have sent (after the previous step's match)
        std::string reply;  // bytes sent back once it has
        int delayMs = 0;    // time the "chip" takes before replying
    };

    explicit NXPScriptedRom(bool echoAll = false) : echoAll_(echoAll) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            const char* name = ptsname(master_);
            if (name != nullptr) {
                path_ = name;
            }
            termios t{};
            tcgetattr(master_, &t);
            cfmakeraw(&t);
            tcsetattr(master_, TCSANOW, &t);
        }
    }
    ~NXPScriptedRom() {
        finish();
        if (master_ >= 0) {
            close(master_);
        }
    }
    NXPScriptedRom(const NXPScriptedRom&) = delete;
    NXPScriptedRom& operator=(const NXPScriptedRom&) = delete;

    bool ready() const { return master_ >= 0 && !path_.empty(); }
    const std::string& path() const { return path_; }

    void start(std::vector<Step> steps) {
        steps_ = std::move(steps);
        thread_ = std::thread([this] { run(); });
    }

    // Stops the peer and returns every byte the host sent. Everything the host wrote before the
    // call is already in the terminal's buffer, so a last drain catches it all.
    std::string finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return received_;
    }

    size_t stepsDone() const { return stepsDone_; }
    bool allStepsDone() const { return stepsDone_ == steps_.size(); }

  private:
    static constexpr int kStepTimeoutMs = 15000;

    void run() {
        auto stepStarted = std::chrono::steady_clock::now();
        while (!stop_) {
            answerMatchedSteps(stepStarted);
            if (!readAvailable(20) && stepsDone_ < steps_.size() &&
                std::chrono::steady_clock::now() - stepStarted >
                    std::chrono::milliseconds(kStepTimeoutMs)) {
                break;  // the host never sent what this step waits for
            }
        }
        while (readAvailable(0)) {
        }
    }

    void answerMatchedSteps(std::chrono::steady_clock::time_point& stepStarted) {
        while (stepsDone_ < steps_.size()) {
            const Step& step = steps_[stepsDone_];
            size_t at = received_.find(step.await, cursor_);
            if (at == std::string::npos) {
                return;
            }
            cursor_ = at + step.await.size();
            if (step.delayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            }
            writeAll(step.reply);
            ++stepsDone_;
            stepStarted = std::chrono::steady_clock::now();
        }
    }

    // True when bytes were read.
    bool readAvailable(int timeoutMs) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1 || (p.revents & POLLIN) == 0) {
            if (p.revents != 0) {
                // The host has not opened (or has closed) its side yet.
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs > 0 ? 5 : 0));
            }
            return false;
        }
        char buffer[512];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        std::string bytes(buffer, static_cast<size_t>(n));
        received_ += bytes;
        if (echoAll_) {
            writeAll(bytes);
        }
        return true;
    }

    void writeAll(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                return;
            }
            done += static_cast<size_t>(n);
        }
    }

    int master_ = -1;
    std::string path_;
    bool echoAll_;
    std::vector<Step> steps_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> stepsDone_{0};
    size_t cursor_ = 0;
    std::string received_;
};
