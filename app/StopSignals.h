// Ctrl+C (SIGINT) and SIGTERM while "-a" runs its Updater processes: instead of ending this
// process at once, which would leave them running unseen, they are noted, and the run ends its
// processes before it exits. One at a time per program; the earlier handling comes back when it
// goes.
#pragma once

#include <signal.h>

class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool stopped() const;
    // Readable once a signal came, for poll.
    int descriptor() const;

  private:
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
};
