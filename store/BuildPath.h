// Joins path pieces with "/" into a string.
#pragma once

#include <string>

// first, then "/" and each further piece up to a null pointer. The separator is always inserted,
// so "a/" and "b" give "a//b". A null first piece gives the empty string.
std::string BuildPath(const char* first, ...);
