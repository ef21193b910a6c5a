#include "ModuleLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "BuildPath.h"
#include "Log.h"
#include "qDirectory.h"

namespace {

constexpr const char* STORE_LOCK_DIRECTORY = ".locks";
// Like /run/lock: everybody adds files, nobody removes another's. Set with a chmod after the
// mkdir, which the umask cuts.
constexpr mode_t MACHINE_DIRECTORY_MODE = 01777;
// Readable by all: runs of other users open the file to lock it and to name its holder.
constexpr mode_t LOCK_FILE_MODE = 0644;
// Digits of a process id and a newline.
constexpr size_t PID_TEXT_SIZE = 24;
// Another run that has just made the machine's directory has not yet opened it up with its
// chmod: a sticky directory that is not writable is looked at again this many times, 20 ms apart.
constexpr int OPENING_UP_LOOKS = 5;

// Never follows a symbolic link, never waits on a FIFO, never makes a terminal ours.
constexpr int LOCK_FILE_FLAGS = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::string lockName(unsigned serial) {
    char name[16];
    snprintf(name, sizeof name, "%08X", serial);
    return name;
}

std::string storeLockDirectory(const std::string& storageDirectory) {
    return BuildPath(storageDirectory.c_str(), STORE_LOCK_DIRECTORY, nullptr);
}

// Opens the machine's directory, a real directory (lstat, and O_NOFOLLOW against a swap after
// it); -1 with the reason in why when there is none or it is unfit. To take a lock (create) it
// is made when missing, and it must have the sticky bit and be writable; to look, a directory
// is enough.
int openMachineDirectory(const std::string& directory, bool create, std::string& why) {
    bool made = false;  // by this run: it opens the directory up
    for (int look = 0;; ++look) {
        struct stat seen;
        if (lstat(directory.c_str(), &seen) != 0) {
            if (errno != ENOENT || !create) {
                why = "cannot look at " + directory + ": " + strerror(errno);
                return -1;
            }
            made = mkdir(directory.c_str(), MACHINE_DIRECTORY_MODE) == 0;
            if (!made && errno != EEXIST) {
                why = "cannot create " + directory + ": " + strerror(errno);
                return -1;
            }
            continue;  // made, by this run or another: look at what is there now
        }
        if (S_ISLNK(seen.st_mode)) {
            why = directory + " is a symbolic link";
            return -1;
        }
        if (!S_ISDIR(seen.st_mode)) {
            why = directory + " is not a directory";
            return -1;
        }
        const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat opened;
        if (fd < 0 || fstat(fd, &opened) != 0) {
            why = "cannot open " + directory + ": " + strerror(errno);
            if (fd >= 0) {
                close(fd);
            }
            return -1;
        }
        if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
            close(fd);
            why = directory + " changed while it was opened";
            return -1;
        }
        if (!create) {
            return fd;
        }
        if (made && opened.st_uid == geteuid() && fchmod(fd, MACHINE_DIRECTORY_MODE) == 0) {
            opened.st_mode = (opened.st_mode & ~07777) | MACHINE_DIRECTORY_MODE;
        }
        if ((opened.st_mode & S_ISVTX) == 0) {
            close(fd);
            why = directory + " has no sticky bit";
            return -1;
        }
        if (faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0) {
            close(fd);
            if (look < OPENING_UP_LOOKS) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            why = directory + " is not writable";
            return -1;
        }
        return fd;
    }
}

// The store's lock directory, made when create; -1 when it is not there or cannot be made.
int openStoreDirectory(const std::string& storageDirectory, bool create, std::string& why) {
    const std::string directory = storeLockDirectory(storageDirectory);
    if (create && qDirectory_Ensure(directory.c_str(), 0755) != qErrNone) {
        why = "cannot create " + directory;
        return -1;
    }
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot open " + directory + ": " + strerror(errno);
    }
    return fd;
}

