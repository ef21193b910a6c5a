#include <cstdarg>
#include <cstdio>

#include "qDebugging.h"
#include "qShareFailureInternal.h"

namespace {

thread_local char failure[512] = "";

}  // namespace

void qShare_SetFailure(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(failure, sizeof failure, format, arguments);
    va_end(arguments);
    qDebug_Print(qDEBUG_CLIENT, "%s\n", failure);
}

void qShare_ClearFailure() {
    failure[0] = '\0';
}

const char* qShare_Failure(void) {
    return failure;
}
