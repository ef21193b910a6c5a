// The sockets of link sharing, before and after they were made private, side by side in one run:
// a packet-sized request and its reply between a DEALER (the client) and a ROUTER (the server's
// front end) over TCP loopback (the old front end for this machine), over an ipc socket in the
// user's shared link directory (today's), and in-process (today's internal pairs and the owner's
// own client, where TCP loopback was used before). Prints microseconds per round trip and each
// one's ratio to TCP loopback; nothing passes or fails.
//
//   bench_share_transports [--count N]   (default 5000 round trips per transport, 5 rounds)
#include <czmq.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "qLocalShare.h"

namespace {

constexpr int kRounds = 5;
constexpr int kMaxCount = 1000000;
// A UEI request in wire form: address, length, command, option, index.
const char kRequest[] = {4, 3, 3, 0x48, 0x20};

// Median microseconds per round trip of count exchanges between a DEALER and a ROUTER that
// answers each request at once; -1 when the endpoint cannot be used.
double roundTripUs(const std::string& bindAt, const std::string& connectTo, int count) {
    zsock_t* server = zsock_new(ZMQ_ROUTER);
    zsock_t* client = zsock_new(ZMQ_DEALER);
    zsock_set_linger(server, 0);
    zsock_set_linger(client, 0);
    int port = zsock_bind(server, "%s", bindAt.c_str());
    std::string target = connectTo;
    if (port > 0) {
        target += std::to_string(port);
    }
    std::vector<double> rounds;
    if (port >= 0 && zsock_connect(client, "%s", target.c_str()) == 0) {
        for (int round = 0; round < kRounds; ++round) {
            auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < count; ++i) {
                zmq_send(zsock_resolve(client), kRequest, sizeof kRequest, 0);
                zmsg_t* request = zmsg_recv(server);
                zmsg_send(&request, server);
                char reply[32];
                zmq_recv(zsock_resolve(client), reply, sizeof reply, 0);
            }
            rounds.push_back(bench::secondsSince(start) * 1e6 / count);
        }
    }
    zsock_destroy(&client);
    zsock_destroy(&server);
    if (rounds.empty()) {
        return -1;
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int count = 5000;
    if (argc == 3 && strcmp(argv[1], "--count") == 0) {
        count = std::max(1, std::min(kMaxCount, atoi(argv[2])));
    }
    zsys_handler_set(nullptr);
    std::string directory;
    std::string failure;
    uint32_t number = 0;
    int lockFd = -1;
    if (!qLocalShare_Directory(&directory, &failure) ||
        qLocalShare_Claim(directory, &number, &lockFd) != qErrNone) {
        fprintf(stderr, "bench_share_transports: %s\n", failure.c_str());
        return 1;
    }
    const std::string ipc = "ipc://" + qLocalShare_SocketPath(directory, number);
    const double tcp = roundTripUs("tcp://127.0.0.1:*", "tcp://127.0.0.1:", count);
    const double local = roundTripUs(ipc, ipc, count);
    const double inproc = roundTripUs("inproc://bench-share", "inproc://bench-share", count);
    qLocalShare_Release(directory, number, &lockFd);
    printf("Share transports: %d round trips x %d rounds, median of the rounds\n", count, kRounds);
    printf("  TCP loopback (before)      %7.2f us  1.00\n", tcp);
    printf("  ipc, private directory     %7.2f us  %.2f of TCP\n", local, local / tcp);
    printf("  in-process                 %7.2f us  %.2f of TCP\n", inproc, inproc / tcp);
    return 0;
}
