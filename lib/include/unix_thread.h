// Portable thread functions of the device library: joinable threads.
#pragma once

#include "ZendrivalExport.h"

#include <pthread.h>

#include "qError.h"

#define qTHREAD_CHECK 0x7EAD

typedef void* (*qThreadProc)(void* argument);

struct qThread {
    pthread_t handle;
    unsigned short check;
};

// Starts procedure(argument) on a new thread; null when it cannot be started.
ZENDRIVAL_EXPORT qThread* qThread_Create(qThreadProc procedure, void* argument);
// Waits for the thread to end, frees the handle and clears the caller's pointer.
ZENDRIVAL_EXPORT qErr qThread_Destroy(qThread** thread);
// Gives other threads a moment (5 microseconds).
ZENDRIVAL_EXPORT void qThread_Yield();