// Opens the regular file name in the directory open at directory, made (0644) when missing. A
// file this user may not write (another user's) is opened for reading, which is all flock
// needs. Without O_CREAT on a file that exists, since the kernel refuses that in a sticky
// directory for a file of another user (fs.protected_regular), even to root. -1 with the
// reason, errno's text after path, in why.
int openLockFile(int directory, const std::string& name, const std::string& path, bool& writable,
                 std::string& why) {
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        writable = true;
        fd = openat(directory, name.c_str(), O_RDWR | LOCK_FILE_FLAGS);
        if (fd < 0 && errno == EACCES) {
            writable = false;
            fd = openat(directory, name.c_str(), O_RDONLY | LOCK_FILE_FLAGS);
        }
        if (fd >= 0 || errno != ENOENT) {
            break;
        }
        writable = true;
        fd = openat(directory, name.c_str(), O_RDWR | O_CREAT | O_EXCL | LOCK_FILE_FLAGS,
                    LOCK_FILE_MODE);
        if (fd >= 0) {
            fchmod(fd, LOCK_FILE_MODE);  // whatever the umask took away
        } else if (errno != EEXIST) {
            break;  // else made by another run at this moment: open that one
        }
    }
    if (fd < 0) {
        why = path + ": " + strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = path + ": not a regular file";
        close(fd);
        return -1;
    }
    // The process id goes only into a file that is this user's alone: never through a hard link
    // into someone else's file.
    writable = writable && st.st_uid == geteuid() && st.st_nlink == 1;
    return fd;
}

// The process holding the lock of the file name in the directory open at directory; 0 when
// none, or when it is not a regular file. Opens for reading only, and closes directory.
pid_t holderIn(int directory, const std::string& name) {
    if (directory < 0) {
        return 0;
    }
    const int fd = openat(directory, name.c_str(), O_RDONLY | LOCK_FILE_FLAGS);
    close(directory);
    if (fd < 0) {
        return 0;  // no Updater ever locked this module there
    }
    struct stat st;
    const pid_t holder = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? FileLock_Holder(fd) : 0;
    close(fd);
    return holder;
}

pid_t machineHolder(const std::string& machineDirectory, unsigned serial) {
    std::string unused;
    return holderIn(openMachineDirectory(machineDirectory, false, unused), lockName(serial));
}

pid_t storeHolder(const std::string& storageDirectory, unsigned serial) {
    std::string unused;
    return holderIn(openStoreDirectory(storageDirectory, false, unused), lockName(serial));
}

}  // namespace

std::string ModuleLock::MachinePath(const std::string& machineDirectory, unsigned serial) {
    return BuildPath(machineDirectory.c_str(), lockName(serial).c_str(), nullptr);
}

std::string ModuleLock::StorePath(const std::string& storageDirectory, unsigned serial) {
    return BuildPath(storageDirectory.c_str(), STORE_LOCK_DIRECTORY, lockName(serial).c_str(),
                     nullptr);
}

ModuleLock::ModuleLock(const std::string& machineDirectory, const std::string& storageDirectory,
                       unsigned serial) {
    const std::string name = lockName(serial);
    int directory = openMachineDirectory(machineDirectory, true, fallback_);
    if (directory >= 0) {
        path_ = MachinePath(machineDirectory, serial);
        take(directory, name);
        close(directory);
        yieldTo(storeHolder(storageDirectory, serial));
    } else {
        Log::log(DEBUG_Updater, "Module lock in the store: %s\n", fallback_.c_str());
        path_ = StorePath(storageDirectory, serial);
        directory = openStoreDirectory(storageDirectory, true, failure_);
        if (directory < 0) {
            return;
        }
        take(directory, name);
        close(directory);
        yieldTo(machineHolder(machineDirectory, serial));
    }
    if (held() && recordable_) {
        recordHolder();
    }
}

