// A printf-style text as the log and the display take it: cut at 2047 bytes, never allocated.
#pragma once

#include <cstdarg>
#include <cstdio>

class FormattedText {
  public:
    FormattedText(const char* format, va_list args) { vsnprintf(text, sizeof text, format, args); }
    const char* c_str() const { return text; }

  private:
    char text[2048];
};
