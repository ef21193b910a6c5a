// The module lock in the store: one holder at a time, the holder named to the others, nothing
// left behind by a holder that is gone, and no trace of it in the store's device search.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ModuleLock.h"
#include "TestSupport.h"
#include "UpdaterStore.h"

namespace {

constexpr unsigned kSerial = 0x40F5849A;

class ModuleLockTest : public ::testing::Test {
  protected:
    std::string lockFile() const { return store.path() + "/.locks/40F5849A"; }
    zvtest::TempDir store;
};

TEST_F(ModuleLockTest, SecondTakerIsRefusedWithTheHoldersProcess) {
    const std::string self = std::to_string(getpid());
    {
        ModuleLock first(store.path(), kSerial);
        ASSERT_TRUE(first.held()) << first.failure();
        EXPECT_EQ(zvtest::readFile(lockFile()), self + "\n");
        // Another open file of the lock conflicts even inside one process, as another Updater's.
        ModuleLock second(store.path(), kSerial);
        EXPECT_FALSE(second.held());
        EXPECT_EQ(second.failure(), "");
        EXPECT_EQ(second.holder(), getpid());
        EXPECT_EQ(ModuleLock::Holder(store.path(), kSerial), getpid());
        // Other modules are independent.
        EXPECT_TRUE(ModuleLock(store.path(), 0x1A2B3C4D).held());
    }
    EXPECT_EQ(ModuleLock::Holder(store.path(), kSerial), 0);
    EXPECT_TRUE(ModuleLock(store.path(), kSerial).held());
}

TEST_F(ModuleLockTest, HolderThatDiedLeavesNothingThatBlocks) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ModuleLock lock(store.path(), kSerial);
        _exit(lock.held() ? 0 : 1);  // dies holding it: no destructor runs
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    // The dead holder's process id is still in the file; only the kernel's lock counts.
    ASSERT_EQ(zvtest::readFile(lockFile()), std::to_string(child) + "\n");
    EXPECT_EQ(ModuleLock::Holder(store.path(), kSerial), 0);
    ModuleLock next(store.path(), kSerial);
    ASSERT_TRUE(next.held()) << next.failure();
    EXPECT_EQ(zvtest::readFile(lockFile()), std::to_string(getpid()) + "\n");
}

TEST_F(ModuleLockTest, LockFileIsNotADeviceOfTheStore) {
    // Looking creates nothing.
    EXPECT_EQ(ModuleLock::Holder(store.path(), kSerial), 0);
    EXPECT_FALSE(zvtest::pathExists(store.path() + "/.locks"));

    ModuleLock lock(store.path(), kSerial);
    ASSERT_TRUE(lock.held());
    UpdaterStore updaterStore(store.path().c_str());
    EXPECT_FALSE(updaterStore.FindDevice(kSerial, nullptr));
    std::vector<UpdaterStoreItem> builds;
    updaterStore.FindLocalBuilds(kSerial, builds);
    EXPECT_TRUE(builds.empty());
}

TEST_F(ModuleLockTest, StoreWhereNoLockCanBeMadeSaysWhy) {
    zvtest::writeFile(store.file(".locks"), "a file in the lock directory's place");
    ModuleLock lock(store.path(), kSerial);
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(lock.holder(), 0);
    EXPECT_EQ(lock.failure(), "cannot create " + store.path() + "/.locks");
}

}  // namespace
