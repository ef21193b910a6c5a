// The module lock: one holder at a time on the machine, whatever the store, the holder named to
// the others, nothing left behind by a holder that is gone, the store's ".locks" where the
// machine's directory is unfit, and nothing in either place that the lock follows or overwrites.
// Each test gives the lock a machine directory of its own in place of /run/lock/zendrival.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ModuleLock.h"
#include "TestSupport.h"
#include "UpdaterStore.h"

namespace {

constexpr unsigned kSerial = 0x40F5849A;

mode_t modeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Runs work in a child process; its exit code (work's result), or -1 when it died.
template <typename Work>
int inChild(Work work) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(work());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

class ModuleLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The stand-in for /run/lock, sticky and open to all like it.
        ASSERT_EQ(mkdir(runLock.c_str(), 0755), 0);
        ASSERT_EQ(chmod(runLock.c_str(), 01777), 0);
        ASSERT_EQ(mkdir(storePath.c_str(), 0755), 0);
    }
    std::string lockFile() const { return machine + "/40F5849A"; }
    std::string storeLockFile() const { return storePath + "/.locks/40F5849A"; }
    ModuleLock lock(unsigned serial = kSerial) const {
        return ModuleLock(machine, storePath, serial);
    }

    zvtest::TempDir root;
    const std::string runLock = root.file("run-lock");
    const std::string machine = runLock + "/zendrival";
    const std::string storePath = root.file("store");
};

TEST_F(ModuleLockTest, SecondTakerIsRefusedWithTheHoldersProcess) {
    const std::string self = std::to_string(getpid());
    {
        ModuleLock first = lock();
        ASSERT_TRUE(first.held()) << first.failure();
        EXPECT_EQ(first.fallback(), "");
        EXPECT_EQ(first.path(), lockFile());
        EXPECT_EQ(zvtest::readFile(lockFile()), self + "\n");
        // Another open file of the lock conflicts even inside one process, as another Updater's.
        ModuleLock second = lock();
        EXPECT_FALSE(second.held());
        EXPECT_EQ(second.failure(), "");
        EXPECT_EQ(second.holder(), getpid());
        EXPECT_EQ(ModuleLock::Holder(machine, storePath, kSerial), getpid());
        // Other modules are independent.
        EXPECT_TRUE(lock(0x1A2B3C4D).held());
    }
    EXPECT_EQ(ModuleLock::Holder(machine, storePath, kSerial), 0);
    EXPECT_TRUE(lock().held());
}

TEST_F(ModuleLockTest, LockHoldsAcrossStores) {
    const std::string otherStore = root.file("other-store");
    ModuleLock first = lock();
    ASSERT_TRUE(first.held()) << first.failure();
    // Another "-i" directory, the same machine: the same lock.
    ModuleLock second(machine, otherStore, kSerial);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.failure(), "");
    EXPECT_EQ(second.holder(), getpid());
    EXPECT_EQ(ModuleLock::Holder(machine, otherStore, kSerial), getpid());
    EXPECT_FALSE(zvtest::pathExists(otherStore));
}

TEST_F(ModuleLockTest, HolderThatDiedLeavesNothingThatBlocks) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ModuleLock held = lock();
        _exit(held.held() ? 0 : 1);  // dies holding it: no destructor runs
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    // The dead holder's process id is still in the file; only the kernel's lock counts.
    ASSERT_EQ(zvtest::readFile(lockFile()), std::to_string(child) + "\n");
    EXPECT_EQ(ModuleLock::Holder(machine, storePath, kSerial), 0);
    ModuleLock next = lock();
    ASSERT_TRUE(next.held()) << next.failure();
    EXPECT_EQ(zvtest::readFile(lockFile()), std::to_string(getpid()) + "\n");
}

TEST_F(ModuleLockTest, MachineDirectoryIsMadeStickyWithFilesReadableByAll) {
    // Whatever the umask of the run that makes them.
    const mode_t umaskBefore = umask(077);
    ModuleLock held = lock();
    umask(umaskBefore);
    ASSERT_TRUE(held.held()) << held.failure();
    EXPECT_EQ(modeOf(machine), static_cast<mode_t>(S_IFDIR | 01777));
    EXPECT_EQ(modeOf(lockFile()), static_cast<mode_t>(S_IFREG | 0644));
}

