// The user-facing channel of every operation: messages, a progress bar and a spinner.
#pragma once

#include <string>
#include <vector>

class UpdaterDisplayInterface {
  public:
    enum Level { LEVEL_INFO = 0, LEVEL_ERROR = 1, LEVEL_WARNING = 2 };

    virtual void display_progress(bool start) = 0;
    virtual void update_progress(double fraction, const char* label) = 0;
    virtual void update_spinner(bool active, const char* label) = 0;
    virtual void info_message(const char* text) = 0;
    virtual void error_message(const char* text) = 0;
    // Something the user should know that does not make the command fail; it counts as no
    // error. A display without a place of its own for warnings shows them as information.
    virtual void warning_message(const char* text) { info_message(text); }

    // Formats (cut at 2047 bytes) and hands the text to error_message for LEVEL_ERROR, to
    // warning_message for LEVEL_WARNING, else to info_message. Does nothing while muted.
    void message(Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Muting silences message() only; progress and spinner still draw.
    void mute_messages(bool mute) { muted = mute; }
    // Error messages shown so far, so that an operation can tell whether its failure has been
    // explained to the user already.
    unsigned errors_shown() const { return errorsShown; }
    // The text of error message number index (from 0, in the order shown), "" when there is
    // none: an operation names its failure with the first error it showed.
    std::string error_text(unsigned index) const {
        return index < errorTexts.size() ? errorTexts[index] : std::string();
    }

  protected:
    // Operations take the display by reference and never delete it.
    ~UpdaterDisplayInterface() = default;

  private:
    void show(Level level, const char* text);

    bool muted = false;
    unsigned errorsShown = 0;
    std::vector<std::string> errorTexts;
};
