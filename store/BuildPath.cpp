#include "BuildPath.h"

#include <cstdarg>

std::string BuildPath(const char* first, ...) {
    if (first == nullptr) {
        return std::string();
    }
    std::string path(first);
    va_list args;
    va_start(args, first);
    for (const char* piece = va_arg(args, const char*); piece != nullptr;
         piece = va_arg(args, const char*)) {
        path += "/";
        path += piece;
    }
    va_end(args);
    return path;
}
