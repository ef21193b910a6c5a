// "--json" on every exit: each command that runs prints one document, and a run that ends before
// any command (a refused command line, no log file, no store directory) or runs none prints one
// document all the same. A script thus always finds a document to read, also when the run failed.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

class CLI_Display;

class JsonReport {
  public:
    // Disabled (without "--json") it prints nothing.
    JsonReport(CLI_Display& display, bool enabled) : display(display), enabled(enabled) {}

    // Prints document with the error lines shown since the previous document under "error": one
    // line as a string, several as a list of strings, none as no "error" at all, so that a
    // document of a run without errors is exactly what the command printed before.
    void print(nlohmann::json document);
    // At the end of the run: a run that printed no document, or showed errors after its last one,
    // prints a document holding only those errors ({} when there are none).
    void finish();

  private:
    void write(nlohmann::json document, const std::vector<std::string>& errors);

    CLI_Display& display;
    bool enabled;
    bool printedAny = false;
};

// The "error" member for these lines; null when there are none.
nlohmann::json _json_error_lines(const std::vector<std::string>& lines);
