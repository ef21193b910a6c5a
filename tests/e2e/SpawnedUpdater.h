// Updater running beside a test (an update to hold a module, a run to stop with a signal), its
// standard output and standard error collected in files of the test's work directory.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace firmwaretest {

class SpawnedUpdater {
  public:
    // Runs Updater with args and these environment entries ("NAME=value") added to the test's;
    // its output goes to NAME.out and NAME.err in work.
    SpawnedUpdater(const zvtest::TempDir& work, const std::string& name,
                   std::vector<std::string> args, const std::vector<std::string>& env = {});
    // Kills it when it still runs.
    ~SpawnedUpdater();
    SpawnedUpdater(const SpawnedUpdater&) = delete;
    SpawnedUpdater& operator=(const SpawnedUpdater&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Standard error so far.
    std::string errorsSoFar() const { return zvtest::readFile(errFile_); }
    zvtest::RunResult wait();

  private:
    bool reaped(int options);

    std::string outFile_;
    std::string errFile_;
    pid_t pid_ = -1;
    zvtest::RunResult result_;
};

}  // namespace firmwaretest
