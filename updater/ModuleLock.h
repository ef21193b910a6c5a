// One Updater per module on the machine: an exclusive lock (flock) on the file SSSSSSSS of
// /run/lock/zendrival, a directory every user and every store shares, so that no two Updaters
// talk to one module at once, whoever runs them and whatever "-i" they give. The directory is
// made like /run/lock itself (mode 01777: anybody may add a lock file, only its owner may remove
// it), and its lock files are readable by all (0644): a run of another user opens one for reading
// to take the lock, and finds the holder in the kernel's lock table.
//
// Where that directory cannot be made or is unfit (not a real directory with the sticky bit, or
// not writable), the lock falls back to the file ".locks/SSSSSSSS" of the store, as before the
// machine's directory: that keeps apart only the runs sharing the store. The leading dot keeps
// it out of the store's device search and listings. A lock taken in one place is given up when
// the other place names a live holder, so that a run in the fallback and a run beside it (or an
// older Updater, which locks in the store only) still keep off each other's modules.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

#include "FileLock.h"
#include "UpdaterDisplayInterface.h"

constexpr const char* MACHINE_LOCK_DIRECTORY = "/run/lock/zendrival";

class ModuleLock {
  public:
    // Tries once, without waiting, to take serial's lock in machineDirectory (made when missing;
    // MACHINE_LOCK_DIRECTORY but in tests), else in the store rooted at storageDirectory. The
    // holder's process id is written into a lock file this user owns, for people looking at it.
    ModuleLock(const std::string& machineDirectory, const std::string& storageDirectory,
               unsigned serial);

    bool held() const { return lock_.held(); }
    // When another Updater holds the lock: its process id (0 when it cannot be told).
    pid_t holder() const { return holder_; }
    // Why the lock could not be taken when nobody else holds it (the file could not be made).
    const std::string& failure() const { return failure_; }
    // Why the machine's directory could not be used, "" when it was: the lock was then tried in
    // the store.
    const std::string& fallback() const { return fallback_; }
    // The lock file tried.
    const std::string& path() const { return path_; }

    // The process holding serial's lock, 0 when none: looks in the machine's directory, then in
    // the store, without taking the lock or creating anything.
    static pid_t Holder(const std::string& machineDirectory, const std::string& storageDirectory,
                        unsigned serial);
    // Whether a process other than this one holds serial's lock in either place (a routed update
    // searches the router's bus while it holds the router and the module itself).
    static bool HeldElsewhere(const std::string& machineDirectory,
                              const std::string& storageDirectory, unsigned serial);
    static std::string MachinePath(const std::string& machineDirectory, unsigned serial);
    static std::string StorePath(const std::string& storageDirectory, unsigned serial);

  private:
    // Takes the lock on the file name of the directory open at directory (path names it).
    void take(int directory, const std::string& name);
    // Gives the lock up again when the other place names a live holder.
    void yieldTo(pid_t otherHolder);
    void recordHolder();
    pid_t recordedHolder() const;

    FileLock lock_;
    bool recordable_ = false;  // the file is this user's, open for writing
    pid_t holder_ = 0;
    std::string failure_;
    std::string fallback_;
    std::string path_;
};

// serial's lock, or none after one error line: another Updater is at the module, or the lock
// file cannot be made. The first lock of a run that falls back to the store says so in a
// warning (warned records it). A module another Updater holds is tried again every 200 ms for
// up to waitSeconds ("-w"; 0: busy at once), after one line saying that it waits.
std::unique_ptr<ModuleLock> _lock_module(UpdaterDisplayInterface& display,
                                         const std::string& machineDirectory,
                                         const std::string& storageDirectory, unsigned serial,
                                         bool& warned, unsigned waitSeconds = 0);

// What _lock_module would say of a module another Updater holds, without taking its lock or
// making any file: a dry run's look. False after the same error line.
bool _module_not_held(UpdaterDisplayInterface& display, const std::string& machineDirectory,
                      const std::string& storageDirectory, unsigned serial);
