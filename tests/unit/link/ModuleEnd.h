// A link stream over one end of a socket pair; the test holds the other end and plays the
// module, writing and reading raw wire bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qStream.h"

class ModuleEnd {
  public:
    ModuleEnd();
    ~ModuleEnd();
    ModuleEnd(const ModuleEnd&) = delete;
    ModuleEnd& operator=(const ModuleEnd&) = delete;

    // The link's side as a stream (once); it belongs to whoever is handed it.
    qStream* stream();

    void send(const std::string& bytes);
    // Exactly count bytes, or fewer when they do not come within the time-out.
    std::string receive(size_t count, int timeoutMs = 5000);
    // Whatever arrives until the line has been silent for quietMs.
    std::string receiveUntilSilent(int quietMs);

    // Quiet: the link's reads wait for a byte instead of reporting "no byte" after a moment, so
    // the only silences the link sees are the ones poke() makes.
    void setQuiet(bool quiet);
    // Makes the link's current or next read report "no byte".
    void poke();

    // Writes block until released, so that packets pile up in the outbound queue.
    void holdWrites();
    void releaseWrites();
    // Number of writes the link has begun, and the sizes of those it made.
    size_t writesBegun();
    std::vector<size_t> writeSizes();
    void clearWriteSizes();

    struct State;

  private:
    std::shared_ptr<State> state_;
    int moduleFd_ = -1;
};

// Wire bytes as text, for comparisons: bytes({0xAD, 0x00}).
std::string bytes(std::initializer_list<uint8_t> values);
std::string repeat(const std::string& part, int times);
// Printable form for failure messages.
std::string hex(const std::string& wire);

// Polls a condition every few milliseconds up to a generous limit.
template <typename Condition>
bool eventually(Condition condition, int limitMs = 5000) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
