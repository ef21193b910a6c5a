// The command line as one line of text, for the module history: arguments apart by blanks, and
// those a shell would split or expand quoted, so that the line can be read and run again.
#pragma once

#include <string>

std::string _command_line_text(int argc, const char* const* argv);
