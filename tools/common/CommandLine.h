// How the tools read their command lines: CLI11 declarations, from which the help text is made
// too, so that the two cannot drift apart.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace simtools {

// Where the help's descriptions start, after the option or key they describe.
constexpr size_t kHelpColumn = 25;

// Lays out the help of app as the tools print it: the usage line with every option, the
// description, the options with their descriptions from column 25, then the footer.
void useToolHelp(CLI::App& app);

// A range check that keeps out of the help: the option's description gives the bounds.
template <typename T>
CLI::Validator within(T min, T max) {
    return CLI::Range(min, max).description("");
}

// An option whose value, written word in the help, goes into field once check accepts it.
template <typename T>
CLI::Option* addChecked(CLI::App& app, const std::string& name, T& field, const char* word,
                        const std::string& help, const CLI::Validator& check) {
    return app.add_option(name, field, help)->type_name(word)->check(check);
}

// What a bad command line prints after its one-line reason.
enum class AfterError { HelpHint, Help };

// Reads argv into the options of app. Returns -1 when the program is to run; otherwise it has
// printed the help on standard output (and returns 0) or "NAME: REASON" on standard error (and
// returns 2).
int readCommandLine(CLI::App& app, int argc, char** argv, AfterError after = AfterError::HelpHint);

}  // namespace simtools
