#include "PtyPort.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lpcsim {

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

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

PtyPort::~PtyPort() {
    if (slave_ >= 0) {
        close(slave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

bool PtyPort::open(std::string* why) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *why = failure("cannot make a pseudo-terminal");
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof(name)) != 0) {
        *why = failure("cannot name the pseudo-terminal");
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        *why = failure("cannot open the pseudo-terminal's line");
        return false;
    }
    // A serial line carries bytes as they are until the host says otherwise.
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B115200);
    tcsetattr(slave_, TCSANOW, &raw);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

unsigned PtyPort::lineRate() const {
    termios settings{};
    if (tcgetattr(slave_, &settings) != 0) {
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

}  // namespace lpcsim
