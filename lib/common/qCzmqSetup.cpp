#include "qCzmqSetup.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>

#include "qDebugging.h"

void qCzmq_Prepare() {
    static std::once_flag prepared;
    std::call_once(prepared, [] { zsys_handler_set(nullptr); });
}

bool qCzmq_PollerEnded(zpoller_t* poller) {
    if (!zpoller_terminated(poller) || zsys_interrupted) {
        return false;
    }
    return zmq_errno() != EINTR;
}

bool qCzmq_PassOnInterrupt() {
    if (!zsys_interrupted) {
        return false;
    }
    struct sigaction previous {};
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGINT, &fallback, &previous);
    int result = kill(getpid(), SIGINT);
    qDebug_Print(qDEBUG_CLIENT, "Ctrl+C signal for pid: %d Success: %d\n",
                 static_cast<int>(getpid()), result == 0 ? 1 : 0);
    // Only reached while SIGINT is blocked in this thread: keep the program's handler for later.
    sigaction(SIGINT, &previous, nullptr);
    return true;
}
