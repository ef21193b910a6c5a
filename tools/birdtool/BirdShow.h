// Prints what a BIRD file holds.
#pragma once

#include <cstdio>

// Returns the exit code: 0 when the file was shown, 1 when it is not a loadable BIRD file.
int BirdShow_Print(const char* path, FILE* out, FILE* err);
