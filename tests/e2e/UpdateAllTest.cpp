// "-U -a" run as a fleet's keeper runs it: every module found (on the emulated USB bus, on
// TCP/IP, behind a router) gets its build from the update server, each in an Updater process of
// its own, "-j" at once; one module made to fail does not stop the others; a second run leaves
// every module alone; a module another program holds is busy, or waited for with "-w"; SIGTERM
// ends the run and its processes and leaves no lock. Every document is checked against the
// installed JSON Schema, every table row and exit code against what the modules went through,
// and the simulators' packet logs show what reached each module and in which order.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "Eventually.h"
#include "ModuleLock.h"
#include "SpawnedUpdater.h"
#include "UpdateAllFixture.h"

using namespace firmwaretest;
using nlohmann::json;
using zvtest::RunResult;

namespace {

const std::string kUsbHub = "40F5849A";
const std::string kTcpHub = "5A17C0DE";
const std::string kRouter = "D272031D";
const std::string kLeftServo = "11111111";
const std::string kRightServo = "22222222";
const std::string kBroken = "0BADF00D";
const std::string kSecondHub = "6B28D1EF";
const std::string kHeader = "Module    Link  Router    Before  After  Result     Time";

// Polls until ready() holds; the limit only matters to a test about to fail.
bool waitFor(const std::function<bool()>& ready) {
    return zvtest::eventually(ready, std::chrono::seconds(30), std::chrono::milliseconds(50));
}

// The lines of text from line on.
std::string from(const std::string& text, size_t line) {
    std::string rest;
    const std::vector<std::string> all = lines(text);
    for (size_t i = line; i < all.size(); ++i) {
        rest += all[i] + "\n";
    }
    return rest;
}

class UpdateAll : public UpdateAllFixture {
  protected:
    // The fleet: a hub on USB, a hub on TCP/IP, and a router on TCP/IP with two servos on its
    // bus, every one with build 1300 on the server; and in a simulator of its own a hub whose
    // upgrade loader refuses PREPARE, so that its update fails.
    void startFleet() {
        for (const std::string& hub : {kUsbHub, kTcpHub, kBroken}) {
            serveBuild(hub, "Hub-4");
        }
        serveBuild(kRouter, "Router");
        serveBuild(kLeftServo, "Servo-8");
        serveBuild(kRightServo, "Servo-8");
        fleet = startSimulator(
            "fleet",
            {"serial=" + kUsbHub + ",model=3,address=4,build=1000,reboot-ms=300,drop-at-load,usb",
             "serial=" + kTcpHub +
                 ",model=3,address=4,build=1000,reboot-ms=200,"
                 "tcp=10.77.0.2:0",
             "serial=" + kRouter +
                 ",model=5,address=2,build=1000,reboot-ms=200,"
                 "tcp=10.77.0.2:0",
             "serial=" + kLeftServo + ",model=8,address=10,build=900,behind=" + kRouter,
             "serial=" + kRightServo + ",model=8,address=6,build=901,behind=" + kRouter});
        broken = startSimulator("broken", {"serial=" + kBroken +
                                           ",model=3,address=4,build=1000,prepare-status=7,"
                                           "tcp=10.77.0.2:0"});
    }

