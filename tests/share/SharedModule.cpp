#include "SharedModule.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

#include "PrivateNetwork.h"
#include "discover.h"

namespace sharetest {

namespace {

// Heartbeats every 100 ms flush the link server's stream batches; the input voltage (option 12
// of the system entity) streams every 20 ms once enabled.
const char kModuleDescription[] =
    "serial=5A4E0017,model=15,address=4,hb-ms=100,stream-ms=20,tcp=127.0.0.1:0";

std::string serialText() {
    char text[16];
    snprintf(text, sizeof text, "%08X", kSerial);
    return text;
}

bool collectSharedLink(const linkSpec* found, bool* accepted, void* reference) {
    static_cast<std::vector<linkSpec>*>(reference)->push_back(*found);
    *accepted = true;
    return true;
}

// "modulesim 5A4E0017 < 04 05 03 ..." -> direction and bytes; false for notes.
bool parseTraceLine(const std::string& line, TracedPacket* packet) {
    std::istringstream words(line);
    std::string program, serial, direction;
    if (!(words >> program >> serial >> direction) || program != "modulesim" ||
        serial != serialText() || (direction != "<" && direction != ">")) {
        return false;
    }
    packet->direction = direction[0];
    std::string hex;
    while (words >> hex) {
        packet->bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return packet->bytes.size() >= 2;
}

}  // namespace

std::string sharePeerBinary() {
    return std::string(ZV_BINARY_DIR) + "/tests/share_peer";
}

ConcurrentRun runPeerWhileReading(Pelmorax::Zendrival::SystemClass& system, uint32_t serial,
                                  uint8_t model, const std::vector<std::string>& peerArgs,
                                  int limit) {
    constexpr int kMinimumReads = 20;
    ConcurrentRun run;
    std::atomic<bool> peerDone{false};
    std::thread peerProcess([&] {
        run.peer = zvtest::runProgram(sharePeerBinary(), peerArgs);
        peerDone = true;
    });
    for (int i = 0; i < limit && (!peerDone || run.reads < kMinimumReads); ++i) {
        uint32_t readSerial = 0;
        uint8_t readModel = 0;
        if (system.getSerialNumber(&readSerial) != qErrNone || readSerial != serial)
            ++run.wrongReads;
        if (system.getModel(&readModel) != qErrNone || readModel != model)
            ++run.wrongReads;
        ++run.reads;
    }
    peerProcess.join();
    return run;
}

void SharedModule::SetUp() {
    ZV_SHARE_NETWORK_OR_SKIP();
    simulator_ = std::make_unique<zvtest::BackgroundProgram>(
        zvtest::modulesimBinary(),
        std::vector<std::string>{"--log", "--duration", "120", "--module", kModuleDescription},
        scratch_.file("module.log"));
    ASSERT_TRUE(simulator_->waitReady()) << "the module simulator did not start";
    const std::string endpoint = simulator_->startupValue("tcp " + serialText());
    ASSERT_FALSE(endpoint.empty());

    sharer_ = std::make_unique<zvtest::BackgroundProgram>(
        zvtest::linkshareBinary(),
        std::vector<std::string>{"--tcp", endpoint, serialText(), "--duration", "120"});
    ASSERT_TRUE(sharer_->waitReady(20000)) << "linkshare did not share the link";
    unsigned port = 0;
    ASSERT_EQ(sscanf(sharer_->startupValue("shared " + serialText()).c_str(), "port %u", &port), 1);
    ASSERT_GT(port, 0u);
    sharedPort_ = static_cast<uint16_t>(port);

    std::vector<linkSpec> found = probeSharedLinks();
    ASSERT_EQ(found.size(), 1u) << "shared links found by the loopback probe";
    shared_ = found[0];
}

void SharedModule::TearDown() {
    if (sharer_) {
        EXPECT_EQ(sharer_->stop(), 0) << "linkshare did not end cleanly";
    }
    sharer_.reset();
    simulator_.reset();
}

std::vector<linkSpec> SharedModule::probeSharedLinks() {
    std::vector<linkSpec> found;
    qDiscovery_EnumerateModules(linkTypeNetworkClient, collectSharedLink, &found,
                                htonl(INADDR_LOOPBACK));
    return found;
}

std::unique_ptr<Pelmorax::Zendrival::Module> SharedModule::connectClient() {
    auto client = std::make_unique<Pelmorax::Zendrival::Module>(2, 0);
    if (client->connectFromSpec(shared_) != qErrNone) {
        return nullptr;
    }
    return client;
}

std::vector<TracedPacket> SharedModule::trace() const {
    std::vector<TracedPacket> packets;
    for (const std::string& line :
         zvtest::splitLines(zvtest::readFile(scratch_.file("module.log")))) {
        TracedPacket packet;
        if (parseTraceLine(line, &packet)) {
            packets.push_back(packet);
        }
    }
    return packets;
}

}  // namespace sharetest
