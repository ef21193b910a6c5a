// Waiting for something another thread or process does, without a fixed sleep.
#pragma once

#include <chrono>
#include <functional>

namespace zvtest {

// Polls condition every interval until it holds or limit has passed; true when it held. The limit
// only matters to a test that is about to fail, so it is generous: this never checks speed.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10),
                std::chrono::milliseconds interval = std::chrono::milliseconds(2));

}  // namespace zvtest