    std::unique_ptr<zvtest::BackgroundProgram> fleet;
    std::unique_ptr<zvtest::BackgroundProgram> broken;
};

TEST_F(UpdateAll, EveryModuleFoundIsUpdatedOnceAndASecondRunLeavesThemAlone) {
    startFleet();
    RunResult first = updateAll({"--json", "-G", "-j", "3"});
    EXPECT_EQ(first.exitCode, 1) << first.err;
    json document = documentOf(first);
    EXPECT_EQ(document["command"], "update_all");
    EXPECT_EQ(document["dry_run"], false);
    EXPECT_EQ(document["changed"], true);
    EXPECT_FALSE(document.contains("error")) << "no error of the run itself";
    EXPECT_EQ(document["summary"], json({{"updated", 5},
                                         {"unchanged", 0},
                                         {"failed", 1},
                                         {"busy", 0},
                                         {"would_update", 0},
                                         {"modules", 6}}));
    std::map<std::string, json> modules = modulesOf(document);
    const struct {
        std::string serial, link, router, model;
        unsigned before;
    } updated[] = {
        {kUsbHub, "USB", "", "Hub-4", 1000},           {kTcpHub, "TCP", "", "Hub-4", 1000},
        {kRouter, "TCP", "", "Router", 1000},          {kLeftServo, "I2C", kRouter, "Servo-8", 900},
        {kRightServo, "I2C", kRouter, "Servo-8", 901},
    };
    for (const auto& expected : updated) {
        SCOPED_TRACE(expected.serial);
        const json& module = modules[expected.serial];
        EXPECT_EQ(module["result"], "updated") << module;
        EXPECT_EQ(module["link_type"], expected.link);
        EXPECT_EQ(module["router_serial"],
                  expected.router.empty() ? json(nullptr) : json(expected.router));
        EXPECT_EQ(module["model"], expected.model);
        EXPECT_EQ(module["build_before"], expected.before);
        EXPECT_EQ(module["build_after"], 1300);
        EXPECT_EQ(module["error"], nullptr);
        EXPECT_TRUE(module["seconds"].is_number() && module["seconds"].get<double>() > 0) << module;
        // The table (on standard error with "--json") says the same.
        const std::string router = expected.router.empty() ? "-       " : expected.router;
        const std::string row = tableRow(first.err, expected.serial);
        EXPECT_EQ(row.rfind(expected.serial + "  " + expected.link +
                                std::string(6 - expected.link.size(), ' ') + router + "  " +
                                std::to_string(expected.before) +
                                std::string(8 - std::to_string(expected.before).size(), ' ') +
                                "1300   updated    ",
                            0),
                  0u)
            << row;
        EXPECT_EQ(row.substr(row.size() - 2), " s") << row;
    }
    // The broken module's loader refused PREPARE: its update failed with its own line, which
    // its Updater's relayed standard error shows too.
    const json& failed = modules[kBroken];
    EXPECT_EQ(failed["result"], "failed") << failed;
    ASSERT_TRUE(failed["error"].is_string()) << failed;
    const std::string errorLine = failed["error"];
    EXPECT_TRUE(contains(first.err, kBroken + ": " + errorLine + "\n")) << first.err;
    EXPECT_FALSE(upgradeRequests(simulatorLog("broken"), kBroken).empty())
        << "the update reached the broken module";
    const std::string failedRow = tableRow(first.err, kBroken);
    EXPECT_EQ(failedRow.rfind(kBroken + "  TCP   -         1000    -      failed     ", 0), 0u)
        << first.err;
    EXPECT_EQ(failedRow.substr(failedRow.size() - 2), " s") << failedRow;
    EXPECT_TRUE(contains(first.err, "Updated 5, unchanged 0, failed 1, busy 0 (6 modules)\n"))
        << first.err;

    // The servos took turns on their router's bus, and the router came after both.
    const std::string trace = simulatorLog("fleet");
    const std::vector<size_t> left = upgradeRequests(trace, kLeftServo);
    const std::vector<size_t> right = upgradeRequests(trace, kRightServo);
    const std::vector<size_t> router = upgradeRequests(trace, kRouter);
    ASSERT_FALSE(left.empty() || right.empty() || router.empty());
    EXPECT_TRUE(left.back() < right.front() || right.back() < left.front())
        << "the transfers to the two servos overlap";
    EXPECT_GT(router.front(), std::max(left.back(), right.back()));

    // A dry run changes nothing: the modules that run their build are unchanged, the broken one
    // would be updated again, and nothing of the upgrade reaches any module.
    const size_t fleetBefore = lines(simulatorLog("fleet")).size();
    const size_t brokenBefore = lines(simulatorLog("broken")).size();
    RunResult dry = updateAll({"--json", "-n", "-j", "3"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    json dryDocument = documentOf(dry);
    EXPECT_EQ(dryDocument["dry_run"], true);
    EXPECT_EQ(dryDocument["changed"], false);
    std::map<std::string, json> planned = modulesOf(dryDocument);
    EXPECT_EQ(planned[kBroken]["result"], "would_update") << planned[kBroken];
    EXPECT_EQ(planned[kBroken]["plan"]["build"], 1300) << planned[kBroken];
    EXPECT_EQ(planned[kTcpHub]["result"], "unchanged") << planned[kTcpHub];
    EXPECT_TRUE(contains(dry.err, "Would update 1, unchanged 5, failed 0, busy 0 (6 modules)\n"))
        << dry.err;
    for (const std::string& serial :
         {kUsbHub, kTcpHub, kRouter, kLeftServo, kRightServo, kBroken}) {
        EXPECT_TRUE(upgradeRequests(from(simulatorLog("fleet"), fleetBefore), serial).empty())
            << serial;
        EXPECT_TRUE(upgradeRequests(from(simulatorLog("broken"), brokenBefore), serial).empty())
            << serial;
    }

    // Without the broken module, a second run finds every module on its build and leaves it
    // alone: no upgrade packet reaches any of them, and the run succeeds.
    broken.reset();
    const size_t secondFrom = lines(simulatorLog("fleet")).size();
    RunResult second = updateAll({"-G", "-j", "3"});
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
    EXPECT_TRUE(contains(second.out, kHeader + "\n")) << second.out;
    EXPECT_EQ(tableRow(second.out, kUsbHub),
              kUsbHub + "  USB   -         1300    1300   unchanged  -");
    EXPECT_EQ(tableRow(second.out, kTcpHub),
              kTcpHub + "  TCP   -         1300    1300   unchanged  -");
    EXPECT_EQ(tableRow(second.out, kRouter),
              kRouter + "  TCP   -         1300    1300   unchanged  -");
    EXPECT_EQ(tableRow(second.out, kLeftServo),
              kLeftServo + "  I2C   " + kRouter + "  1300    1300   unchanged  -");
    EXPECT_EQ(tableRow(second.out, kRightServo),
              kRightServo + "  I2C   " + kRouter + "  1300    1300   unchanged  -");
    EXPECT_EQ(lines(second.out).back(), "Updated 0, unchanged 5, failed 0, busy 0 (5 modules)");
    for (const std::string& serial : {kUsbHub, kTcpHub, kRouter, kLeftServo, kRightServo}) {
        EXPECT_TRUE(upgradeRequests(from(simulatorLog("fleet"), secondFrom), serial).empty())
            << serial;
    }

    // "-d" narrows the run to one module, here one behind the router.
    RunResult one = updateAll({"--json", "-d", kRightServo});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    json oneDocument = documentOf(one);
    ASSERT_EQ(oneDocument["modules"].size(), 1u) << one.out;
    EXPECT_EQ(oneDocument["modules"][0]["serial"], kRightServo);
    EXPECT_EQ(oneDocument["modules"][0]["router_serial"], kRouter);
    EXPECT_EQ(oneDocument["modules"][0]["result"], "unchanged");
}

TEST_F(UpdateAll, RunsThatHaveNothingToUpdateFail) {
    serveBuild(kTcpHub, "Hub-4");
    fleet = startSimulator("fleet", {"serial=" + kTcpHub + ",model=3,address=4,tcp=10.77.0.2:0"});
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"-t", "USB"}, "No modules found"},
        {{"-d", "0BADF00D"}, "Module 0BADF00D was not found"},
        {{"-r", kRouter}, "No modules found"},
        {{"-t", "RECOVER"}, "-a cannot recover modules: -t RECOVER needs one serial port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        RunResult r = updateAll(args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        json document = documentOf(r);
        EXPECT_EQ(document["error"], c.error) << r.out;
        EXPECT_EQ(document["modules"], json::array());
        EXPECT_EQ(document["summary"]["modules"], 0);
    }
    RunResult withoutUpdate =
        zvtest::runProgram(zvtest::updaterBinary(), {"-i", store.path(), "-G", "-a", "--json"});
    EXPECT_EQ(withoutUpdate.exitCode, 1);
    EXPECT_TRUE(contains(withoutUpdate.err, "-a updates every module found: give it with -U\n"))
        << withoutUpdate.err;
    EXPECT_TRUE(upgradeRequests(simulatorLog("fleet"), kTcpHub).empty());
}

// Holds a module's lock as another Updater would: flock on its file in the machine's directory.
class HeldModule {
  public:
    explicit HeldModule(const std::string& serial) {
        mkdir(MACHINE_LOCK_DIRECTORY, 01777);
        chmod(MACHINE_LOCK_DIRECTORY, 01777);
        fd = open((std::string(MACHINE_LOCK_DIRECTORY) + "/" + serial).c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
    ~HeldModule() { release(); }
    void release() {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
    bool held = false;

  private:
    int fd = -1;
};

std::string busyLine(const std::string& serial) {
    return "Module " + serial + " is being updated by another Updater (process " +
           std::to_string(getpid()) + ")";
}

TEST_F(UpdateAll, HeldModuleIsBusyWhileTheOthersUpdateAndIsWaitedForWithW) {
    serveBuild(kTcpHub, "Hub-4");
    serveBuild(kSecondHub, "Hub-4");
    fleet = startSimulator("fleet", {"serial=" + kTcpHub +
                                         ",model=3,address=4,build=1000,reboot-ms=200,"
                                         "tcp=10.77.0.2:0",
                                     "serial=" + kSecondHub +
                                         ",model=3,address=6,build=1000,reboot-ms=200,"
                                         "tcp=10.77.0.2:0"});
    HeldModule lock(kTcpHub);
    ASSERT_TRUE(lock.held);

    // A single update waits as long as "-w" says, then gives up with the busy line.
    RunResult single = updater({"-U", "-d", kTcpHub, "-w", "1", "-u", url});
    EXPECT_EQ(single.exitCode, 1);
    EXPECT_TRUE(contains(single.out, busyLine(kTcpHub) + "; waiting up to 1 s\n")) << single.out;
    EXPECT_EQ(errorLines(single), std::vector<std::string>{busyLine(kTcpHub)}) << single.err;

    RunResult first = updateAll({"--json", "-G", "-j", "2"});
    EXPECT_EQ(first.exitCode, 1) << first.err;
    std::map<std::string, json> modules = modulesOf(documentOf(first));
    EXPECT_EQ(modules[kTcpHub]["result"], "busy") << modules[kTcpHub];
    EXPECT_EQ(modules[kTcpHub]["error"], busyLine(kTcpHub));
    EXPECT_EQ(modules[kSecondHub]["result"], "updated") << modules[kSecondHub];
    EXPECT_EQ(tableRow(first.err, kTcpHub),
              kTcpHub + "  TCP   -         -       -      busy       -");
    EXPECT_TRUE(contains(first.err, "Updated 1, unchanged 0, failed 0, busy 1 (2 modules)\n"))
        << first.err;
    EXPECT_TRUE(upgradeRequests(simulatorLog("fleet"), kTcpHub).empty());

    // With "-w 5" the run waits for the module, which is updated once its holder lets go.
    SpawnedUpdater waiting(work, "waiting", updateAllArguments({"-G", "-w", "5"}));
    ASSERT_TRUE(waitFor([&] {
        return contains(waiting.errorsSoFar(),
                        kTcpHub + ": " + busyLine(kTcpHub) + "; waiting up to 5 s\n");
    })) << waiting.errorsSoFar();
    lock.release();
    RunResult waited = waiting.wait();
    EXPECT_EQ(waited.exitCode, 0) << waited.out << waited.err;
    EXPECT_EQ(tableRow(waited.out, kSecondHub),
              kSecondHub + "  TCP   -         1300    1300   unchanged  -");
    EXPECT_EQ(tableRow(waited.out, kTcpHub)
                  .rfind(kTcpHub + "  TCP   -         1000    1300   updated    ", 0),
              0u)
        << waited.out;
    EXPECT_FALSE(upgradeRequests(simulatorLog("fleet"), kTcpHub).empty());
}

TEST_F(UpdateAll, SigtermEndsTheRunAndItsUpdatersAndLeavesNoLock) {
    // Slow replies keep the transfers running when the signal comes.
    const std::vector<std::string> hubs = {"A0000001", "A0000002", "A0000003"};
    std::vector<std::string> descriptions;
    for (size_t i = 0; i < hubs.size(); ++i) {
        serveBuild(hubs[i], "Hub-4", 16000);
        descriptions.push_back("serial=" + hubs[i] +
                               ",model=3,address=" + std::to_string(4 + 2 * i) +
                               ",build=1000,latency-ms=40,tcp=10.77.0.2:0");
    }
    fleet = startSimulator("fleet", descriptions);
    const std::string storeRoot = store.path() + "/updater";
    SpawnedUpdater run(work, "run", updateAllArguments({"--json", "-G", "-j", "2"}));
    std::vector<pid_t> holders;
    // Two transfers under way (the third module waits for a free job).
    ASSERT_TRUE(waitFor([&] {
        size_t transferring = 0;
        for (const std::string& hub : hubs) {
            transferring += !upgradeRequests(simulatorLog("fleet"), hub).empty();
        }
        return transferring == 2;
    })) << run.errorsSoFar();
    for (const std::string& hub : hubs) {
        const pid_t holder =
            ModuleLock::Holder(MACHINE_LOCK_DIRECTORY, storeRoot, std::stoul(hub, nullptr, 16));
        if (holder != 0) {
            EXPECT_NE(holder, run.pid()) << "the run itself holds no module";
            holders.push_back(holder);
        }
    }
    ASSERT_EQ(holders.size(), 2u);
    kill(run.pid(), SIGTERM);
    RunResult stopped = run.wait();

    EXPECT_EQ(stopped.exitCode, 1) << stopped.err;
    for (const std::string& hub : hubs) {
        EXPECT_EQ(
            ModuleLock::Holder(MACHINE_LOCK_DIRECTORY, storeRoot, std::stoul(hub, nullptr, 16)), 0)
            << hub << " is still locked";
        EXPECT_FALSE(contains(readIfThere(storeRoot + "/" + hub + "/.settings"), "LATEST_TRANSFER"))
            << hub;
    }
    for (pid_t holder : holders) {
        EXPECT_NE(kill(holder, 0), 0) << "Updater " << holder << " still runs";
    }
    json document = documentOf(stopped);
    EXPECT_EQ(document["error"], "Stopped by a signal: the updates under way were ended");
    EXPECT_EQ(document["summary"]["failed"], 3);
    size_t ended = 0;
    size_t notStarted = 0;
    for (const auto& [serial, module] : modulesOf(document)) {
        ended += module["error"] == "Updater ended by signal 15";
        notStarted += module["error"] == "Not started: the run was stopped";
    }
    EXPECT_EQ(ended, 2u) << stopped.out;
    EXPECT_EQ(notStarted, 1u) << stopped.out;
}

}  // namespace
