// A pseudo-terminal pair: the test holds the master side and plays the far end of the line.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            const char* name = ptsname(master_);
            if (name != nullptr) {
                slavePath_ = name;
            }
        }
    }
    ~PseudoTerminal() {
        if (master_ >= 0) {
            close(master_);
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ready() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& slavePath() const { return slavePath_; }

    // Raw line without echo, so bytes pass unchanged both ways even before a stream sets it up.
    void makeRaw() {
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }

    void send(const std::string& bytes) {
        ssize_t n = write(master_, bytes.data(), bytes.size());
        (void)n;
    }

    std::string receive(size_t count, int timeoutMs = 5000) {
        std::string got;
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) {
                break;
            }
            char buffer[256];
            size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
            ssize_t n = read(master_, buffer, want);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // The line settings as the slave side sees them.
    termios slaveSettings() const {
        termios t{};
        int fd = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0) {
            tcgetattr(fd, &t);
            close(fd);
        }
        return t;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};
