#include "Eventually.h"

#include <thread>

namespace zvtest {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace zvtest