void ModuleLock::take(int directory, const std::string& name) {
    const int fd = openLockFile(directory, name, path_, recordable_, failure_);
    if (fd < 0) {
        return;
    }
    lock_ = FileLock(fd);
    if (lock_.held()) {
        return;
    }
    if (lock_.busy()) {
        // The kernel's table names the live holder; the file's text is only the fallback, since
        // it may still hold a dead holder's id for the moment before the new holder writes.
        holder_ = FileLock_Holder(lock_.descriptor());
        if (holder_ == 0) {
            holder_ = recordedHolder();
        }
    } else {
        failure_ = path_ + ": " + strerror(errno);
    }
}

void ModuleLock::yieldTo(pid_t otherHolder) {
    if (held() && otherHolder != 0) {
        lock_ = FileLock();
        holder_ = otherHolder;
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

pid_t ModuleLock::Holder(const std::string& machineDirectory, const std::string& storageDirectory,
                         unsigned serial) {
    const pid_t holder = machineHolder(machineDirectory, serial);
    return holder != 0 ? holder : storeHolder(storageDirectory, serial);
}

bool ModuleLock::HeldElsewhere(const std::string& machineDirectory,
                               const std::string& storageDirectory, unsigned serial) {
    const pid_t self = getpid();
    const pid_t inMachine = machineHolder(machineDirectory, serial);
    if (inMachine != 0 && inMachine != self) {
        return true;
    }
    const pid_t inStore = storeHolder(storageDirectory, serial);
    return inStore != 0 && inStore != self;
}

namespace {

// How often a module another Updater holds is tried again while "-w" waits: often enough that
// the wait ends soon after the holder lets go, seldom enough to cost nothing.
constexpr auto LOCK_RETRY_INTERVAL = std::chrono::milliseconds(200);

// Tries again until the lock is held, cannot be had for another reason, or the time is up.
std::unique_ptr<ModuleLock> waitForLock(UpdaterDisplayInterface& display,
                                        std::unique_ptr<ModuleLock> lock,
                                        const std::string& machineDirectory,
                                        const std::string& storageDirectory, unsigned serial,
                                        unsigned waitSeconds) {
    display.message(UpdaterDisplayInterface::LEVEL_INFO,
                    "Module %08X is being updated by another Updater (process %d); waiting up to "
                    "%u s",
                    serial, static_cast<int>(lock->holder()), waitSeconds);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    while (!lock->held() && lock->failure().empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(LOCK_RETRY_INTERVAL);
        lock = std::make_unique<ModuleLock>(machineDirectory, storageDirectory, serial);
    }
    return lock;
}

}  // namespace

std::unique_ptr<ModuleLock> _lock_module(UpdaterDisplayInterface& display,
                                         const std::string& machineDirectory,
                                         const std::string& storageDirectory, unsigned serial,
                                         bool& warned, unsigned waitSeconds) {
    auto lock = std::make_unique<ModuleLock>(machineDirectory, storageDirectory, serial);
    if (!lock->fallback().empty() && !warned) {
        warned = true;
        display.message(UpdaterDisplayInterface::LEVEL_WARNING,
                        "%s; module locks are kept in %s instead, which only runs using this "
                        "store see",
                        lock->fallback().c_str(), storeLockDirectory(storageDirectory).c_str());
    }
    if (!lock->held() && lock->failure().empty() && waitSeconds > 0) {
        lock = waitForLock(display, std::move(lock), machineDirectory, storageDirectory, serial,
                           waitSeconds);
    }
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

bool _module_not_held(UpdaterDisplayInterface& display, const std::string& machineDirectory,
                      const std::string& storageDirectory, unsigned serial) {
    const pid_t holder = ModuleLock::Holder(machineDirectory, storageDirectory, serial);
    if (holder == 0 || holder == getpid()) {
        return true;
    }
    display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                    "Module %08X is being updated by another Updater (process %d)", serial,
                    static_cast<int>(holder));
    return false;
}
