// "-a": the order in which the modules' updates start. At most "-j" run at once; the modules
// behind one router take turns, since every transfer to them runs through the router and its one
// bus (and the router is held by the update going through it); the router itself comes after
// the modules behind it, whose updates need it running the firmware they were found with.
#pragma once

#include <cstddef>
#include <vector>

#include "ModuleToUpdate.h"

class UpdateSchedule {
  public:
    UpdateSchedule(const std::vector<ModuleToUpdate>& modules, unsigned jobs);

    // The index (in modules) of an update that may start now, marked as running; false when
    // none may (all started, "-j" reached, or each waiting one's router busy).
    bool next(size_t& index);
    void finished(size_t index);
    size_t running() const { return runningCount; }
    // No update left to start (every lane started its last one).
    bool allStarted() const;

  private:
    // The updates that run one after another: those behind one router, then the router.
    struct Lane {
        std::vector<size_t> order;
        size_t started = 0;
        bool busy = false;
    };

    std::vector<Lane> lanes;
    std::vector<size_t> laneOf;  // by module index
    unsigned jobs;
    size_t runningCount = 0;
};
