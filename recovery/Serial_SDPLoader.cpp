#include "Serial_SDPLoader.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "Log.h"
#include "qStreamDescriptor.h"

struct PrivateSerial_SDPLoader {
    std::string devicePath;
    int fd = -1;
    termios settings{};
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto STALL_LIMIT = std::chrono::seconds(2);
constexpr auto RETRY_PAUSE = std::chrono::milliseconds(1);
// The ROM needs a moment after the line is set up before it takes commands reliably.
constexpr auto SETTLE_TIME = std::chrono::seconds(1);
// Answers are 8 bytes; a line that keeps babbling is not let hold the caller.
constexpr size_t READ_LIMIT = 65536;
constexpr unsigned LAST_OFFSET = 15;
constexpr size_t VALUE_OFFSET = 4;

bool isRetryable(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// The answer time-out must not start while the UART still shifts the command out.
void waitUntilSent(int fd) {
    const auto deadline = Clock::now() + STALL_LIMIT;
    int pending = 0;
    while (ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0) {
        if (Clock::now() >= deadline) {
            return;
        }
        std::this_thread::sleep_for(RETRY_PAUSE);
    }
    tcdrain(fd);
}

bool setUpLine(int fd, termios& settings) {
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    return tcsetattr(fd, TCSAFLUSH, &settings) == 0;
}

}  // namespace

Serial_SDPLoader::Serial_SDPLoader(const char* devicePath) : d_(new PrivateSerial_SDPLoader) {
    if (devicePath != nullptr) {
        d_->devicePath = devicePath;
    }
}

Serial_SDPLoader::~Serial_SDPLoader() {
    if (d_->fd >= 0) {
        tcflush(d_->fd, TCIOFLUSH);
        close(d_->fd);
    }
}

bool Serial_SDPLoader::init() {
    if (d_->fd >= 0) {
        close(d_->fd);
        d_->fd = -1;
    }
    int fd = open(d_->devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        Log::log(DEBUG_iMXSerial, "Could not open %s\n", d_->devicePath.c_str());
        return false;
    }
    if (!isatty(fd) || !setUpLine(fd, d_->settings)) {
        Log::log(DEBUG_iMXSerial, "%s is not a serial port\n", d_->devicePath.c_str());
        close(fd);
        return false;
    }
    std::this_thread::sleep_for(SETTLE_TIME);
    tcflush(fd, TCIOFLUSH);
    d_->fd = fd;
    return true;
}

long Serial_SDPLoader::writeData(const std::vector<uint8_t>& command) {
    if (d_->fd < 0) {
        return -1;
    }
    if (command.size() < 2) {
        return 0;
    }
    const uint8_t* bytes = command.data() + 1;
    const size_t size = command.size() - 1;
    size_t written = 0;
    auto lastProgress = Clock::now();
    while (written < size) {
        ssize_t n = write(d_->fd, bytes + written, size - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if ((n < 0 && !isRetryable(errno)) || Clock::now() - lastProgress >= STALL_LIMIT) {
            break;
        }
        std::this_thread::sleep_for(RETRY_PAUSE);
    }
    if (written == 0) {
        return -1;
    }
    waitUntilSent(d_->fd);
    return static_cast<long>(written);
}

long Serial_SDPLoader::readData(std::vector<uint8_t>& answer, unsigned timeoutMs) {
    if (d_->fd < 0) {
        return -1;
    }
    qStream* line = qStream_CreateDescriptorInput(d_->fd);
    if (line == nullptr) {
        return -1;
    }
    // The answer is complete once the time is up: take all that came and what is still waiting.
    std::vector<uint8_t> arrived(READ_LIMIT);
    size_t count = qStream_ReadWithin(line, arrived.data(), arrived.size(), timeoutMs);
    qStream_Destroy(&line);
    answer.insert(answer.end(), arrived.begin(), arrived.begin() + static_cast<long>(count));
    return static_cast<long>(count);
}

bool Serial_SDPLoader::getDataFromBuffer(const std::vector<uint8_t>& answer, unsigned offset,
                                         uint32_t& value) {
    if (offset > LAST_OFFSET || answer.size() < (offset + 2) * 4) {
        return false;
    }
    const size_t first = offset + VALUE_OFFSET;
    value |= littleEndianAt(answer, first);
    return true;
}
