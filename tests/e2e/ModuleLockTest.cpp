// One Updater per module, run as users run it: two updates of one module started together, a
// holder killed in the middle, "-D" while an update runs, and a recovery whose port is taken.
// The module simulator's packet log shows what reached the module from which connection.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "FirmwareFixture.h"
#include "ModuleLock.h"

extern char** environ;

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

constexpr unsigned kSerialNumber = 0x40F5849A;

// Updater running beside the test, its output collected in files.
class SpawnedUpdater {
  public:
    SpawnedUpdater(const zvtest::TempDir& work, const std::string& name,
                   std::vector<std::string> args)
        : outFile_(work.file(name + ".out")), errFile_(work.file(name + ".err")) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile_.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT, 0644);
        args.insert(args.begin(), zvtest::updaterBinary());
        std::vector<char*> argv;
        for (std::string& word : args) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SpawnedUpdater() {
        if (pid_ > 0 && result_.exitCode < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }
    bool running() { return pid_ > 0 && result_.exitCode < 0 && !reaped(WNOHANG); }
    RunResult wait() {
        if (pid_ > 0 && result_.exitCode < 0) {
            reaped(0);
        }
        return result_;
    }

  private:
    bool reaped(int options) {
        int status = 0;
        if (waitpid(pid_, &status, options) != pid_) {
            return false;
        }
        result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result_.out = zvtest::readFile(outFile_);
        result_.err = zvtest::readFile(errFile_);
        return true;
    }

    std::string outFile_;
    std::string errFile_;
    pid_t pid_ = -1;
    RunResult result_;
};

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

class ModuleLocking : public FirmwareFixture {
  protected:
    void prepare() override { makeNewBuild(); }
    std::vector<std::string> updateArgs() const {
        return {"-i", store.path(), "-U", "-d", kSerial, "-f", bird};
    }
    std::string storeRoot() const { return store.path() + "/updater"; }
    Connections connections() const { return connectionsIn(zvtest::readFile(packetLog)); }
    // An update that holds the module's lock and stays before the module: without a file it
    // asks the server first, which accepts the request and never answers.
    std::unique_ptr<SpawnedUpdater> startHolder() {
        startServer({"--stall"});
        startModule();
        auto holder = std::make_unique<SpawnedUpdater>(
            work, "holder",
            std::vector<std::string>{"-i", store.path(), "-U", "-d", kSerial, "-u", url});
        EXPECT_TRUE(waitFor([&] {
            return ModuleLock::Holder(storeRoot(), kSerialNumber) == holder->pid();
        })) << "the first Updater never took the module's lock";
        return holder;
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
    EXPECT_EQ(zvtest::readFile(ModuleLock::Path(storeRoot(), kSerialNumber)),
              std::to_string(holder->pid()) + "\n");
    RunResult next = updater({"-U", "-d", kSerial, "-f", bird});
    ASSERT_EQ(next.exitCode, 0) << next.out << next.err;
    EXPECT_EQ(flash(), expectedFlash(bird));
    EXPECT_EQ(connections().upgrading, 1);
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
        ASSERT_TRUE(
            waitFor([&] { return ModuleLock::Holder(storeRoot(), 0x11111111) == holder.pid(); }));
        RunResult r = updater({"-D", "-r", "D272031D"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "    11111111" + busy + "\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "    22222222  06       02      Controller ")) << r.out;
    }
    // A routed update holds the router: the search does not even open it.
    SpawnedUpdater routed(
        work, "routed", {"-i", store.path(), "-U", "-d", "22222222", "-r", "D272031D", "-u", url});
    ASSERT_TRUE(
        waitFor([&] { return ModuleLock::Holder(storeRoot(), 0xD272031D) == routed.pid(); }));
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
