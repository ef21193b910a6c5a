#include "LpcSimHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "TestSupport.h"

namespace lpctest {

namespace {

int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

std::string lpcsimBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/lpcsim/lpcsim";
}

HostLine::~HostLine() {
    close();
}

bool HostLine::open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    termios raw{};
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B230400);
    return tcsetattr(fd_, TCSANOW, &raw) == 0;
}

void HostLine::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void HostLine::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(fd_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
        } else {
            pollfd pfd{fd_, POLLOUT, 0};
            if (poll(&pfd, 1, 5000) <= 0) {
                ADD_FAILURE() << "the line takes no more bytes";
                return;
            }
        }
    }
}

std::string HostLine::read(size_t count, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    while (got.size() < count) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, millisecondsLeft(deadline)) <= 0) {
            break;
        }
        char buffer[4096];
        ssize_t n = ::read(fd_, buffer, std::min(sizeof(buffer), count - got.size()));
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
        }
    }
    return got;
}

std::string HostLine::drain(int quietMs) {
    std::string got;
    for (;;) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, quietMs) <= 0) {
            return got;
        }
        char buffer[4096];
        ssize_t n = ::read(fd_, buffer, sizeof(buffer));
        if (n <= 0) {
            return got;
        }
        got.append(buffer, static_cast<size_t>(n));
    }
}

uint32_t sumOf(const Bytes& bytes, size_t from, size_t to) {
    uint32_t sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += bytes[i];
    }
    return sum;
}

Bytes patternBytes(size_t count, uint8_t seed) {
    const std::string bytes = zvtest::seededBytes(count, seed);
    return Bytes(bytes.begin(), bytes.end());
}

bool LpcSimTest::start(std::vector<std::string> options) {
    std::vector<std::string> args = {"--duration", "120", "--erase-ms-per-sector", "1"};
    args.insert(args.end(), options.begin(), options.end());
    sim = std::make_unique<zvtest::BackgroundProgram>(lpcsimBinary(), args, dir.file("stderr"));
    if (!sim->waitReady(20000)) {
        ADD_FAILURE() << "lpcsim did not come up";
        return false;
    }
    std::string path = sim->startupValue("pty");
    if (path.rfind("/dev/pts/", 0) != 0 || !line.open(path)) {
        ADD_FAILURE() << "no pty line: '" << path << "'";
        return false;
    }
    return true;
}

void LpcSimTest::synchronise() {
    line.send("?");
    ASSERT_EQ(line.read(14), "Synchronized\r\n");
    expectReply("Synchronized", "Synchronized\rOK\r\n\n");
    expectReply("14746", "14746\rOK\r\n\n");
}

void LpcSimTest::expectReply(const std::string& text, const std::string& reply) {
    line.send(text + "\r\n");
    EXPECT_EQ(line.read(reply.size()), reply) << "after " << text;
}

void LpcSimTest::expectCode(const std::string& command, int code) {
    expectReply(command, command + "\r" + std::to_string(code) + "\r\n\n");
}

void LpcSimTest::writeRam(uint32_t address, const Bytes& data, int badBlock) {
    std::string command = "W " + std::to_string(address) + " " + std::to_string(data.size());
    expectCode(command, 0);
    size_t acknowledged = 0;
    int block = 0;
    bool spoilt = false;
    while (acknowledged < data.size()) {
        ++block;
        size_t at = acknowledged;
        for (int lines = 0; lines < 20 && at < data.size(); ++lines) {
            size_t count = std::min<size_t>(45, data.size() - at);
            std::string text = uuLine(data.data() + at, count);
            expectReply(text, text + "\r\n");
            at += count;
        }
        uint32_t sum = sumOf(data, acknowledged, at);
        bool wrong = block == badBlock && !spoilt;
        std::string sumText = std::to_string(wrong ? sum + 1 : sum);
        expectReply(sumText, sumText + "\r" + (wrong ? "RESEND" : "OK") + "\r\n\n");
        if (wrong) {
            spoilt = true;
            --block;
        } else {
            acknowledged = at;
        }
    }
}

Bytes LpcSimTest::readMemory(uint32_t address, uint32_t count) {
    std::string command = "R " + std::to_string(address) + " " + std::to_string(count);
    line.send(command + "\r\n");
    EXPECT_EQ(line.read(command.size() + 4), command + "\r0\r\n");
    Bytes data;
    size_t pendingLf = 1;  // the command's own LF is echoed once the ROM reads on
    while (data.size() < count) {
        size_t blockStart = data.size();
        for (int lines = 0; lines < 20 && data.size() < count; ++lines) {
            size_t expect = std::min<size_t>(45, count - data.size());
            std::string text = line.read(1 + (expect + 2) / 3 * 4 + 2);
            EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
            Bytes decoded = uuDecode(text.substr(0, text.size() - 2));
            EXPECT_EQ(decoded.size(), expect);
            data.insert(data.end(), decoded.begin(), decoded.end());
        }
        std::string sumLine = std::to_string(sumOf(data, blockStart, data.size())) + "\r\n";
        EXPECT_EQ(line.read(sumLine.size() + pendingLf), sumLine + std::string(pendingLf, '\n'));
        line.send("OK\r\n");
        EXPECT_EQ(line.read(3), "OK\r");
        pendingLf = 1;
    }
    EXPECT_EQ(line.read(1), "\n");
    return data;
}

std::string LpcSimTest::stderrText() const {
    return zvtest::readFile(dir.file("stderr"));
}

}  // namespace lpctest
