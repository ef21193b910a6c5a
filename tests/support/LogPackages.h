// For tests of the application: keeps the diagnostic log's selected packages for a scope and puts
// the earlier selection back in its destructor (parsing "-X" selects packages process-wide).
#pragma once

#include <cstdint>

#include "Log.h"

namespace zvtest {

class LogPackages {
  public:
    LogPackages() : saved_(Log::EnabledPackages()) {}
    ~LogPackages() {
        Log::DeactivatePackage(0xFFFFFFFFu);
        Log::ActivatePackage(saved_);
    }
    LogPackages(const LogPackages&) = delete;
    LogPackages& operator=(const LogPackages&) = delete;

  private:
    uint32_t saved_;
};

}  // namespace zvtest
