// Portable mutex functions of the device library: a named, error-checking process mutex.
#pragma once

#include "ZendrivalExport.h"

#include <pthread.h>

#include "qError.h"

#define qMUTEX_CHECK 0xFACE
#define qMUTEX_MAX_NAME 255

struct qMutex {
    pthread_mutex_t mutex;
    char name[qMUTEX_MAX_NAME + 1];
    unsigned short check;
};

// A new unlocked mutex; name may be null (empty name). Null when the name has 256 characters or
// more, or when the mutex cannot be made. The mutex checks its owner: locking it twice from one
// thread is qErrDuplicate, unlocking it from another thread qErrPermission.
ZENDRIVAL_EXPORT qMutex* qMutex_Create(const char* name);
// The name given at creation; null for an invalid mutex.
ZENDRIVAL_EXPORT const char* qMutex_Identifier(const qMutex* mutex);
ZENDRIVAL_EXPORT qErr qMutex_Lock(qMutex* mutex);
// qErrBusy when another holder has it.
ZENDRIVAL_EXPORT qErr qMutex_TryLock(qMutex* mutex);
ZENDRIVAL_EXPORT qErr qMutex_Unlock(qMutex* mutex);
// Destroys, frees and clears the caller's pointer in every case; qErrBusy for a locked mutex.
ZENDRIVAL_EXPORT qErr qMutex_Destroy(qMutex** mutex);
