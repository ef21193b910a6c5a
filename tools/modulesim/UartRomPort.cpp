// The ROM's serial line on a pseudo-terminal.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "Pty.h"
#include "RomPort.h"

namespace modulesim {

namespace {

class UartRomPort : public RomPort {
  public:
    explicit UartRomPort(EventLoop& loop) : loop_(loop) {}
    ~UartRomPort() override {
        if (pty_.master() >= 0) {
            loop_.unwatch(pty_.master());
        }
    }

    bool open(BytesHandler handler, std::string& error) override {
        handler_ = std::move(handler);
        if (!pty_.open(simtools::kTimedReadLine, error)) {
            return false;
        }
        loop_.watch(pty_.master(), POLLIN, [this](short) { readable(); });
        return true;
    }

    std::string where() const override { return pty_.slavePath(); }
    std::string kind() const override { return "imx-rom"; }

    void send(const std::vector<SdpRom::Word>& answer) override {
        std::vector<uint8_t> bytes;
        for (const SdpRom::Word& word : answer) {
            for (int shift = 0; shift < 32; shift += 8) {
                bytes.push_back(static_cast<uint8_t>(word.value >> shift));
            }
        }
        // A few bytes at a time into a terminal buffer of kilobytes: a host that reads nothing
        // at all loses answers, as it would on a real line.
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t count = write(pty_.master(), bytes.data() + done, bytes.size() - done);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            done += static_cast<size_t>(count);
        }
    }

    void dropPending() override { pty_.dropUnread(); }

  private:
    void readable() {
        uint8_t buffer[4096];
        ssize_t count = read(pty_.master(), buffer, sizeof buffer);
        if (count > 0) {
            handler_(buffer, static_cast<size_t>(count));
        }
        // With the slave held open the master never ends; EAGAIN and EINTR just wait.
    }

    EventLoop& loop_;
    simtools::Pty pty_;
    BytesHandler handler_;
};

}  // namespace

std::unique_ptr<RomPort> makeUartRomPort(EventLoop& loop) {
    return std::make_unique<UartRomPort>(loop);
}

}  // namespace modulesim
