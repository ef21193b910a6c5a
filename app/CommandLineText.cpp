#include "CommandLineText.h"

namespace {

// Characters no shell treats specially.
constexpr const char* PLAIN =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";

// In single quotes, where only a single quote needs care: it ends the quotes, goes escaped, and
// they start again.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_not_of(PLAIN) == std::string::npos) {
        return argument;
    }
    std::string text = "'";
    for (char c : argument) {
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return text + "'";
}

}  // namespace

std::string _command_line_text(int argc, const char* const* argv) {
    std::string text;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += quoted(argv[i]);
    }
    return text;
}
