// share_peer: a second (or third) process for the sharing tests, run beside a link server, often in
// another network namespace standing in for another host.
//
// Every command takes --keys DIR: the key directory for servers on the network (default the
// library's).
//
//   share_peer find [--interface A.B.C.D]
//       Lists the shared links that discovery finds through that interface (default 127.0.0.1,
//       this machine only): one line "found TYPE SERIAL IP PORT MODEL" each, then "count N".
//   share_peer query SERIAL [--interface A.B.C.D] [--count N]
//       Connects to the shared module with that serial number as a network client and reads its
//       serial number and model N times (default 20): "connected ADDRESS" (or "connect failed
//       ERR" and "failure LINE" with the library's reason, exit 1), "model M" of the first read,
//       then "queries N ok K"; exit 0 only when every read was right.
//   share_peer reach SOCKET
//       Connects a client stream to the shared link served at that ipc socket path and sends the
//       module an address request: "reached" (exit 0), or "reach failed ERR" and the library's
//       reason on a line "why REASON" (exit 1).
//   share_peer connect PORT
//       Connects a client stream to this user's shared link with that endpoint number on this
//       machine: "connected", or "connect failed ERR" and "why REASON" (exit 1).
//   share_peer forge SERIAL PORT
//       Plays a link server of another user on this machine's loopback: takes the first free
//       probe port, answers every probe for 10 s with a linkSpec naming SERIAL at 127.0.0.1:PORT:
//       "ready" once it listens, and "answered a probe" on standard error for each answer.
//   share_peer pieces SERIAL [--interface A.B.C.D] [--count N]
//       Connects the same way and sends the module's loader a PREPARE, N upgrade DATA pieces of
//       26 bytes each (default 20) whose last byte has bit 7 set, and a SUM: "connected ADDRESS",
//       then "pieces N ok K" (pieces the module acknowledged with their count) and "sum ok" or
//       "sum bad"; exit 0 only when every piece was acknowledged and the sum agrees.
//
// A bad command line exits 2.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "Link.h"
#include "Module.h"
#include "VexnetConfig.h"
#include "autoGen_SystemClass_CPP.h"
#include "discover.h"
#include "qCzmqSetup.h"
#include "qMulticast.h"
#include "qPacket.h"
#include "qShareFailure.h"
#include "qUEI.h"
#include "qStream.h"
#include "qStream_ZeroMQClient.h"
#include "qShareKeys.h"

using Pelmorax::Zendrival::Link;
using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;
using Pelmorax::Zendrival::VexnetConfig;

namespace {

// Whatever goes wrong underneath, a test waiting for this program gets an answer.
constexpr unsigned kLifetimeLimitSeconds = 90;
constexpr long kMaxQueries = 1000;
// A peer that lost its server stops asking soon, instead of waiting out every reply time-out.
constexpr int kMaxFailuresInARow = 3;
constexpr int kUsageExit = 2;

struct PeerOptions {
    std::string command;
    uint32_t serial = 0;
    uint32_t networkInterface = htonl(INADDR_LOOPBACK);
    long count = 20;
    std::string keys;
};

bool parseSerial(const char* text, uint32_t* serial) {
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (*text == '\0' || *end != '\0' || value == 0 || value > 0xFFFFFFFFul) {
        return false;
    }
    *serial = static_cast<uint32_t>(value);
    return true;
}

bool parseCount(const char* text, long* count) {
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 1 || value > kMaxQueries) {
        return false;
    }
    *count = value;
    return true;
}

bool parseInterface(const char* text, uint32_t* networkInterface) {
    in_addr address{};
    if (inet_pton(AF_INET, text, &address) != 1) {
        return false;
    }
    *networkInterface = address.s_addr;
    return true;
}

