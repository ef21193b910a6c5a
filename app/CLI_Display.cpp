#include "CLI_Display.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 69;
constexpr char kBarFill[] = "=====================================================================";
static_assert(sizeof kBarFill - 1 == kBarWidth, "the bar is drawn from 69 '=' characters");

constexpr const char* kSpinnerFrames[8] = {".", "..", "...", "....", ".....", "....", "...", ".."};

void clearLine() {
    printf("\r%*s\r", 88, "");
}

}  // namespace

CLI_Display::CLI_Display() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

bool CLI_Display::drawsProgress() const {
    return !infoOnStderr && isatty(fileno(stdout)) != 0;
}

void CLI_Display::display_progress(bool start) {
    if (!drawsProgress() || start) {
        return;
    }
    clearLine();
}

void CLI_Display::update_progress(double fraction, const char* label) {
    if (!drawsProgress()) {
        return;
    }
    int width = kBarWidth;
    if (label != nullptr) {
        width = kBarWidth - static_cast<int>(strlen(label)) - 4;
    }
    int filled = static_cast<int>(width * fraction);
    int percent = static_cast<int>(100 * fraction);
    if (filled < 0) {
        filled = 0;
    }
    if (filled > kBarWidth) {
        filled = kBarWidth;
    }
    // At 100% the padding width is -1, which printf reads as a left-justified width of 1.
    int padding = width - filled - 1;
    if (label != nullptr) {
        printf("\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, kBarFill, padding, "", percent);
    } else {
        printf("\r[%.*s>%*s] (%3d%% ) ", filled, kBarFill, padding, "", percent);
    }
}

void CLI_Display::update_spinner(bool active, const char* label) {
    static uint8_t frame = 0;
    if (!drawsProgress()) {
        return;
    }
    if (!active) {
        clearLine();
        return;
    }
    if (label != nullptr) {
        printf("\r (%s) %s      \r", label, kSpinnerFrames[frame]);
    } else {
        printf("\r %s      \r", kSpinnerFrames[frame]);
    }
    frame = static_cast<uint8_t>((frame + 1) % 8);
}

void CLI_Display::info_message(const char* text) {
    fprintf(infoOnStderr ? stderr : stdout, "%s\n", text);
}

void CLI_Display::error_message(const char* text) {
    fprintf(stderr, "%s\n", text);
    const std::string message = text;
    size_t start = 0;
    for (size_t end; (end = message.find('\n', start)) != std::string::npos; start = end + 1) {
        errorLines.push_back(message.substr(start, end - start));
    }
    errorLines.push_back(message.substr(start));
}

void CLI_Display::warning_message(const char* text) {
    fprintf(stderr, "Warning: %s\n", text);
}

std::vector<std::string> CLI_Display::take_error_lines() {
    std::vector<std::string> lines;
    lines.swap(errorLines);
    return lines;
}
