#include "Pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace simtools {

namespace {

struct RateName {
    speed_t code;
    unsigned rate;
};

const RateName kRates[] = {
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool Pty::open(const PtyLine& line, std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = failure("cannot make a pseudo-terminal");
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = failure("cannot name the pseudo-terminal");
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
        error = failure("cannot open " + slavePath_);
        return false;
    }
    cfmakeraw(&settings);
    if (line.timedReads) {
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 1;
    }
    if (line.rate != 0) {
        cfsetspeed(&settings, line.rate);
    }
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
        error = failure("cannot set up " + slavePath_);
        return false;
    }
    return true;
}

void Pty::close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

void Pty::dropUnread() {
    if (slave_ >= 0) {
        tcflush(slave_, TCIFLUSH);
    }
}

unsigned Pty::lineRate() const {
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
        return 0;
    }
    speed_t code = cfgetospeed(&settings);
    for (const RateName& entry : kRates) {
        if (entry.code == code) {
            return entry.rate;
        }
    }
    return 0;
}

}  // namespace simtools
