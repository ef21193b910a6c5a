// The parts of "-a" that decide without a module: the order in which updates start under "-j",
// the command line of each module's Updater, what its documents and its end say, and the table
// and summary the run ends with. The whole run is tested end to end in tests/e2e/UpdateAllTest.
#include <gtest/gtest.h>
#include <signal.h>

#include <set>

#include "ChildArguments.h"
#include "ChildDocument.h"
#include "UpdateAllTable.h"
#include "UpdateSchedule.h"

namespace {

ModuleToUpdate module(unsigned serial, const char* link, unsigned router = 0) {
    ModuleToUpdate m;
    m.serial = serial;
    m.link = link;
    m.routerSerial = router;
    return m;
}

constexpr unsigned ROUTER = 0xD272031D;

// Two direct modules, a router with two modules behind it (found after it, as discovery finds
// them), and a second router with one.
std::vector<ModuleToUpdate> fleet() {
    return {module(0x40F5849A, "USB"),
            module(ROUTER, "TCP"),
            module(0x11111111, "I2C", ROUTER),
            module(0x22222222, "I2C", ROUTER),
            module(0x5A17C0DE, "TCP"),
            module(0x0000B006, "TCP"),
            module(0x33333333, "I2C", 0x0000B006)};
}

// Runs the schedule to its end, finishing the oldest running update whenever none may start;
// the start order, and checks every moment against the rules.
std::vector<unsigned> runSchedule(const std::vector<ModuleToUpdate>& modules, unsigned jobs,
                                  size_t& mostAtOnce) {
    UpdateSchedule schedule(modules, jobs);
    std::vector<size_t> running;
    std::set<unsigned> done;
    std::vector<unsigned> started;
    mostAtOnce = 0;
    while (!schedule.allStarted() || !running.empty()) {
        size_t index = 0;
        while (schedule.next(index)) {
            const ModuleToUpdate& m = modules[index];
            for (size_t other : running) {
                const unsigned a = m.routerSerial != 0 ? m.routerSerial : m.serial;
                const unsigned b = modules[other].routerSerial != 0 ? modules[other].routerSerial
                                                                    : modules[other].serial;
                EXPECT_NE(a, b) << std::hex << m.serial << " beside " << modules[other].serial;
            }
            for (const ModuleToUpdate& behind : modules) {
                if (behind.routerSerial == m.serial) {
                    EXPECT_TRUE(done.count(behind.serial))
                        << std::hex << "router " << m.serial << " before " << behind.serial;
                }
            }
            running.push_back(index);
            started.push_back(m.serial);
        }
        mostAtOnce = std::max(mostAtOnce, running.size());
        if (running.empty()) {
            ADD_FAILURE() << "nothing runs and nothing may start";
            break;
        }
        done.insert(modules[running.front()].serial);
        schedule.finished(running.front());
        running.erase(running.begin());
    }
    return started;
}

TEST(UpdateSchedule, RoutersComeAfterTheirModulesWhichTakeTurns) {
    const struct {
        unsigned jobs;
        size_t mostAtOnce;
        std::vector<unsigned> order;
    } cases[] = {
        {1, 1, {0x40F5849A, 0x11111111, 0x22222222, ROUTER, 0x5A17C0DE, 0x33333333, 0x0000B006}},
        // Three lanes at once: a router's lane holds its modules, then the router.
        {3, 3, {0x40F5849A, 0x11111111, 0x5A17C0DE, 0x33333333, 0x22222222, 0x0000B006, ROUTER}},
        // More jobs than lanes: one update per lane at a time all the same.
        {10, 4, {0x40F5849A, 0x11111111, 0x5A17C0DE, 0x33333333, 0x22222222, 0x0000B006, ROUTER}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("jobs " + std::to_string(c.jobs));
        size_t mostAtOnce = 0;
        EXPECT_EQ(runSchedule(fleet(), c.jobs, mostAtOnce), c.order);
        EXPECT_EQ(mostAtOnce, c.mostAtOnce);
    }
}

TEST(UpdateSchedule, NothingToScheduleIsDoneAtOnce) {
    UpdateSchedule schedule({}, 3);
    size_t index = 0;
    EXPECT_FALSE(schedule.next(index));
    EXPECT_TRUE(schedule.allStarted());
    EXPECT_EQ(schedule.running(), 0u);
}

TEST(ChildArguments, EveryOptionThatBearsOnOneModuleIsPassedOn) {
    Parameters params;
    params.commands.Set(CMD_UPDATE | CMD_GET_BUILD);
    params.buildNumber = "1300";
    params.storageDirectory = "/srv/store";
    params.updateServerUrl = "http://127.0.0.1:8080/cgi/u";
    params.useUEIBytesLoading = false;
    params.overrideModelChecks = true;
    params.historyLogMessage = "line 4 rollout";
    params.debugMaskGiven = true;
    params.debugBitMask = 0x10001;
    params.logFileGiven = true;
    params.logFileName = "run.log";
    params.flagN = true;
    params.lockWaitGiven = true;
    params.lockWaitSeconds = 30;
    params.jobs = 4;  // the run's own: not passed on
    params.deviceSerialNumber = 0x22222222;
    EXPECT_EQ(_child_arguments(params, module(0x22222222, "I2C", ROUTER)),
              (std::vector<std::string>{"--json",
                                        "-U",
                                        "--skip-current",
                                        "-d",
                                        "22222222",
                                        "-r",
                                        "D272031D",
                                        "-G",
                                        "-b",
                                        "1300",
                                        "-i",
                                        "/srv/store",
                                        "-u",
                                        "http://127.0.0.1:8080/cgi/u",
                                        "-m",
                                        "0",
                                        "-OVERRIDE",
                                        "-l",
                                        "line 4 rollout",
                                        "-X",
                                        "0x00010001",
                                        "-k",
                                        "run.log",
                                        "-n",
                                        "-w",
                                        "30"}));

    Parameters plain;
    plain.commands.Set(CMD_UPDATE);
    plain.updateServerUrl = "https://update.example/cgi/u";
    plain.birdFilePath = "fw.bird";
    EXPECT_EQ(
        _child_arguments(plain, module(0x40F5849A, "USB")),
        (std::vector<std::string>{"--json", "-U", "--skip-current", "-d", "40F5849A", "-f",
                                  "fw.bird", "-u", "https://update.example/cgi/u", "-m", "1"}));
}

constexpr int EXITED_0 = 0;       // waitpid's status of exit(0)
constexpr int EXITED_1 = 1 << 8;  // of exit(1)
constexpr int KILLED_BY_TERM = SIGTERM;

TEST(ChildDocument, TheUpdateDocumentGivesTheResult) {
    const ModuleToUpdate found = [] {
        ModuleToUpdate m = module(0x40F5849A, "USB");
        m.model = "Hub-4";
        m.build = 1000;
        return m;
    }();
    const struct {
        const char* name;
        std::string output;
        int status;
        std::string result;
        std::string error;
        unsigned before, after;
        double seconds;
    } cases[] = {
        {"download then update",
         R"({"command": "get_build", "serial": "40F5849A", "build": 1300})"
         "\n"
         R"({"command": "update", "serial": "40F5849A", "link_type": "USB", "model": "Hub-4",
             "build_before": 1000, "build_after": 1300, "result": "updated", "seconds": 41.25})",
         EXITED_0, "updated", "", 1000, 1300, 41.25},
        {"unchanged: the build it runs, no time",
         R"({"command": "update", "build_before": 1300, "result": "unchanged", "seconds": 0.4})",
         EXITED_0, "unchanged", "", 1300, 1300, -1},
        {"a failed download's line when the update has none",
         R"({"command": "get_build", "error": "Server request failed for URL"})"
         R"({"command": "update", "result": "no_build"})",
         EXITED_1, "no_build", "Server request failed for URL", 1000, 0, -1},
        {"the first of several error lines",
         R"({"command": "update", "result": "failed", "seconds": 3,
             "error": ["Firmware update failed [4, Timeout]", "more"]})",
         EXITED_1, "failed", "Firmware update failed [4, Timeout]", 1000, 0, 3},
        {"killed while it printed", R"({"command": "update", "resu)", KILLED_BY_TERM, "failed",
         "Updater ended by signal 15", 1000, 0, -1},
        {"no document at all", "", EXITED_1, "failed",
         "Updater ended without a result (exit status 1)", 1000, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModuleReport report = _module_report(found, c.output, c.status);
        EXPECT_EQ(report.result, c.result);
        EXPECT_EQ(report.error, c.error);
        EXPECT_EQ(report.buildBefore, c.before);
        EXPECT_EQ(report.buildAfter, c.after);
        EXPECT_EQ(report.seconds, c.seconds);
        EXPECT_EQ(report.module.model, "Hub-4");
    }
}