TEST_F(ModuleLockTest, LookingCreatesNothingAndTheStoreKeepsNoLock) {
    EXPECT_EQ(ModuleLock::Holder(machine, storePath, kSerial), 0);
    EXPECT_FALSE(ModuleLock::HeldElsewhere(machine, storePath, kSerial));
    EXPECT_FALSE(zvtest::pathExists(machine));
    EXPECT_FALSE(zvtest::pathExists(storePath + "/.locks"));

    ModuleLock held = lock();
    ASSERT_TRUE(held.held());
    EXPECT_FALSE(zvtest::pathExists(storePath + "/.locks"));
    // This process is no other Updater.
    EXPECT_FALSE(ModuleLock::HeldElsewhere(machine, storePath, kSerial));
    UpdaterStore updaterStore(storePath.c_str());
    EXPECT_FALSE(updaterStore.FindDevice(kSerial, nullptr));
    std::vector<UpdaterStoreItem> builds;
    updaterStore.FindLocalBuilds(kSerial, builds);
    EXPECT_TRUE(builds.empty());
}

TEST_F(ModuleLockTest, UnfitMachineDirectoryFallsBackToTheStore) {
    const std::string elsewhere = root.file("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    ASSERT_EQ(chmod(elsewhere.c_str(), 01777), 0);
    struct Unfit {
        const char* what;
        std::function<void()> make;
        std::string machine;
        std::string reason;
    };
    const std::vector<Unfit> cases = {
        {"a symbolic link", [&] { ASSERT_EQ(symlink(elsewhere.c_str(), machine.c_str()), 0); },
         machine, machine + " is a symbolic link"},
        {"no sticky bit", [&] { ASSERT_EQ(mkdir(machine.c_str(), 0777), 0); }, machine,
         machine + " has no sticky bit"},
        {"a file", [&] { zvtest::writeFile(machine, ""); }, machine,
         machine + " is not a directory"},
        {"no /run/lock", [] {}, root.file("no-run-lock/zendrival"),
         "cannot create " + root.file("no-run-lock/zendrival") + ": No such file or directory"},
    };
    for (const Unfit& unfit : cases) {
        SCOPED_TRACE(unfit.what);
        unfit.make();
        {
            ModuleLock held(unfit.machine, storePath, kSerial);
            ASSERT_TRUE(held.held()) << held.failure();
            EXPECT_EQ(held.fallback(), unfit.reason);
            EXPECT_EQ(held.path(), storeLockFile());
            EXPECT_EQ(ModuleLock::StorePath(storePath, kSerial), storeLockFile());
            EXPECT_EQ(zvtest::readFile(storeLockFile()), std::to_string(getpid()) + "\n");
            // "-D" looks in the store too.
            EXPECT_EQ(ModuleLock::Holder(unfit.machine, storePath, kSerial), getpid());
            ModuleLock second(unfit.machine, storePath, kSerial);
            EXPECT_FALSE(second.held());
            EXPECT_EQ(second.holder(), getpid());
        }
        // Nothing was made through the link.
        EXPECT_FALSE(zvtest::pathExists(elsewhere + "/40F5849A"));
        zvtest::runProgram("/bin/rm", {"-rf", machine});
    }
}

TEST_F(ModuleLockTest, StoreWhereNoLockCanBeMadeSaysWhy) {
    const std::string unfit = root.file("no-run-lock/zendrival");
    zvtest::writeFile(storePath + "/.locks", "a file in the lock directory's place");
    ModuleLock held(unfit, storePath, kSerial);
    EXPECT_FALSE(held.held());
    EXPECT_EQ(held.holder(), 0);
    EXPECT_NE(held.fallback(), "");
    EXPECT_EQ(held.failure(), "cannot create " + storePath + "/.locks");
}

TEST_F(ModuleLockTest, LockInOnePlaceKeepsOffATakerInTheOther) {
    // A run in the machine's directory, then one that falls back (the directory lost its sticky
    // bit): the second sees the first's lock there.
    {
        ModuleLock inMachine = lock();
        ASSERT_TRUE(inMachine.held());
        ASSERT_EQ(chmod(machine.c_str(), 0777), 0);
        ModuleLock inStore = lock();
        EXPECT_NE(inStore.fallback(), "");
        EXPECT_FALSE(inStore.held());
        EXPECT_EQ(inStore.failure(), "");
        EXPECT_EQ(inStore.holder(), getpid());
    }
    // A run in the store (or an older Updater), then one in the machine's directory.
    ModuleLock inStore = lock();
    ASSERT_TRUE(inStore.held());
    ASSERT_EQ(inStore.path(), storeLockFile());
    ASSERT_EQ(chmod(machine.c_str(), 01777), 0);
    ModuleLock inMachine = lock();
    EXPECT_EQ(inMachine.fallback(), "");
    EXPECT_FALSE(inMachine.held());
    EXPECT_EQ(inMachine.holder(), getpid());
}

TEST_F(ModuleLockTest, LockFileIsNeverFollowedNorWaitedOn) {
    ASSERT_TRUE(lock(0x1A2B3C4D).held());  // makes the directory
    // A link to someone's file: not followed, the file not touched.
    const std::string target = root.file("precious");
    zvtest::writeFile(target, "keep me");
    ASSERT_EQ(symlink(target.c_str(), lockFile().c_str()), 0);
    ModuleLock linked = lock();
    EXPECT_FALSE(linked.held());
    EXPECT_EQ(linked.holder(), 0);
    EXPECT_EQ(linked.failure(), lockFile() + ": " + strerror(ELOOP));
    EXPECT_EQ(zvtest::readFile(target), "keep me");
    EXPECT_EQ(ModuleLock::Holder(machine, storePath, kSerial), 0);
    ASSERT_EQ(unlink(lockFile().c_str()), 0);
    // A FIFO would block an open for reading until a writer comes: neither taking nor looking
    // waits, and neither takes it for a lock file.
    ASSERT_EQ(mkfifo(lockFile().c_str(), 0644), 0);
    ModuleLock fifo = lock();
    EXPECT_FALSE(fifo.held());
    EXPECT_EQ(fifo.failure(), lockFile() + ": not a regular file");
    EXPECT_EQ(ModuleLock::Holder(machine, storePath, kSerial), 0);
    EXPECT_FALSE(ModuleLock::HeldElsewhere(machine, storePath, kSerial));
}

TEST_F(ModuleLockTest, AnotherUserTakesTheLockOnAFileItCannotWrite) {
    ZV_NEEDS(geteuid() == 0 ? "" : "only root can run a child as another user");
    constexpr uid_t kNobody = 65534;
    // The other user needs to reach the directories, and a store of its own.
    ASSERT_EQ(chmod(root.path().c_str(), 0755), 0);
    const std::string nobodyStore = root.file("nobody-store");
    ASSERT_EQ(mkdir(nobodyStore.c_str(), 0777), 0);
    ASSERT_EQ(chmod(nobodyStore.c_str(), 0777), 0);
    auto asNobody = [&](auto work) {
        return inChild([&] {
            if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                setresuid(kNobody, kNobody, kNobody) != 0) {
                return 100;
            }
            return work();
        });
    };
    {
        ModuleLock mine = lock();
        ASSERT_TRUE(mine.held());
        const pid_t self = getpid();
        // Refused, with this process named from the kernel's table.
        EXPECT_EQ(asNobody([&] {
                      ModuleLock theirs(machine, nobodyStore, kSerial);
                      return theirs.held() ? 1 : theirs.holder() == self ? 0 : 2;
                  }),
                  0);
    }
    // Let go, the other user takes it, on a file it may only read: the record stays as it was.
    EXPECT_EQ(asNobody([&] {
                  ModuleLock theirs(machine, nobodyStore, kSerial);
                  if (!theirs.held()) {
                      return 1;
                  }
                  return ModuleLock::Holder(machine, nobodyStore, kSerial) == getpid() ? 0 : 2;
              }),
              0);
    EXPECT_EQ(zvtest::readFile(lockFile()), std::to_string(getpid()) + "\n");
}

}  // namespace
