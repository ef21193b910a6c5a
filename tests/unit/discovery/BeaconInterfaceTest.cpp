#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "zBeaconInterface.h"

namespace {

TEST(BeaconInterfaceTest, AcceptsDottedAddressEmptyAndStar) {
    for (const char* text : {"10.77.0.1", "", "*"}) {
        ASSERT_TRUE(zBeaconInterface_setAndLock(text)) << text;
        EXPECT_STREQ(zBeaconInterface_get(), text);
        zBeaconInterface_unlock();
    }
}

TEST(BeaconInterfaceTest, RefusedValuesTakeNoLockAndChangeNothing) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("10.77.0.2"));
    zBeaconInterface_unlock();
    for (const char* text : {"eth0", "10.77.0", "10.77.0.1.5", "**", " 10.77.0.1", "::1"}) {
        EXPECT_FALSE(zBeaconInterface_setAndLock(text)) << text;
        EXPECT_FALSE(zBeaconInterface_backupSetAndLock(text)) << text;
    }
    EXPECT_FALSE(zBeaconInterface_setAndLock(nullptr));
    EXPECT_STREQ(zBeaconInterface_get(), "10.77.0.2");
    // Had a refused call kept the lock, this thread could not take it again.
    ASSERT_TRUE(zBeaconInterface_setAndLock("*"));
    zBeaconInterface_unlock();
}

TEST(BeaconInterfaceTest, BackupIsPutBackOnRestore) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("10.77.0.2"));
    zBeaconInterface_unlock();
    ASSERT_TRUE(zBeaconInterface_backupSetAndLock("10.77.0.1"));
    EXPECT_STREQ(zBeaconInterface_get(), "10.77.0.1");
    EXPECT_STREQ(zBeaconInterface_getBackup(), "10.77.0.2");
    zBeaconInterface_restoreAndUnlock();
    EXPECT_STREQ(zBeaconInterface_get(), "10.77.0.2");
    const char* backup = zBeaconInterface_getBackupAndLock();
    ASSERT_NE(backup, nullptr);
    EXPECT_STREQ(backup, "10.77.0.2");
    zBeaconInterface_unlock();
}

TEST(BeaconInterfaceTest, HolderTakingItAgainIsRefusedNotDeadlocked) {
    // Deliberate: the holder taking the lock again is refused, so a search never deadlocks.
    ASSERT_TRUE(zBeaconInterface_setAndLock("10.77.0.1"));
    EXPECT_FALSE(zBeaconInterface_setAndLock("10.77.0.2"));
    EXPECT_EQ(zBeaconInterface_getAndLock(), nullptr);
    EXPECT_STREQ(zBeaconInterface_get(), "10.77.0.1");
    zBeaconInterface_unlock();
}

TEST(BeaconInterfaceTest, OtherThreadsWaitForTheHolder) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("10.77.0.1"));
    std::atomic<bool> taken{false};
    std::thread other([&taken] {
        // Deliberate: only the holder may release the lock, so no other thread frees it by mistake.
        // Neither may release or overwrite what this test's thread holds.
        zBeaconInterface_unlock();
        zBeaconInterface_restoreAndUnlock();
        ASSERT_TRUE(zBeaconInterface_setAndLock("10.77.0.2"));
        taken = true;
        zBeaconInterface_unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(taken.load());
    EXPECT_STREQ(zBeaconInterface_get(), "10.77.0.1");
    zBeaconInterface_unlock();
    other.join();
    EXPECT_TRUE(taken.load());
    EXPECT_STREQ(zBeaconInterface_get(), "10.77.0.2");
}

}  // namespace
