// Idle cost of a connected link: a TCP/IP link to a module that accepts the connection and then
// says nothing, held for a while, against a thread that simply blocks in poll() for as long.
// Prints the process CPU time over the wall time, as a percentage of one core.
//
//   bench_idle_link [--seconds N]     (default 10 seconds per measurement)
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "LoopbackListener.h"
#include "qLink.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// CPU time of the whole process while body runs, as a percentage of one core.
template <typename Body>
double percentOfCore(Body body) {
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    body();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    return 100.0 * (cpuSeconds() - cpuBefore) / wall;
}

double idleLink(int seconds, bool* ok) {
    // A silent module: it accepts the connection and never writes.
    LoopbackListener module;
    qLinkID id = qLink_CreateTCPIP(0x1D1E1D1E, LoopbackListener::address(), module.port());
    const int connection = id != 0 ? module.accept() : -1;
    *ok = connection >= 0;
    if (!*ok) {
        if (id != 0) {
            qLink_Destroy(&id);
        }
        return 0.0;
    }
    // Let the start-up traffic (the route command) settle first.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    double percent =
        percentOfCore([seconds] { std::this_thread::sleep_for(std::chrono::seconds(seconds)); });
    *ok = qLink_GetStatus(id) == qLINK_STATUS_RUNNING;
    qLink_Destroy(&id);
    close(connection);
    return percent;
}

double blockedInPoll(int seconds) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        return 0.0;
    }
    double percent = percentOfCore([&] {
        std::thread waiter([&] {
            pollfd never{pair[0], POLLIN, 0};
            poll(&never, 1, seconds * 1000);
        });
        waiter.join();
    });
    close(pair[0]);
    close(pair[1]);
    return percent;
}

int secondsFrom(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0) {
            int seconds = atoi(argv[i + 1]);
            return seconds > 0 ? seconds : 10;
        }
    }
    return 10;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = secondsFrom(argc, argv);
    printf("idle connected TCP/IP link, %d s each\n", seconds);
    const double baseline = blockedInPoll(seconds);
    printf("  baseline (thread blocked in poll): %.3f %% of one core\n", baseline);
    bool ok = false;
    const double link = idleLink(seconds, &ok);
    if (!ok) {
        printf("  link: could not hold a connected link\n");
        return 1;
    }
    printf("  link (reader + writer idle):       %.3f %% of one core\n", link);
    return 0;
}