ModuleReport reportOf(ModuleToUpdate m, unsigned before, unsigned after, const char* result,
                      double seconds = -1) {
    ModuleReport report;
    report.module = m;
    report.buildBefore = before;
    report.buildAfter = after;
    report.result = result;
    report.seconds = seconds;
    return report;
}

TEST(UpdateAllTable, ColumnsLineUpAndUnknownsAreDashes) {
    const std::vector<ModuleReport> reports = {
        reportOf(module(0x40F5849A, "USB"), 1000, 1300, "updated", 41.2),
        reportOf(module(0x2181F0EE, "I2C", ROUTER), 1300, 1300, "unchanged"),
        reportOf(module(0x5A17C0DE, "TCP"), 0, 0, "busy"),
    };
    EXPECT_EQ(_update_all_table(reports),
              (std::vector<std::string>{
                  "Module    Link  Router    Before  After  Result     Time",
                  "40F5849A  USB   -         1000    1300   updated    41.2 s",
                  "2181F0EE  I2C   D272031D  1300    1300   unchanged  -",
                  "5A17C0DE  TCP   -         -       -      busy       -",
              }));
    // A longer entry widens its column for every row.
    EXPECT_EQ(_update_all_table({reportOf(module(0x40F5849A, "USB"), 99528558, 0, "would_update")}),
              (std::vector<std::string>{
                  "Module    Link  Router    Before    After  Result        Time",
                  "40F5849A  USB   -         99528558  -      would_update  -",
              }));
}

TEST(UpdateAllTable, SummaryCountsEveryOtherResultAsFailed) {
    std::vector<ModuleReport> reports;
    for (const char* result : {"updated", "updated", "unchanged", "busy", "failed", "no_build",
                               "wrong_model", "error"}) {
        reports.push_back(reportOf(module(0x40F5849A, "USB"), 0, 0, result));
    }
    const UpdateAllSummary summary = _summarize(reports);
    EXPECT_EQ(_update_all_summary_line(summary, false),
              "Updated 2, unchanged 1, failed 4, busy 1 (8 modules)");
    EXPECT_EQ(_update_all_summary_line(_summarize({reportOf(module(1, "USB"), 0, 0, "would_update"),
                                                   reportOf(module(2, "USB"), 0, 0, "unchanged")}),
                                       true),
              "Would update 1, unchanged 1, failed 0, busy 0 (2 modules)");
}

}  // namespace
