// Build numbers arrive as decimal text from the server, the settings and the command line.
#pragma once

#include <string>

// The leading decimal digits as a build number; 0 (logged) when there are none.
unsigned _build_number_from_text(const std::string& text);
