// Polling helpers for stream tests over non-blocking transports.
#pragma once

#include <chrono>
#include <thread>

#include "qStream.h"

// Polls the stream until count bytes came or a generous limit passed.
inline qErr readWithin(qStream* stream, uint8_t* buffer, size_t count) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    qErr err;
    while ((err = qStream_Read(stream, buffer, count)) == qErrNotReady &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return err;
}
