#include "RawPty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace modulesim {

bool RawPty::open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const char* name = nullptr;
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        (name = ptsname(master_)) == nullptr) {
        error = std::string("cannot make a pseudo-terminal: ") + strerror(errno);
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
        error = "cannot open " + slavePath_ + ": " + strerror(errno);
        return false;
    }
    // Raw bytes; a read with nothing waiting returns after 0.1 s, as a serial device does.
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 1;
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
        error = "cannot set up " + slavePath_ + ": " + strerror(errno);
        return false;
    }
    return true;
}

void RawPty::close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

void RawPty::dropUnread() {
    if (slave_ >= 0) {
        tcflush(slave_, TCIFLUSH);
    }
}

}  // namespace modulesim
