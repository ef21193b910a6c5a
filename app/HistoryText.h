// "-I -d": a module's history as the console shows it, one line an attempt.
#pragma once

#include <string>

#include "ModuleHistory.h"

// How many of the latest attempts "-I -d" shows; "--json" gives them all.
constexpr size_t HISTORY_LINES_SHOWN = 10;

// "TIME  RESULT  LINK[ via ROUTER]  BEFORE -> AFTER  SECONDS s  USER@HOST  FILE" and, when the
// attempt had them, the note in quotes and "error: LINE"; "-" for what the attempt did not learn.
// The file is named without its directory (the JSON document has the whole path).
std::string _history_line_text(const HistoryEntry& entry);
