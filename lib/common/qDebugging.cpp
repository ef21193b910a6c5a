#include "qDebugging.h"

#include <cstdarg>
#include <cstdio>

volatile uint8_t qZendrivalDebuggingEnable = 0;
volatile uint32_t qZendrivalDebuggingLevel = 0;

bool qDebug_IsOn(uint32_t bit) {
    return qZendrivalDebuggingEnable != 0 && (qZendrivalDebuggingLevel & bit) != 0;
}

void qDebug_Print(uint32_t bit, const char* format, ...) {
    if (!qDebug_IsOn(bit) || format == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fflush(stdout);
}
