// Portable mutex functions of the device library: a named, error-checking process mutex.
#pragma once

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
qMutex* qMutex_Create(const char* name);
// The name given at creation; null for an invalid mutex.
const char* qMutex_Identifier(const qMutex* mutex);
qErr qMutex_Lock(qMutex* mutex);
// qErrBusy when another holder has it.
qErr qMutex_TryLock(qMutex* mutex);
qErr qMutex_Unlock(qMutex* mutex);
// Destroys, frees and clears the caller's pointer in every case; qErrBusy for a locked mutex.
qErr qMutex_Destroy(qMutex** mutex);
