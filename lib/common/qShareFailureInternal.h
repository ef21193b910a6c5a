// Recording why sharing or reaching a shared link failed, for qShare_Failure.
#pragma once

#include "qShareFailure.h"

// Records this thread's failure (printf-style).
void qShare_SetFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Clears it at the start of an attempt.
void qShare_ClearFailure();
