// The recovery's hold on its serial port: a second holder is refused and told who has it; paths
// that are not serial ports are never locked.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "../streams/PseudoTerminal.h"
#include "SerialPortLock.h"

namespace {

TEST(SerialPortLock, SecondHolderOfAPortIsToldTheFirst) {
    PseudoTerminal line;
    ASSERT_TRUE(line.ready());
    {
        SerialPortLock first(line.slavePath());
        EXPECT_FALSE(first.busy());
        SerialPortLock second(line.slavePath());
        EXPECT_TRUE(second.busy());
        EXPECT_EQ(second.holder(), getpid());
    }
    EXPECT_FALSE(SerialPortLock(line.slavePath()).busy());
}

TEST(SerialPortLock, OnlyTerminalsAreLocked) {
    // Every program shares the null device; a lock someone holds on it must not stop a recovery.
    const int other = open("/dev/null", O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(SerialPortLock("/dev/null").busy());
    close(other);
    EXPECT_FALSE(SerialPortLock("/nonexistent/ttyUSB9").busy());
}

}  // namespace
