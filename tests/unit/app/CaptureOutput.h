// Captures what the code under test writes to a standard stream (stdout or stderr).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

class CaptureOutput {
  public:
    explicit CaptureOutput(FILE* stream) : stream(stream), fd(fileno(stream)) {
        fflush(stream);
        saved = dup(fd);
        sink = tmpfile();
        dup2(fileno(sink), fd);
    }
    ~CaptureOutput() { restore(); }

    // Stops capturing and returns everything written since construction.
    std::string text() {
        restore();
        return zvtest::readStream(sink);
    }

  private:
    void restore() {
        if (saved < 0) {
            return;
        }
        fflush(stream);
        dup2(saved, fd);
        close(saved);
        saved = -1;
    }

    FILE* stream;
    int fd;
    int saved = -1;
    FILE* sink = nullptr;
};
