// One Updater per module on the machine, run as users run it: two updates of one module started
// together, from two stores, by two users; a holder killed in the middle, "-D" while an update
// runs, the store's locks where the machine's directory is unfit, and a recovery whose port is
// taken. The module simulator's packet log shows what reached the module from which connection.
// Each test has a /run/lock of its own (FirmwareFixture), so /run/lock/zendrival is the test's.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "FirmwareFixture.h"
#include "ModuleLock.h"
#include "SpawnedUpdater.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

constexpr unsigned kSerialNumber = 0x40F5849A;

// The simulator's log cut at each "host connected": how many of those connections carried
// upgrade commands (command 95, 0x5F, as data byte 0 of a packet from the host), and how many
// connections there were.
struct Connections {
    int total = 0;
    int upgrading = 0;
};

Connections connectionsIn(const std::string& log) {
    Connections seen;
    bool upgrading = false;
    for (const std::string& line : lines(log)) {
        if (contains(line, " host connected")) {
            ++seen.total;
            upgrading = false;
        } else if (!upgrading && line.rfind("modulesim 40F5849A < ", 0) == 0 && line.size() >= 29 &&
                   line.compare(26, 3, " 5F") == 0) {
            upgrading = true;
            ++seen.upgrading;
        }
    }
    return seen;
}

std::string busyLine(pid_t holder) {
    return "Module 40F5849A is being updated by another Updater (process " +
           std::to_string(holder) + ")";
}

// Polls (bounded) until ready() holds.
template <typename Ready>
bool waitFor(Ready ready, int attempts = 200) {
    for (int i = 0; i < attempts; ++i) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Updater run by another user, as "Updater" is beside "sudo Updater": uid and gid 65534 with no
// groups, a store of its own that it can write, and copies of files that it can read.
class OtherUser {
  public:
    explicit OtherUser(const zvtest::TempDir& work) : home_(work.file("nobody")) {
        chmod(work.path().c_str(), 0711);  // reachable, not readable
        mkdir(home_.c_str(), 0777);
        chmod(home_.c_str(), 0777);  // whatever the umask took away
    }
    // The "-i" directory of its runs.
    const std::string& home() const { return home_; }
    std::string storeRoot() const { return home_ + "/updater"; }
    // A copy of path that the user can read.
    std::string readable(const std::string& path) const {
        const std::string copy = home_ + "/" + path.substr(path.rfind('/') + 1);
        zvtest::writeFile(copy, zvtest::readFile(path));
        chmod(copy.c_str(), 0644);
        return copy;
    }
    RunResult updater(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                   zvtest::updaterBinary(), "-i", home_});
        return zvtest::runProgram("/usr/bin/setpriv", args);
    }

  private:
    std::string home_;
};

