// CZMQ keeps the beacon's network interface as one process-wide setting that a beacon reads when
// it is configured. A beacon search and a link server's beacon set-up in one process would take
// each other's interface without this lock; it is held from setting the interface until the
// beacon no longer needs it.
#include "zBeaconInterface.h"
#include "qCzmqSetup.h"

#include <arpa/inet.h>
#include <atomic>
#include <czmq.h>
#include <string>
#include <thread>

#include "qDebugging.h"
#include "unix_mutex.h"

namespace {

// The mutex checks its owner, so an unlock from a thread that does not hold it is refused
// instead of releasing someone else's lock.
qMutex* interfaceLock() {
    static qMutex* lock = qMutex_Create("zBeaconInterface");
    return lock;
}

// The interface in force before the last backup-set, put back on restore. A string rather than a
// fixed buffer: CZMQ takes any text (an interface name from ZSYS_INTERFACE may be long) and a
// truncated backup would restore a different interface.
struct Backup {
    std::string text;
    bool saved = false;
};

Backup& backup() {
    static Backup saved;
    return saved;
}

// Who holds the lock, so that only the holder puts a backup back.
std::atomic<std::thread::id> holder{};

bool acceptable(const char* text) {
    if (text == nullptr) {
        return false;
    }
    if (text[0] == '\0' || (text[0] == '*' && text[1] == '\0')) {
        return true;
    }
    in_addr address;
    return inet_pton(AF_INET, text, &address) == 1;
}

bool lock() {
    qMutex* mutex = interfaceLock();
    if (mutex == nullptr) {
        return false;
    }
    qErr result = qMutex_Lock(mutex);
    if (result != qErrNone) {
        qDebug_Print(qDEBUG_BEACON, "Beacon interface lock failed: %d\n", result);
        return false;
    }
    holder.store(std::this_thread::get_id());
    return true;
}

const char* current() {
    qCzmq_Prepare();
    const char* text = zsys_interface();
    return text != nullptr ? text : "";
}

// Takes the lock for a name that can be set; a name that cannot is refused without it.
bool lockForName(const char* text) {
    if (!acceptable(text)) {
        qDebug_Print(qDEBUG_BEACON, "Beacon interface refused: %s\n",
                     text != nullptr ? text : "(null)");
        return false;
    }
    return lock();
}

}  // namespace

bool zBeaconInterface_setAndLock(const char* text) {
    if (!lockForName(text)) {
        return false;
    }
    qCzmq_Prepare();
    zsys_set_interface(text);
    qDebug_Print(qDEBUG_BEACON, "Beacon interface set to \"%s\"\n", text);
    return true;
}

void zBeaconInterface_unlock() {
    qMutex* mutex = interfaceLock();
    if (mutex == nullptr || holder.load() != std::this_thread::get_id()) {
        qDebug_Print(qDEBUG_BEACON, "Beacon interface unlock without the lock refused\n");
        return;
    }
    holder.store(std::thread::id());
    qMutex_Unlock(mutex);
}

bool zBeaconInterface_backupSetAndLock(const char* text) {
    if (!lockForName(text)) {
        return false;
    }
    backup().text = current();
    backup().saved = true;
    qCzmq_Prepare();
    zsys_set_interface(text);
    qDebug_Print(qDEBUG_BEACON, "Beacon interface set to \"%s\", was \"%s\"\n", text,
                 backup().text.c_str());
    return true;
}

void zBeaconInterface_restoreAndUnlock() {
    // Only the holder may put the setting back: anyone else would overwrite the interface a
    // running beacon set-up depends on.
    if (holder.load() != std::this_thread::get_id()) {
        qDebug_Print(qDEBUG_BEACON, "Beacon interface restore without the lock refused\n");
        return;
    }
    if (backup().saved) {
        zsys_set_interface(backup().text.c_str());
        backup().saved = false;
        qDebug_Print(qDEBUG_BEACON, "Beacon interface restored to \"%s\"\n", backup().text.c_str());
    }
    zBeaconInterface_unlock();
}

const char* zBeaconInterface_get() {
    return current();
}

const char* zBeaconInterface_getAndLock() {
    if (!lock()) {
        return nullptr;
    }
    return current();
}

const char* zBeaconInterface_getBackup() {
    return backup().text.c_str();
}

const char* zBeaconInterface_getBackupAndLock() {
    if (!lock()) {
        return nullptr;
    }
    return backup().text.c_str();
}
