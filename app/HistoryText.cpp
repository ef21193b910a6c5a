#include "HistoryText.h"

#include <cstdio>

namespace {

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string buildText(unsigned build) {
    return build == 0 ? "-" : std::to_string(build);
}

std::string linkText(const HistoryEntry& entry) {
    std::string text = orDash(entry.link);
    if (entry.routerSerial != 0) {
        char router[24];
        snprintf(router, sizeof router, " via %08X", entry.routerSerial);
        text += router;
    }
    return text;
}

// The line must stay one line, whatever the note held.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string _history_line_text(const HistoryEntry& entry) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.1f s", entry.seconds);
    std::string line = orDash(entry.time) + "  " + orDash(entry.result) + "  " + linkText(entry) +
                       "  " + buildText(entry.buildBefore) + " -> " + buildText(entry.buildAfter) +
                       "  " + seconds + "  " + orDash(entry.user) + "@" + orDash(entry.host) +
                       "  " + orDash(baseName(entry.file));
    if (!entry.message.empty()) {
        line += "  \"" + oneLine(entry.message) + "\"";
    }
    if (!entry.error.empty()) {
        line += "  error: " + entry.error;
    }
    return line;
}
