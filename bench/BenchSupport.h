// What the benchmarks share: where the simulator listens, timing, CPU time, and exact socket
// reads.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

inline double toSeconds(const timeval& value) {
    return value.tv_sec + value.tv_usec / 1e6;
}

// User plus system CPU time so far, in seconds: of this process and all its threads (RUSAGE_SELF),
// or of its children that have ended and were waited for (RUSAGE_CHILDREN). A simulator that is
// still running is in neither, so the difference across a measured stretch is the host's own cost.
inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

// The CPU this process spends from its construction on.
class CpuMeter {
  public:
    double seconds() const { return cpuSeconds() - start_; }

  private:
    double start_ = cpuSeconds();
};

// One row of CPU time per unit (per exchange, per KiB) in microseconds, for the library and for
// the raw side (a socket unless rawName says otherwise) side by side, with the ratio library /
// raw; raw < 0 leaves out the raw side.
inline void printCpuRow(const char* indent, const char* unit, double librarySeconds,
                        double rawSeconds, const char* rawName = "raw socket") {
    std::printf("%sCPU per %-14s library %8.1f us", indent, unit, librarySeconds * 1e6);
    if (rawSeconds >= 0) {
        std::printf("   %s %8.1f us   ratio %.2f", rawName, rawSeconds * 1e6,
                    rawSeconds > 0 ? librarySeconds / rawSeconds : 0.0);
    }
    std::printf("\n");
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

// Packets on a raw link: Link sends bytes (send) and reads exactly so many (read); this adds
// the packet's framing (address, length, data) on top.
template <class Link>
class RawPackets {
  public:
    // One whole packet: its data bytes.
    bool receive(std::vector<uint8_t>& data) {
        uint8_t header[2];
        if (!self().read(header, 2))
            return false;
        data.resize(header[1]);
        return self().read(data.data(), data.size());
    }
    bool exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
        return self().send(request) && receive(reply);
    }

  private:
    Link& self() { return static_cast<Link&>(*this); }
};

}  // namespace bench
