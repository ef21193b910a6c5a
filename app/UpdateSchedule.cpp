#include "UpdateSchedule.h"

#include <algorithm>
#include <map>

UpdateSchedule::UpdateSchedule(const std::vector<ModuleToUpdate>& modules, unsigned jobs)
    : laneOf(modules.size()), jobs(std::max(jobs, 1u)) {
    // A router's lane is keyed by its own serial number, as are the lanes of the modules behind
    // it; every other module is a lane of its own.
    std::map<unsigned, size_t> laneByKey;
    for (size_t i = 0; i < modules.size(); ++i) {
        const unsigned key =
            modules[i].routerSerial != 0 ? modules[i].routerSerial : modules[i].serial;
        auto [at, added] = laneByKey.emplace(key, lanes.size());
        if (added) {
            lanes.emplace_back();
        }
        lanes[at->second].order.push_back(i);
        laneOf[i] = at->second;
    }
    for (Lane& lane : lanes) {
        std::stable_partition(lane.order.begin(), lane.order.end(),
                              [&](size_t i) { return modules[i].routerSerial != 0; });
    }
}

bool UpdateSchedule::next(size_t& index) {
    if (runningCount >= jobs) {
        return false;
    }
    for (Lane& lane : lanes) {
        if (!lane.busy && lane.started < lane.order.size()) {
            index = lane.order[lane.started++];
            lane.busy = true;
            ++runningCount;
            return true;
        }
    }
    return false;
}

void UpdateSchedule::finished(size_t index) {
    Lane& lane = lanes[laneOf[index]];
    if (lane.busy) {
        lane.busy = false;
        --runningCount;
    }
}

bool UpdateSchedule::allStarted() const {
    return std::all_of(lanes.begin(), lanes.end(),
                       [](const Lane& lane) { return lane.started == lane.order.size(); });
}
