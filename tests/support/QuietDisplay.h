// A display for operations run inside a test or a benchmark: it shows nothing.
#pragma once

#include "UpdaterDisplayInterface.h"

namespace zvtest {

class QuietDisplay : public UpdaterDisplayInterface {
  public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char*) override {}
    void error_message(const char*) override {}
};

}  // namespace zvtest
