// The update server simulator's command line.
#pragma once

#include <string>

struct FaultOptions {
    std::string onlyOp;  // empty: faults apply to every request
    int status = 0;      // 0: the normal 200
    bool badFirstLine = false;
    long truncateTo = -1;  // body bytes kept, with an honest length; -1: all
    long cutAfter = -1;    // body bytes sent of a body declared whole, then the close; -1: all
    bool stall = false;
    long delayMs = 0;
    std::string replyFile;  // a prepared body sent instead of the computed one
};

struct ServerOptions {
    std::string buildsDir;
    std::string bindAddress = "127.0.0.1";
    int port = 0;
    std::string certFile;
    std::string keyFile;
    std::string requestLog;
    double durationSeconds = 0;  // 0: until SIGTERM or SIGINT
    FaultOptions faults;

    bool tls() const { return !certFile.empty(); }
};

// Reads the command line into options. Returns -1 when the server is to run; otherwise it has
// printed the help or the reason with the help and returns the exit code (0 or 2).
int ReadServerOptions(int argc, char** argv, ServerOptions& options);
