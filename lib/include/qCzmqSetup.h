// CZMQ installs its own SIGINT/SIGTERM handlers the first time it is used, after which Ctrl+C
// only sets a flag. Calling qCzmq_Prepare before any CZMQ use keeps the program's own signal
// handling; a program that installs CZMQ's handlers anyway still ends on Ctrl+C, because client
// streams pass the interrupt on (qCzmq_PassOnInterrupt).
#pragma once

#include "ZendrivalExport.h"

#include <czmq.h>

ZENDRIVAL_EXPORT void qCzmq_Prepare();

// True when a poll returned nothing because the poller is finished (its context ended), not
// because it timed out or a signal handler of the program interrupted it: a worker thread must
// not stop serving because the program caught, say, SIGCHLD.
ZENDRIVAL_EXPORT bool qCzmq_PollerEnded(zpoller_t* poller);

// When CZMQ's handler has recorded an interrupt, raises SIGINT again with the default action so
// that the program ends as Ctrl+C means. True when an interrupt was pending.
ZENDRIVAL_EXPORT bool qCzmq_PassOnInterrupt();
