// How the simulators stop: SIGTERM and SIGINT write a byte into a pipe that their poll loop
// watches, so a signal never interrupts a half-done exchange. SIGPIPE is ignored: a peer that
// goes away shows as a write error instead.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace simtools {

inline int& stopPipeWriteEnd() {
    static int fd = -1;
    return fd;
}

inline void onStopSignal(int) {
    char byte = 1;
    ssize_t ignored = write(stopPipeWriteEnd(), &byte, 1);
    (void)ignored;
}

// The read end of the stop pipe, or -1 when no pipe can be made.
inline int installStopSignals() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    stopPipeWriteEnd() = ends[1];
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return ends[0];
}

}  // namespace simtools
