// What the fuzz targets share: a broken promise stops the run where the fuzzer can see it, and
// the program's diagnostic log runs (its formatting is exercised) without filling the terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Log.h"

inline void check(bool promise) {
    if (!promise) {
        abort();
    }
}

inline void logIntoNothing(uint32_t package) {
    static bool done = false;
    if (!done) {
        done = true;
        if (FILE* sink = fopen("/dev/null", "w")) {
            Log::SetOutput(sink);
            Log::ActivatePackage(package);
        }
    }
}
