// The --log trace on stderr: every line the ROM takes in and every reply it sends, with control
// characters spelled out so that line endings can be checked by eye.
#pragma once

#include <string>

namespace lpcsim {

class Trace {
  public:
    explicit Trace(bool enabled) : enabled_(enabled) {}

    void received(const char* phase, const std::string& line) const;
    void replied(const std::string& bytes) const;
    void note(const std::string& text) const;

  private:
    bool enabled_;
};

// "\r" and "\n" as such, other control bytes as \xHH.
std::string printable(const std::string& bytes);

}  // namespace lpcsim
