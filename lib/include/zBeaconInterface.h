// The network interface CZMQ beacons use is one process-wide setting. These functions guard it
// with one mutex so that a beacon search and a link server's beacon never run with each other's
// interface. Accepted values: a dotted IPv4 address, "" or "*"; anything else returns false and
// takes no lock.
#pragma once

#include "ZendrivalExport.h"

ZENDRIVAL_EXPORT bool zBeaconInterface_setAndLock(const char* text);
ZENDRIVAL_EXPORT void zBeaconInterface_unlock();
ZENDRIVAL_EXPORT bool zBeaconInterface_backupSetAndLock(const char* text);
ZENDRIVAL_EXPORT void zBeaconInterface_restoreAndUnlock();
ZENDRIVAL_EXPORT const char* zBeaconInterface_get();
ZENDRIVAL_EXPORT const char* zBeaconInterface_getAndLock();
ZENDRIVAL_EXPORT const char* zBeaconInterface_getBackup();
ZENDRIVAL_EXPORT const char* zBeaconInterface_getBackupAndLock();
