#include "UpdaterDisplayInterface.h"

#include <cstdarg>

#include "FormattedText.h"

void UpdaterDisplayInterface::message(Level level, const char* format, ...) {
    if (muted) {
        return;
    }
    va_list args;
    va_start(args, format);
    show(level, FormattedText(format, args).c_str());
    va_end(args);
}

void UpdaterDisplayInterface::show(Level level, const char* text) {
    if (level == LEVEL_ERROR) {
        ++errorsShown;
        errorTexts.emplace_back(text);
        error_message(text);
    } else if (level == LEVEL_WARNING) {
        warning_message(text);
    } else {
        info_message(text);
    }
}
