// The simulator's single poll loop: bytes from the pty into the chip, the chip's replies out to
// the pty when they are due, both paced to the line rate on request.
#pragma once

#include <time.h>

#include <string>

#include "IspSession.h"
#include "LinePacer.h"
#include "Pty.h"
#include "SimOptions.h"

namespace lpcsim {

class SimLoop {
  public:
    SimLoop(const SimOptions& options, simtools::Pty& port, IspSession& session);

    // Runs until stopFd becomes readable (a stop signal arrived) or the duration is over.
    void run(int stopFd);

  private:
    void takeInput(Clock::time_point now);
    void giveOutput(Clock::time_point now);
    timespec waitTime(Clock::time_point now, Clock::time_point deadline) const;
    void readPort();

    const SimOptions& options_;
    simtools::Pty& port_;
    IspSession& session_;
    LinePacer inPacer_;
    LinePacer outPacer_;
    std::string inbox_;
    std::string wire_;
};

}  // namespace lpcsim
