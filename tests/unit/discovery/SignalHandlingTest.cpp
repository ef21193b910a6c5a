// Listing interfaces or searching beacons uses CZMQ, which by default takes over SIGINT and
// SIGTERM; a program using discovery must still stop on Ctrl+C.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "discover.h"

TEST(DiscoverySignals, InterruptStillEndsTheProcessAfterInterfaceListing) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        uint32_t addresses[50];
        qDiscovery_GetIPv4Interfaces(addresses, 50);
        raise(SIGINT);
        // Only reached when the signal was swallowed.
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}
