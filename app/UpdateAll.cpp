#include "UpdateAll.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "CLI_Display.h"
#include "ChildArguments.h"
#include "ChildDocument.h"
#include "ChildProcess.h"
#include "JsonReport.h"
#include "JsonUpdateAll.h"
#include "ModulesToUpdate.h"
#include "StopSignals.h"
#include "UpdateAllTable.h"
#include "UpdateSchedule.h"
#include "Updater.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;
// A wait of the main loop ends at least this often, signal or not.
constexpr int POLL_LIMIT_MS = 1000;
// How long an Updater told to stop (SIGTERM) has before it is killed.
constexpr int STOP_GRACE_MS = 10000;

// This program, to run once per module.
std::string ownProgram() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return "";
    }
    return std::string(path, static_cast<size_t>(length));
}

class UpdateAllRun {
  public:
    UpdateAllRun(CLI_Display& display, const Parameters& params,
                 std::vector<ModuleToUpdate> modules)
        : display(display),
          params(params),
          modules(std::move(modules)),
          children(this->modules.size()),
          reports(this->modules.size()),
          schedule(this->modules, params.jobs) {}

    // Runs every update, or until a signal stops the run; the reports in module order.
    std::vector<ModuleReport> run(const std::string& program, const StopSignals& stop) {
        while (!stop.stopped()) {
            startWhatMay(program);
            if (schedule.running() == 0 && schedule.allStarted()) {
                break;
            }
            waitForOutput(stop);
            collectEnded();
        }
        if (stop.stopped()) {
            stopEveryChild();
        }
        return reports;
    }

  private:
    void startWhatMay(const std::string& program) {
        size_t index = 0;
        while (schedule.next(index)) {
            auto child = std::make_unique<ChildProcess>();
            if (child->start(program, _child_arguments(params, modules[index]))) {
                children[index] = std::move(child);
                continue;
            }
            ModuleReport& report = reports[index];
            report.module = modules[index];
            report.result = "failed";
            report.error = std::string("Could not start Updater: ") + strerror(errno);
            schedule.finished(index);
        }
    }

    void waitForOutput(const StopSignals& stop) {
        std::vector<pollfd> watched;
        watched.push_back({stop.descriptor(), POLLIN, 0});
        for (const auto& child : children) {
            for (int fd :
                 {child ? child->outputDescriptor() : -1, child ? child->errorDescriptor() : -1}) {
                if (fd >= 0) {
                    watched.push_back({fd, POLLIN, 0});
                }
            }
        }
        if (poll(watched.data(), watched.size(), POLL_LIMIT_MS) <= 0) {
            return;
        }
        for (const pollfd& entry : watched) {
            if (entry.revents == 0 || entry.fd == stop.descriptor()) {
                continue;
            }
            for (const auto& child : children) {
                if (child && (entry.fd == child->outputDescriptor() ||
                              entry.fd == child->errorDescriptor())) {
                    child->readFrom(entry.fd);
                }
            }
        }
    }

    // Relays what each child wrote to its standard error, led by the module's serial number.
    void relay(size_t index) {
        for (const std::string& line : children[index]->takeErrorLines()) {
            fprintf(stderr, "%08X: %s\n", modules[index].serial, line.c_str());
        }
    }

    void finish(size_t index) {
        ChildProcess& child = *children[index];
        child.reap(-1);
        relay(index);
        reports[index] = _module_report(modules[index], child.output(), child.waitStatus());
        display.message(INFO, "Module %08X: %s", modules[index].serial,
                        reports[index].result.c_str());
        children[index].reset();
        schedule.finished(index);
    }

    void collectEnded() {
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i]) {
                relay(i);
                if (children[i]->pipesClosed()) {
                    finish(i);
                }
            }
        }
    }

    // Each running Updater gets SIGTERM and some seconds to go (its module lock goes with the
    // process, and the store's files are written whole or not at all); the modules not started
    // are reported as such.
    void stopEveryChild() {
        for (const auto& child : children) {
            if (child) {
                child->signal(SIGTERM);
            }
        }
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i]) {
                if (!children[i]->reap(STOP_GRACE_MS)) {
                    children[i]->signal(SIGKILL);
                }
                while (!children[i]->pipesClosed()) {
                    children[i]->readFrom(children[i]->outputDescriptor() >= 0
                                              ? children[i]->outputDescriptor()
                                              : children[i]->errorDescriptor());
                }
                finish(i);
            }
        }
        for (size_t i = 0; i < reports.size(); ++i) {
            if (reports[i].result.empty()) {
                reports[i].module = modules[i];
                reports[i].buildBefore = modules[i].build;
                reports[i].result = "failed";
                reports[i].error = "Not started: the run was stopped";
            }
        }
    }

    CLI_Display& display;
    const Parameters& params;
    std::vector<ModuleToUpdate> modules;
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::vector<ModuleReport> reports;
    UpdateSchedule schedule;
};

bool everyModuleSucceeded(const std::vector<ModuleReport>& reports) {
    for (const ModuleReport& report : reports) {
        if (!_result_is_success(report.result)) {
            return false;
        }
    }
    return !reports.empty();
}

void showTable(CLI_Display& display, const std::vector<ModuleReport>& reports, bool dryRun) {
    for (const std::string& line : _update_all_table(reports)) {
        display.message(INFO, "%s", line.c_str());
    }
    display.message(INFO, "%s", _update_all_summary_line(_summarize(reports), dryRun).c_str());
}

// Why "-a" cannot run with these options, "" when it can.
const char* refusal(const Parameters& params) {
    if (!params.commands.IsSet(CMD_UPDATE)) {
        return "-a updates every module found: give it with -U";
    }
    if (params.transport == TRANSPORT_RECOVER) {
        return "-a cannot recover modules: -t RECOVER needs one serial port";
    }
    return "";
}

}  // namespace

int _update_all(CLI_Display& display, Updater& updater, const Parameters& params,
                JsonReport& report) {
    const bool dryRun = params.flagN;
    const char* refused = refusal(params);
    if (*refused != '\0') {
        display.message(ERROR, "%s", refused);
        report.print(_json_update_all({}, dryRun));
        return 1;
    }
    StopSignals stop;
    display.message(INFO, "Searching for Zendrival devices");
    std::vector<ModuleToUpdate> modules = _modules_to_update(display, updater, params);
    if (modules.empty()) {
        if (params.deviceSerialNumber == 0) {
            display.message(ERROR, "No modules found");
        }
        report.print(_json_update_all({}, dryRun));
        return 1;
    }
    const std::string program = ownProgram();
    if (program.empty()) {
        display.message(ERROR, "Could not find this program to run it per module: %s",
                        strerror(errno));
        report.print(_json_update_all({}, dryRun));
        return 1;
    }
    display.message(INFO, "Modules found: %zu; updating up to %u at a time", modules.size(),
                    params.jobs);
    UpdateAllRun run(display, params, std::move(modules));
    const std::vector<ModuleReport> reports = run.run(program, stop);
    showTable(display, reports, dryRun);
    if (stop.stopped()) {
        display.message(ERROR, "Stopped by a signal: the updates under way were ended");
    }
    report.print(_json_update_all(reports, dryRun));
    return !stop.stopped() && everyModuleSucceeded(reports) ? 0 : 1;
}