// The options after the command; the serial number only for query.
bool parseOptions(int argc, char** argv, PeerOptions* options) {
    if (argc < 2) {
        return false;
    }
    options->command = argv[1];
    int next = 2;
    const bool connects = options->command == "query" || options->command == "pieces";
    if (connects) {
        if (argc < 3 || !parseSerial(argv[2], &options->serial)) {
            return false;
        }
        next = 3;
    } else if (options->command != "find") {
        return false;
    }
    for (; next < argc; next += 2) {
        const std::string name = argv[next];
        const char* value = next + 1 < argc ? argv[next + 1] : nullptr;
        if (value == nullptr) {
            return false;
        }
        if (name == "--interface") {
            if (!parseInterface(value, &options->networkInterface)) {
                return false;
            }
        } else if (name == "--keys") {
            options->keys = value;
        } else if (name == "--count" && connects) {
            if (!parseCount(value, &options->count)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

std::string dotted(uint32_t address) {
    in_addr in{};
    in.s_addr = address;
    return inet_ntoa(in);
}

bool printSharedLink(const linkSpec* spec, bool* found, void*) {
    printf("found %u %08X %s %u %u\n", static_cast<unsigned>(spec->type),
           static_cast<unsigned>(spec->serialNumber), dotted(spec->ipAddress).c_str(),
           static_cast<unsigned>(spec->port), static_cast<unsigned>(spec->model));
    *found = true;
    return true;
}

int find(const PeerOptions& options) {
    int count = qDiscovery_EnumerateModules(linkTypeNetworkClient, printSharedLink, nullptr,
                                            options.networkInterface);
    printf("count %d\n", count);
    return 0;
}

// A client only: the peer must reach the module through the other process's server, never open
// a link of its own or fall back to another transport.
VexnetConfig clientConfig(uint32_t networkInterface) {
    VexnetConfig config;
    config.enabled = true;
    config.fallback = false;
    config.localOnly = true;
    config.networkInterface = networkInterface;
    return config;
}

struct QueryTally {
    long asked = 0;
    long right = 0;
    bool haveModel = false;
    uint8_t firstModel = 0;
};

// One read of the serial number and the model; right when both arrive, the serial number is the
// module's and the model does not change between reads.
bool queryOnce(SystemClass* system, uint32_t serial, QueryTally* tally) {
    uint32_t readSerial = 0;
    uint8_t model = 0;
    bool answered =
        system->getSerialNumber(&readSerial) == qErrNone && system->getModel(&model) == qErrNone;
    if (answered && !tally->haveModel) {
        tally->haveModel = true;
        tally->firstModel = model;
    }
    return answered && readSerial == serial && model == tally->firstModel;
}

// Reaches the shared module as a network client; false (said on the output) when it cannot.
bool connectToShared(const PeerOptions& options, Module* module) {
    module->setConfig(clientConfig(options.networkInterface));
    qErr connected = module->discoverAndConnect(linkTypeNetworkClient, options.serial);
    if (connected != qErrNone) {
        printf("connect failed %d\n", static_cast<int>(connected));
        printf("failure %s\n", qShare_Failure());
        return false;
    }
    printf("connected %u\n", static_cast<unsigned>(module->getModuleAddress()));
    fflush(stdout);
    return true;
}

int query(const PeerOptions& options) {
    Module module(2, 0);
    if (!connectToShared(options, &module)) {
        return 1;
    }
    SystemClass system;
    system.init(&module, 0);
    QueryTally tally;
    int failuresInARow = 0;
    for (long i = 0; i < options.count && failuresInARow < kMaxFailuresInARow; ++i) {
        ++tally.asked;
        if (queryOnce(&system, options.serial, &tally)) {
            ++tally.right;
            failuresInARow = 0;
        } else {
            ++failuresInARow;
        }
    }
    if (tally.haveModel) {
        printf("model %u\n", static_cast<unsigned>(tally.firstModel));
    }
    printf("queries %ld ok %ld\n", options.count, tally.right);
    module.disconnect();
    return tally.right == options.count ? 0 : 1;
}

constexpr uint8_t kCmdUpgrade = 95;
constexpr uint8_t kUpgradeData = 1, kUpgradePrepare = 3, kUpgradeSum = 4, kUpgradeStatus = 7;
constexpr uint8_t kPieceBytes = 26;

// One upgrade request and the reply whose first data bytes are 95 and the expected sub-command;
// the reply's data bytes after those two, or false when none came.
bool upgradeExchange(Module* module, const std::vector<uint8_t>& request, uint8_t replySub,
                     std::vector<uint8_t>* answer) {
    Link* link = module->getLink();
    const uint8_t address = module->getModuleAddress();
    if (link == nullptr ||
        link->sendPacket(address, kCmdUpgrade, static_cast<uint8_t>(request.size()),
                         request.data()) != qErrNone) {
        return false;
    }
    const uint8_t pattern[2] = {kCmdUpgrade, replySub};
    uint8_t length = sizeof pattern;
    uint8_t data[qPACKET_MAX_DATA] = {};
    if (link->receivePacket(address, pattern, &length, data) != qErrNone || length < 2) {
        return false;
    }
    answer->assign(data + 2, data + length);
    return true;
}

// Piece number n: 26 bytes that differ from piece to piece, the last one 0x80 or more.
std::vector<uint8_t> piece(long n) {
    std::vector<uint8_t> bytes = {kUpgradeData};
    for (uint8_t i = 0; i < kPieceBytes; ++i) {
        bytes.push_back(static_cast<uint8_t>(n * 31 + i * 5));
    }
    bytes.back() |= 0x80;
    return bytes;
}

int pieces(const PeerOptions& options) {
    Module module(2, 0);
    if (!connectToShared(options, &module)) {
        return 1;
    }
    std::vector<uint8_t> answer;
    // PREPARE starts the module's byte sum afresh: flags 0, load address 0x00004000.
    bool prepared =
        upgradeExchange(&module, {kUpgradePrepare, 0, 0, 0, 0x40, 0}, kUpgradeStatus, &answer) &&
        !answer.empty() && answer[0] == 0;
    long acknowledged = 0;
    uint32_t sum = 0;
    for (long n = 0; n < options.count; ++n) {
        std::vector<uint8_t> request = piece(n);
        for (size_t i = 1; i < request.size(); ++i) {
            sum += request[i];
        }
        if (upgradeExchange(&module, request, kUpgradeData, &answer) && answer.size() == 1 &&
            answer[0] == kPieceBytes) {
            ++acknowledged;
        }
    }
    bool sumAgrees = upgradeExchange(&module, {kUpgradeSum}, kUpgradeStatus, &answer) &&
                     answer.size() >= 5 && answer[0] == 0 &&
                     ((uint32_t(answer[1]) << 24) | (uint32_t(answer[2]) << 16) |
                      (uint32_t(answer[3]) << 8) | answer[4]) == sum;
    printf("pieces %ld ok %ld\n", options.count, acknowledged);
    printf("sum %s\n", sumAgrees ? "ok" : "bad");
    module.disconnect();
    return prepared && acknowledged == options.count && sumAgrees ? 0 : 1;
}

int reach(const char* socketPath) {
    qStream* stream = nullptr;
    qErr made = qStream_CreateClientAtPath(socketPath, &stream);
    if (made != qErrNone) {
        printf("reach failed %d\nwhy %s\n", static_cast<int>(made), qShare_Failure());
        return 1;
    }
    // The magic address asks the module for its own address.
    const uint8_t request[2] = {qADDRESS_MAGIC, 0};
    stream->write(request, sizeof request, stream->reference);
    // The reply's first byte shows the request went through before the stream is closed.
    uint8_t byte = 0;
    bool answered = false;
    for (int wait = 0; wait < 3 && !answered; ++wait) {
        answered = stream->get(&byte, stream->reference) == qErrNone;
    }
    printf("reached%s\n", answered ? " and answered" : "");
    fflush(stdout);
    qStream_Destroy(&stream);
    return 0;
}

int connectLocal(const char* number) {
    qStream* stream = nullptr;
    qErr made = qStream_CreateClient(htonl(INADDR_LOOPBACK),
                                     static_cast<uint16_t>(strtoul(number, nullptr, 10)), &stream);
    if (made != qErrNone) {
        printf("connect failed %d\nwhy %s\n", static_cast<int>(made), qShare_Failure());
        return 1;
    }
    printf("connected\n");
    qStream_Destroy(&stream);
    return 0;
}

int forge(const char* serialText, const char* portText) {
    constexpr int kForgeSeconds = 10;
    uint32_t serial = 0;
    if (!parseSerial(serialText, &serial)) {
        return kUsageExit;
    }
    qMulticast* receiver = nullptr;
    qMulticast* sender = nullptr;
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    for (int k = 0; k < qDISCOVERY_LOOPBACK_PORT_COUNT && receiver == nullptr; ++k) {
        receiver = qMulticast_Create(loopback, qDISCOVERY_LOOPBACK_GROUP,
                                     static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REQUEST_PORT + k),
                                     qMULTICAST_RECEIVER);
        if (receiver != nullptr) {
            sender = qMulticast_Create(loopback, qDISCOVERY_LOOPBACK_GROUP,
                                       static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REPLY_PORT + k),
                                       qMULTICAST_SENDER);
        }
    }
    if (receiver == nullptr || sender == nullptr) {
        printf("no probe port\n");
        return 1;
    }
    linkSpec forged = qLinkSpec_Of(linkTypeNetworkClientTCPIP, serial);
    forged.ipAddress = loopback;
    forged.port = static_cast<uint32_t>(strtoul(portText, nullptr, 10));
    forged.model = 15;
    forged.module = 4;
    printf("ready\n");
    fflush(stdout);
    const time_t end = time(nullptr) + kForgeSeconds;
    while (time(nullptr) < end) {
        uint8_t request[8] = {};
        if (qMulticast_Receive(receiver, request, sizeof request) == 4) {
            qMulticast_Send(sender, reinterpret_cast<const uint8_t*>(&forged), sizeof forged);
            fputs("answered a probe\n", stderr);
        }
    }
    qMulticast_Destroy(&receiver);
    qMulticast_Destroy(&sender);
    return 0;
}

void printUsage() {
    fputs(
        "usage: share_peer find [--interface A.B.C.D] [--keys DIR]\n"
        "       share_peer query SERIAL [--interface A.B.C.D] [--count N] [--keys DIR]\n"
        "       share_peer pieces SERIAL [--interface A.B.C.D] [--count N] [--keys DIR]\n"
        "       share_peer reach SOCKET\n"
        "       share_peer connect PORT\n"
        "       share_peer forge SERIAL PORT\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    PeerOptions options;
    if (argc == 3 && std::string(argv[1]) == "reach") {
        alarm(kLifetimeLimitSeconds);
        return reach(argv[2]);
    }
    if (argc == 4 && std::string(argv[1]) == "forge") {
        alarm(kLifetimeLimitSeconds);
        return forge(argv[2], argv[3]);
    }
    if (argc == 3 && std::string(argv[1]) == "connect") {
        alarm(kLifetimeLimitSeconds);
        return connectLocal(argv[2]);
    }
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return kUsageExit;
    }
    // The default action of SIGALRM ends the process.
    alarm(kLifetimeLimitSeconds);
    if (!options.keys.empty()) {
        qShare_SetKeyDirectory(options.keys.c_str());
    }
    qCzmq_Prepare();
    int result = options.command == "find"    ? find(options)
                 : options.command == "query" ? query(options)
                                              : pieces(options);
    fflush(stdout);
    return result;
}
