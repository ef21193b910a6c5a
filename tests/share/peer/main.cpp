// share_peer: a second (or third) process for the sharing tests, run beside a link server, often in
// another network namespace standing in for another host.
//
//   share_peer find [--interface A.B.C.D]
//       Lists the shared links that discovery finds through that interface (default 127.0.0.1,
//       this machine only): one line "found TYPE SERIAL IP PORT MODEL" each, then "count N".
//   share_peer query SERIAL [--interface A.B.C.D] [--count N]
//       Connects to the shared module with that serial number as a network client and reads its
//       serial number and model N times (default 20): "connected ADDRESS" (or "connect failed
//       ERR", exit 1), "model M" of the first read, then "queries N ok K"; exit 0 only when every
//       read was right.
//
// A bad command line exits 2.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Module.h"
#include "VexnetConfig.h"
#include "autoGen_SystemClass_CPP.h"
#include "discover.h"
#include "qCzmqSetup.h"

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
    if (options->command == "query") {
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
        } else if (name == "--count" && options->command == "query") {
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
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
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

int query(const PeerOptions& options) {
    Module module(2, 0);
    module.setConfig(clientConfig(options.networkInterface));
    qErr connected = module.discoverAndConnect(linkTypeNetworkClient, options.serial);
    if (connected != qErrNone) {
        printf("connect failed %d\n", static_cast<int>(connected));
        return 1;
    }
    printf("connected %u\n", static_cast<unsigned>(module.getModuleAddress()));
    fflush(stdout);
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

void printUsage() {
    fputs(
        "usage: share_peer find [--interface A.B.C.D]\n"
        "       share_peer query SERIAL [--interface A.B.C.D] [--count N]\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    PeerOptions options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return kUsageExit;
    }
    // The default action of SIGALRM ends the process.
    alarm(kLifetimeLimitSeconds);
    qCzmq_Prepare();
    int result = options.command == "find" ? find(options) : query(options);
    fflush(stdout);
    return result;
}
