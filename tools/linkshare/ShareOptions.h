// The command line of linkshare: which link to open and how long to share it.
#pragma once

#include <cstdint>
#include <string>

namespace linkshare {

enum class Transport { Tcp, Usb, Serial };

struct ShareOptions {
    Transport transport = Transport::Tcp;
    uint32_t serial = 0;
    uint32_t address = 0;  // IPv4, network byte order (TCP/IP only)
    uint32_t port = 0;     // host order (TCP/IP only)
    std::string path;      // serial port (serial only)
    uint32_t baud = 115200;
    bool network = false;     // publish beyond this machine
    int durationSeconds = 0;  // 0: until a signal
    std::string keys;         // the key directory; "" for the library's default
    bool makeKeys = false;    // make the missing key pairs instead of sharing
};

// Reads the command line into options. Returns -1 when linkshare is to run; otherwise it has
// printed the help or a one-line reason and returns the exit code (0 or 2).
int readShareOptions(int argc, char** argv, ShareOptions& options);

}  // namespace linkshare
