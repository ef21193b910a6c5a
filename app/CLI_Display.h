// Console display: messages as lines, a progress bar and a spinner when stdout is a terminal.
#pragma once

#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"

class CLI_Display : public UpdaterDisplayInterface {
  public:
    CLI_Display();
    virtual ~CLI_Display() = default;

    void display_progress(bool start) override;
    void update_progress(double fraction, const char* label) override;
    void update_spinner(bool active, const char* label) override;
    void info_message(const char* text) override;
    void error_message(const char* text) override;
    // "Warning: " and the text, on standard error; not one of the error lines.
    void warning_message(const char* text) override;

    // Sends info lines to standard error and draws no progress, so that standard output carries
    // only what the program writes there itself (the JSON documents of "--json").
    void divert_info_to_stderr() { infoOnStderr = true; }
    // The lines of the error messages written since the last call, in order (a message of
    // several lines gives each), so that "--json" can repeat them in its document.
    std::vector<std::string> take_error_lines();

  protected:
    // Whether progress may be drawn; the console asks isatty on standard output.
    virtual bool drawsProgress() const;

  private:
    bool infoOnStderr = false;
    std::vector<std::string> errorLines;
};