// The warning of a run that keeps its module locks in the store rooted at storeRoot.
std::string storeLocksLine(const std::string& reason, const std::string& storeRoot) {
    return "Warning: " + reason + "; module locks are kept in " + storeRoot +
           "/.locks instead, which only runs using this store see";
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class ModuleLocking : public FirmwareFixture {
  protected:
    void prepare() override { makeNewBuild(); }
    std::vector<std::string> updateArgs() const {
        return {"-i", store.path(), "-U", "-d", kSerial, "-f", bird};
    }
    std::string storeRoot() const { return store.path() + "/updater"; }
    pid_t lockHolder(unsigned serial) const {
        return ModuleLock::Holder(MACHINE_LOCK_DIRECTORY, storeRoot(), serial);
    }
    Connections connections() const { return connectionsIn(zvtest::readFile(packetLog)); }
    // An update that holds the module's lock and stays before the module: without a file it
    // asks the server first, which accepts the request and never answers.
    std::unique_ptr<SpawnedUpdater> startHolder() {
        startServer({"--stall"});
        startModule();
        auto holder = std::make_unique<SpawnedUpdater>(
            work, "holder",
            std::vector<std::string>{"-i", store.path(), "-U", "-d", kSerial, "-u", url});
        EXPECT_TRUE(waitFor([&] { return lockHolder(kSerialNumber) == holder->pid(); }))
            << "the first Updater never took the module's lock";
        return holder;
    }
    // With the machine's directory made unfit for the reason: a held lock lives in the store,
    // where the next run of the store meets it (and "-D" sees it), each run warning once.
    void expectLocksInTheStore(const std::string& reason) {
        const std::string warning = storeLocksLine(reason, storeRoot());
        std::unique_ptr<SpawnedUpdater> holder = startHolder();
        EXPECT_EQ(zvtest::readFile(ModuleLock::StorePath(storeRoot(), kSerialNumber)),
                  std::to_string(holder->pid()) + "\n");
        RunResult refused = updater({"-U", "-d", kSerial, "-f", bird});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(errorLines(refused),
                  (std::vector<std::string>{warning, busyLine(holder->pid())}));
        RunResult listed = updater({"-D", "-t", "TCP"});
        EXPECT_EQ(lines(listed.out).back(),
                  "    40F5849A  [Error (5): Is someone else connected to this device?]")
            << listed.out;
        EXPECT_EQ(connections().total, 0) << zvtest::readFile(packetLog);

        kill(holder->pid(), SIGKILL);
        EXPECT_EQ(errorLines(holder->wait()), std::vector<std::string>{warning});
        RunResult next = updater({"-U", "-d", kSerial, "-f", bird});
        ASSERT_EQ(next.exitCode, 0) << next.out << next.err;
        EXPECT_EQ(errorLines(next), std::vector<std::string>{warning});
        EXPECT_EQ(flash(), expectedFlash(bird));
    }

    const std::string packetLog = work.file("module.log");
};

TEST_F(ModuleLocking, TwoUpdatesStartedTogetherWriteOneWholeImage) {
    // Slow replies keep the first transfer running while the second starts.
    startModule("latency-ms=5");
    SpawnedUpdater first(work, "first", updateArgs());
    SpawnedUpdater second(work, "second", updateArgs());
    RunResult a = first.wait();
    RunResult b = second.wait();

    const bool firstWon = a.exitCode == 0;
    const RunResult& winner = firstWon ? a : b;
    const RunResult& loser = firstWon ? b : a;
    ASSERT_EQ(winner.exitCode, 0) << winner.out << winner.err;
    EXPECT_TRUE(contains(winner.out, "Update time: ")) << winner.out;
    EXPECT_EQ(loser.exitCode, 1) << loser.out << loser.err;
    EXPECT_EQ(errorLines(loser),
              std::vector<std::string>{busyLine(firstWon ? first.pid() : second.pid())});
    EXPECT_FALSE(contains(loser.out, "Transferring")) << loser.out;
    EXPECT_EQ(flash(), expectedFlash(bird));
    EXPECT_EQ(connections().upgrading, 1) << zvtest::readFile(packetLog);
}

TEST_F(ModuleLocking, KilledHolderDoesNotBlockTheNextRun) {
    std::unique_ptr<SpawnedUpdater> holder = startHolder();
    RunResult refused = updater({"-U", "-d", kSerial, "-f", bird});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(errorLines(refused), std::vector<std::string>{busyLine(holder->pid())});
    EXPECT_EQ(connections().total, 0) << zvtest::readFile(packetLog);

    kill(holder->pid(), SIGKILL);
    EXPECT_EQ(holder->wait().exitCode, 128 + SIGKILL);
    // The dead holder is still named in the file; it must not matter.
    EXPECT_EQ(zvtest::readFile(ModuleLock::MachinePath(MACHINE_LOCK_DIRECTORY, kSerialNumber)),
              std::to_string(holder->pid()) + "\n");
    RunResult next = updater({"-U", "-d", kSerial, "-f", bird});
    ASSERT_EQ(next.exitCode, 0) << next.out << next.err;
    EXPECT_EQ(flash(), expectedFlash(bird));
    EXPECT_EQ(connections().upgrading, 1);
}

TEST_F(ModuleLocking, UpdateFromAnotherStoreLeavesTheModuleToTheFirst) {
    // Slow replies keep the first transfer running while the second run tries.
    startModule("latency-ms=20");
    SpawnedUpdater first(work, "first", updateArgs());
    ASSERT_TRUE(waitFor([&] {
        return lockHolder(kSerialNumber) == first.pid() && connections().upgrading == 1;
    })) << "the first Updater never started its transfer";
    const int connectionsBefore = connections().total;
    zvtest::TempDir otherStore;
    RunResult second = zvtest::runProgram(
        zvtest::updaterBinary(), {"-i", otherStore.path(), "-U", "-d", kSerial, "-f", bird});
    const int connectionsAfter = connections().total;
    const bool firstStillTransferring = first.running();
    RunResult a = first.wait();

    ASSERT_TRUE(firstStillTransferring) << "the first transfer ended too soon: " << a.out;
    EXPECT_EQ(second.exitCode, 1) << second.out << second.err;
    EXPECT_EQ(errorLines(second), std::vector<std::string>{busyLine(first.pid())});
    EXPECT_FALSE(contains(second.out, "Transferring")) << second.out;
    // The second run never connected, and only one connection ever sent upgrade commands.
    EXPECT_EQ(connectionsAfter, connectionsBefore) << zvtest::readFile(packetLog);
    ASSERT_EQ(a.exitCode, 0) << a.out << a.err;
    EXPECT_EQ(flash(), expectedFlash(bird));
    EXPECT_EQ(connections().upgrading, 1) << zvtest::readFile(packetLog);
    // Neither store holds a lock.
    EXPECT_FALSE(zvtest::pathExists(storeRoot() + "/.locks"));
    EXPECT_FALSE(zvtest::pathExists(otherStore.path() + "/updater/.locks"));
}

TEST_F(ModuleLocking, AnotherUserIsKeptOffAndTakesTheLockAfterwards) {
    ZV_NEEDS(geteuid() == 0 ? "" : "only root can run Updater as another user");
    std::unique_ptr<SpawnedUpdater> holder = startHolder();
    // The directory is open to all and sticky; the lock file is root's, readable by all.
    EXPECT_EQ(modeOf(MACHINE_LOCK_DIRECTORY), static_cast<mode_t>(S_IFDIR | 01777));
    const std::string lockFile = ModuleLock::MachinePath(MACHINE_LOCK_DIRECTORY, kSerialNumber);
    EXPECT_EQ(modeOf(lockFile), static_cast<mode_t>(S_IFREG | 0644));

    OtherUser nobody(work);
    const std::string file = nobody.readable(bird);
    RunResult refused = nobody.updater({"-U", "-d", kSerial, "-f", file});
    EXPECT_EQ(refused.exitCode, 1) << refused.out << refused.err;
    EXPECT_EQ(errorLines(refused), std::vector<std::string>{busyLine(holder->pid())});
    // That user's "-D" names the module as taken and leaves it alone as well.
    RunResult listed = nobody.updater({"-D", "-t", "TCP"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(lines(listed.out).back(),
              "    40F5849A  [Error (5): Is someone else connected to this device?]")
        << listed.out;
    EXPECT_EQ(connections().total, 0) << zvtest::readFile(packetLog);

    // Once root's run is gone, the other user locks root's file (for reading) and updates.
    kill(holder->pid(), SIGKILL);
    holder->wait();
    RunResult next = nobody.updater({"-U", "-d", kSerial, "-f", file});
    ASSERT_EQ(next.exitCode, 0) << next.out << next.err;
    EXPECT_EQ(errorLines(next), std::vector<std::string>{});
    EXPECT_EQ(flash(), expectedFlash(bird));
    EXPECT_EQ(connections().upgrading, 1);
    EXPECT_FALSE(zvtest::pathExists(nobody.storeRoot() + "/.locks"));
}

TEST_F(ModuleLocking, SymbolicLinkForTheLockDirectoryLeavesTheLocksInTheStore) {
    // In the test's own /run/lock: a link to a directory that would do.
    const std::string elsewhere = work.file("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    ASSERT_EQ(chmod(elsewhere.c_str(), 01777), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), MACHINE_LOCK_DIRECTORY), 0);
    expectLocksInTheStore(std::string(MACHINE_LOCK_DIRECTORY) + " is a symbolic link");
    EXPECT_FALSE(zvtest::pathExists(elsewhere + "/40F5849A")) << "the link was followed";
}

TEST_F(ModuleLocking, LockDirectoryWithoutTheStickyBitLeavesTheLocksInTheStore) {
    ASSERT_EQ(mkdir(MACHINE_LOCK_DIRECTORY, 0755), 0);
    expectLocksInTheStore(std::string(MACHINE_LOCK_DIRECTORY) + " has no sticky bit");
    EXPECT_FALSE(zvtest::pathExists(std::string(MACHINE_LOCK_DIRECTORY) + "/40F5849A"));
}

TEST_F(ModuleLocking, UserWhoCannotWriteRunLockKeepsTheLocksInTheStore) {
    ZV_NEEDS(geteuid() == 0 ? "" : "only root can run Updater as another user");
    ASSERT_EQ(chmod("/run/lock", 0755), 0);  // the test's own /run/lock
    startModule();
    OtherUser nobody(work);
    RunResult r = nobody.updater({"-U", "-d", kSerial, "-f", nobody.readable(bird)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(errorLines(r),
              std::vector<std::string>{storeLocksLine(
                  std::string("cannot create ") + MACHINE_LOCK_DIRECTORY + ": Permission denied",
                  nobody.storeRoot())});
    EXPECT_TRUE(zvtest::pathExists(ModuleLock::StorePath(nobody.storeRoot(), kSerialNumber)));
    EXPECT_FALSE(zvtest::pathExists(MACHINE_LOCK_DIRECTORY));
    EXPECT_EQ(flash(), expectedFlash(bird));
}

TEST_F(ModuleLocking, DiscoverDuringAnUpdateShowsTheModuleWithoutTouchingIt) {
    std::unique_ptr<SpawnedUpdater> holder = startHolder();
    const std::string busy = "    40F5849A  [Error (5): Is someone else connected to this device?]";
    RunResult listed = updater({"-D", "-t", "TCP"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    EXPECT_EQ(lines(listed.out).back(), busy) << listed.out;
    // A connection from the listing would have taken the module's link from the update.
    EXPECT_EQ(connections().total, 0) << zvtest::readFile(packetLog);

    kill(holder->pid(), SIGKILL);
    holder->wait();
    listed = updater({"-D", "-t", "TCP"});
    EXPECT_NE(lines(listed.out).back(), busy) << listed.out;
    EXPECT_TRUE(contains(listed.out, "    40F5849A  04       04      Hub-4 ")) << listed.out;
    EXPECT_EQ(connections().total, 1);
}

TEST_F(ModuleLocking, RouterSearchLeavesAloneWhatAnotherUpdaterHolds) {
    startServer({"--stall"});
    zvtest::BackgroundProgram sim(
        zvtest::modulesimBinary(),
        {"--duration", "120", "--log", "--module",
         "serial=D272031D,model=5,address=2,tcp=10.77.0.2:0", "--module",
         "serial=11111111,model=8,address=10,version=2.11.0,build=900,behind=D272031D", "--module",
         "serial=22222222,model=19,address=6,version=2.10.3,build=901,behind=D272031D"},
        packetLog);
    ASSERT_TRUE(sim.waitReady());
    const std::string busy = "  [Error (5): Is someone else connected to this device?]";
    {
        // An update of one bus module holds that module: it is listed, the others are read.
        SpawnedUpdater holder(work, "direct",
                              {"-i", store.path(), "-U", "-d", "11111111", "-u", url});
        ASSERT_TRUE(waitFor([&] { return lockHolder(0x11111111) == holder.pid(); }));
        RunResult r = updater({"-D", "-r", "D272031D"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "    11111111" + busy + "\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "    22222222  06       02      Controller ")) << r.out;
    }
    // A routed update holds the router: the search does not even open it.
    SpawnedUpdater routed(
        work, "routed", {"-i", store.path(), "-U", "-d", "22222222", "-r", "D272031D", "-u", url});
    ASSERT_TRUE(waitFor([&] { return lockHolder(0xD272031D) == routed.pid(); }));
    const int connectionsBefore = connections().total;
    RunResult r = updater({"-D", "-r", "D272031D"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(errorLines(r), std::vector<std::string>{"Error 5 on connectFromSpec"});
    EXPECT_EQ(lines(r.out).back(), "    No devices found.") << r.out;
    EXPECT_EQ(connections().total, connectionsBefore) << zvtest::readFile(packetLog);
}

TEST_F(ModuleLocking, RecoveryOnAPortHeldElsewhereEndsBeforeSendingAByte) {
    const std::string chipLog = work.file("lpc.log");
    zvtest::BackgroundProgram chip(lpcsimBinary(),
                                   {"--duration", "120", "--log", "--device-id",
                                    "0x1A2B3C4D,0xDEADBEEF,0x00000007,0x89ABCDEF"},
                                   chipLog);
    ASSERT_TRUE(chip.waitReady());
    const std::string port = chip.startupValue("pty");
    ASSERT_NE(port, "");
    // Another program holds the port as serial tools do.
    const int held = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string portLine = "Port " + port + " is being used by another Updater (process " +
                                 std::to_string(getpid()) + ")";

    RunResult recovery = updater({"-U", "-t", "RECOVER", "-s", port, "-f", bird});
    EXPECT_EQ(recovery.exitCode, 1);
    EXPECT_EQ(errorLines(recovery), std::vector<std::string>{portLine});
    RunResult fingerprint = updater({"-N", "-s", port});
    EXPECT_EQ(fingerprint.exitCode, 1);
    EXPECT_EQ(errorLines(fingerprint), std::vector<std::string>{portLine});

    EXPECT_EQ(zvtest::readFile(chipLog), "") << "the bootloader heard from a refused run";

    // Let go, the same port answers.
    close(held);
    fingerprint = updater({"-N", "-s", port});
    EXPECT_EQ(fingerprint.exitCode, 0) << fingerprint.err;
    EXPECT_TRUE(contains(fingerprint.out, "[ 1A2B3C4D DEADBEEF 00000007 89ABCDEF ]"));
    EXPECT_NE(zvtest::readFile(chipLog), "");
}

}  // namespace
