// A thread that calls a procedure over and over with an output file and a link id, while it is
// enabled. The procedure paces itself.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qError.h"
#include "unix_file.h"

#define qLOGGER_CHECK 0xDEED

struct qLogger;
typedef qErr (*qLoggerProc)(qFile* file, uint32_t linkId);

// Opens path in append mode, unbuffered; null on failure.
ZENDRIVAL_EXPORT qLogger* qLogger_Create(uint32_t linkId, qLoggerProc procedure, const char* path);
ZENDRIVAL_EXPORT qErr qLogger_Enable(qLogger* logger);
ZENDRIVAL_EXPORT qErr qLogger_Disable(qLogger* logger);
ZENDRIVAL_EXPORT qErr qLogger_Destroy(qLogger** logger);
