#include "Log.h"

#include <cstdarg>

#include "FormattedText.h"

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;
FILE* Log::file_fh = nullptr;

void Log::log(uint32_t mask, const char* format, ...) {
    if (mask != 0 && (mask & package_bitmask) == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    write(FormattedText(format, args).c_str());
    va_end(args);
}

void Log::write(const char* text) {
    if (fh != nullptr) {
        fputs(text, fh);
    }
    if (file_fh != nullptr) {
        fputs(text, file_fh);
        // Flushed line by line, so the file tells how far a run got even when it ends abruptly.
        fflush(file_fh);
    }
}

void Log::SetOutput(FILE* output) {
    fh = output;
}

void Log::SetFileOutput(FILE* output) {
    file_fh = output;
}

void Log::ActivatePackage(uint32_t bits) {
    package_bitmask |= bits;
}

void Log::DeactivatePackage(uint32_t bits) {
    package_bitmask &= ~bits;
}
