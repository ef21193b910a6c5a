#include "StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

volatile sig_atomic_t stopSeen = 0;
// The write end is written from the handler, the read end polled: the main loop wakes at once.
int wakePipe[2] = {-1, -1};

void noteStop(int) {
    const int saved = errno;
    stopSeen = 1;
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        (void)!write(wakePipe[1], &byte, 1);
    }
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    stopSeen = 0;
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
    for (int& end : wakePipe) {
        if (end >= 0) {
            close(end);
            end = -1;
        }
    }
}

bool StopSignals::stopped() const {
    return stopSeen != 0;
}

int StopSignals::descriptor() const {
    return wakePipe[0];
}
