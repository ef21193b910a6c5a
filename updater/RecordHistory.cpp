// "-U" and "-U -t RECOVER": every attempt at a module, success or failure, leaves one line in
// the module's history (store/ModuleHistory.h), written before the module's lock is let go so
// that the lines of the Updaters taking turns at a module follow each other in their order.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "BuildPath.h"
#include "FileDigest.h"
#include "Log.h"
#include "ModuleHistory.h"
#include "ModuleLock.h"
#include "Updater.h"
#include "UpdaterStore.h"

namespace {

std::string utcNow() {
    const time_t now = time(nullptr);
    struct tm utc;
    char text[32] = "";
    if (gmtime_r(&now, &utc) != nullptr) {
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    return text;
}

std::string hostName() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

// The real user (the one "sudo" names is not the one who typed the command, but the one whose
// rights the run had is): the password database's name, else the number.
std::string userName() {
    const uid_t uid = getuid();
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// Whether the attempt got as far as a real module: it was updated, it answered with its build
// or model, or it is a recovery, whose module is known only once its chip has answered.
bool reachedModule(const UpdateOutcome& outcome) {
    return outcome.result == UpdateResult::UPDATED || outcome.buildBefore != 0 ||
           !outcome.model.empty() || outcome.link == "RECOVER";
}

bool isDirectory(const std::string& path) {
    struct stat seen;
    return stat(path.c_str(), &seen) == 0 && S_ISDIR(seen.st_mode);
}

HistoryEntry entryOf(const UpdateOutcome& outcome) {
    HistoryEntry entry;
    entry.time = utcNow();
    entry.host = hostName();
    entry.user = userName();
    entry.serial = outcome.serial;
    entry.link = outcome.link;
    entry.routerSerial = outcome.routerSerial;
    entry.model = outcome.model;
    entry.buildBefore = outcome.buildBefore;
    entry.buildAfter = outcome.buildAfter;
    entry.file = outcome.file;
    entry.fileSha256 = outcome.fileSha256;
    entry.result = UpdateResultName(outcome.result);
    entry.error = outcome.errorLine;
    entry.seconds = outcome.seconds;
    return entry;
}

}  // namespace

void Updater::closeAttempt() {
    recordHistory();
    heldLocks.clear();
}

void Updater::recordHistory() {
    // A dry run changes nothing, and a module left alone on its build was not updated (a second
    // update of every module is a no-op); a recovery whose module stayed unknown has no history
    // to go to.
    if (dryRun || outcome.result == UpdateResult::UNCHANGED || outcome.serial == 0) {
        return;
    }
    char name[16];
    snprintf(name, sizeof name, "%08X", outcome.serial);
    const std::string directory = BuildPath(storageDirectory.c_str(), name, nullptr);
    // No directory is made for a module that never answered (a mistyped serial number would
    // turn up in the store as a module), nor without the module's lock: another Updater is at
    // the module, and this line goes only into a history that is there. It cannot mix with the
    // holder's lines, since each line is one write on a file open for appending.
    if (!isDirectory(directory)) {
        if (heldLocks.empty() || !reachedModule(outcome)) {
            Log::log(DEBUG_Updater, "No history kept for %s: it has no store directory\n", name);
            return;
        }
        try {
            UpdaterStore_EnsureDirectory(directory);
        } catch (const std::runtime_error& error) {
            display.message(UpdaterDisplayInterface::LEVEL_WARNING,
                            "Module %s's history was not written: %s", name, error.what());
            return;
        }
    }
    if (outcome.fileSha256.empty() && !outcome.file.empty()) {
        outcome.fileSha256 = FileDigest_Sha256(outcome.file);
    }
    HistoryEntry entry = entryOf(outcome);
    entry.version = programVersion;
    entry.command = commandLine;
    entry.message = transferMessage;
    std::string failure;
    if (!ModuleHistory_Append(BuildPath(directory.c_str(), HISTORY_FILE_NAME, nullptr), entry,
                              failure)) {
        display.message(UpdaterDisplayInterface::LEVEL_WARNING,
                        "Module %s's history was not written: %s", name, failure.c_str());
    }
}
