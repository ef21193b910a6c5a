// One Updater per module: an exclusive lock on the file ".locks/SSSSSSSS" of the store, so that
// every Updater sharing the store keeps off a module another one is talking to. The directory's
// leading dot keeps it out of the store's device search and listings.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

#include "FileLock.h"
#include "UpdaterDisplayInterface.h"

class ModuleLock {
  public:
    // Tries once, without waiting, to take serial's lock in the store rooted at storageDirectory;
    // the holder's process id is written into the file for people looking at the store.
    ModuleLock(const std::string& storageDirectory, unsigned serial);

    bool held() const { return lock_.held(); }
    // When another Updater holds the lock: its process id (0 when it cannot be told).
    pid_t holder() const { return holder_; }
    // Why the lock could not be taken when nobody else holds it (the file could not be made).
    const std::string& failure() const { return failure_; }

    // The process holding serial's lock, 0 when none: looks without taking it or creating files.
    static pid_t Holder(const std::string& storageDirectory, unsigned serial);
    // Whether a process other than this one holds serial's lock (a routed update searches the
    // router's bus while it holds the router and the module itself).
    static bool HeldElsewhere(const std::string& storageDirectory, unsigned serial);
    static std::string Path(const std::string& storageDirectory, unsigned serial);

  private:
    void recordHolder();
    pid_t recordedHolder() const;

    FileLock lock_;
    pid_t holder_ = 0;
    std::string failure_;
};

// serial's lock, or none after one error line: another Updater is at the module, or the lock
// file cannot be made.
std::unique_ptr<ModuleLock> _lock_module(UpdaterDisplayInterface& display,
                                         const std::string& storageDirectory, unsigned serial);
