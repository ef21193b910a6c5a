// The network interface CZMQ beacons use is one process-wide setting. These functions guard it
// with one mutex so that a beacon search and a link server's beacon never run with each other's
// interface. Accepted values: a dotted IPv4 address, "" or "*"; anything else returns false and
// takes no lock.
#pragma once

bool zBeaconInterface_setAndLock(const char* text);
void zBeaconInterface_unlock();
bool zBeaconInterface_backupSetAndLock(const char* text);
void zBeaconInterface_restoreAndUnlock();
const char* zBeaconInterface_get();
const char* zBeaconInterface_getAndLock();
const char* zBeaconInterface_getBackup();
const char* zBeaconInterface_getBackupAndLock();
