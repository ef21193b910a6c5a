// What the benchmarks share: where the simulator listens, timing, and exact socket reads.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace bench {

struct Endpoint {
    std::string host;
    uint16_t port = 0;
};

// "tcp 5EED0001 127.0.0.1:40123" (or its value after the prefix) -> host and port.
inline Endpoint parseEndpoint(const std::string& value) {
    Endpoint endpoint;
    size_t space = value.find(' ');
    size_t colon = value.rfind(':');
    if (space != std::string::npos && colon != std::string::npos) {
        endpoint.host = value.substr(space + 1, colon - space - 1);
        endpoint.port = static_cast<uint16_t>(std::atoi(value.c_str() + colon + 1));
    }
    return endpoint;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline bool readExactly(int fd, uint8_t* buffer, size_t size) {
    for (size_t done = 0; done < size;) {
        ssize_t got = read(fd, buffer + done, size - done);
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace bench
