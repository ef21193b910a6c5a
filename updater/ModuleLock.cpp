#include "ModuleLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BuildPath.h"
#include "Log.h"
#include "qDirectory.h"

namespace {

constexpr const char* LOCK_DIRECTORY = ".locks";
// Digits of a process id and a newline.
constexpr size_t PID_TEXT_SIZE = 24;

}  // namespace

std::string ModuleLock::Path(const std::string& storageDirectory, unsigned serial) {
    char name[16];
    snprintf(name, sizeof name, "%08X", serial);
    return BuildPath(storageDirectory.c_str(), LOCK_DIRECTORY, name, nullptr);
}

ModuleLock::ModuleLock(const std::string& storageDirectory, unsigned serial) {
    const std::string directory = BuildPath(storageDirectory.c_str(), LOCK_DIRECTORY, nullptr);
    if (qDirectory_Ensure(directory.c_str(), 0755) != qErrNone) {
        failure_ = "cannot create " + directory;
        return;
    }
    const std::string path = Path(storageDirectory, serial);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        failure_ = path + ": " + strerror(errno);
        return;
    }
    lock_ = FileLock(fd);
    if (lock_.held()) {
        recordHolder();
    } else if (lock_.busy()) {
        // The kernel's table names the live holder; the file's text is only the fallback, since
        // it may still hold a dead holder's id for the moment before the new holder writes.
        holder_ = FileLock_Holder(lock_.descriptor());
        if (holder_ == 0) {
            holder_ = recordedHolder();
        }
    } else {
        failure_ = path + ": " + strerror(errno);
    }
}

void ModuleLock::recordHolder() {
    // Whatever an earlier holder left in the file is stale: it died or let go, or the lock would
    // not have been granted.
    char text[PID_TEXT_SIZE];
    int length = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    const int fd = lock_.descriptor();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text, static_cast<size_t>(length), 0) != length) {
        // Only the record for people is missing; the lock itself is held.
        Log::log(DEBUG_Updater, "Could not record this process in its module lock: %s\n",
                 strerror(errno));
    }
}

pid_t ModuleLock::recordedHolder() const {
    char text[PID_TEXT_SIZE] = "";
    ssize_t length = pread(lock_.descriptor(), text, sizeof text - 1, 0);
    if (length <= 0) {
        return 0;
    }
    text[length] = '\0';
    return static_cast<pid_t>(strtol(text, nullptr, 10));
}

pid_t ModuleLock::Holder(const std::string& storageDirectory, unsigned serial) {
    int fd = open(Path(storageDirectory, serial).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;  // no Updater ever locked this module in this store
    }
    pid_t holder = FileLock_Holder(fd);
    close(fd);
    return holder;
}

bool ModuleLock::HeldElsewhere(const std::string& storageDirectory, unsigned serial) {
    const pid_t holder = Holder(storageDirectory, serial);
    return holder != 0 && holder != getpid();
}

std::unique_ptr<ModuleLock> _lock_module(UpdaterDisplayInterface& display,
                                         const std::string& storageDirectory, unsigned serial) {
    auto lock = std::make_unique<ModuleLock>(storageDirectory, serial);
    if (lock->held()) {
        return lock;
    }
    if (lock->failure().empty()) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Module %08X is being updated by another Updater (process %d)", serial,
                        static_cast<int>(lock->holder()));
    } else {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Could not lock module %08X: %s",
                        serial, lock->failure().c_str());
    }
    return nullptr;
}
