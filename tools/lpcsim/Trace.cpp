#include "Trace.h"

#include <cstdio>

namespace lpcsim {

std::string printable(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (byte < 32 || byte > 126) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
            text += hex;
        } else {
            text += c;
        }
    }
    return text;
}

void Trace::received(const char* phase, const std::string& line) const {
    if (enabled_) {
        std::fprintf(stderr, "lpcsim: < %s [%s]\n", phase, printable(line).c_str());
    }
}

void Trace::replied(const std::string& bytes) const {
    if (enabled_) {
        std::fprintf(stderr, "lpcsim: > [%s]\n", printable(bytes).c_str());
    }
}

void Trace::note(const std::string& text) const {
    if (enabled_) {
        std::fprintf(stderr, "lpcsim: %s\n", text.c_str());
    }
}

}  // namespace lpcsim
