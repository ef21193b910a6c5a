// A local link server answers the loopback multicast probe with its linkSpec once the model is
// known. Runs only in a private network namespace.
#include <arpa/inet.h>

#include <cstring>

#include "ServerFixture.h"
#include "discover.h"
#include "qLinkSpec.h"
#include "qMulticast.h"
#include "qServer_ZeroMQ.h"

namespace {

// Probes request port 9850 + offset; the linkSpec answered, or an empty string.
std::string probe(int offset) {
    qMulticast* receiver = qMulticast_Create(
        0, qDISCOVERY_LOOPBACK_GROUP,
        static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REPLY_PORT + offset), qMULTICAST_RECEIVER);
    qMulticast* sender = qMulticast_Create(
        0, qDISCOVERY_LOOPBACK_GROUP,
        static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REQUEST_PORT + offset), qMULTICAST_SENDER);
    std::string answer;
    if (receiver != nullptr && sender != nullptr) {
        uint32_t request = qDISCOVERY_LOOPBACK_REQUEST;
        uint8_t bytes[4];
        std::memcpy(bytes, &request, sizeof bytes);
        qMulticast_Send(sender, bytes, sizeof bytes);
        uint8_t reply[256];
        int received = qMulticast_Receive(receiver, reply, sizeof reply);
        if (received > 0) {
            answer.assign(reinterpret_cast<const char*>(reply), static_cast<size_t>(received));
        }
    }
    qMulticast_Destroy(&receiver);
    qMulticast_Destroy(&sender);
    return answer;
}

}  // namespace

TEST_F(ServerFixture, ProbeIsAnsweredWithTheLinkSpec) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    std::string answer = probe(0);
    ASSERT_EQ(answer.size(), sizeof(linkSpec));
    linkSpec described;
    std::memcpy(&described, answer.data(), sizeof described);
    EXPECT_EQ(described.type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(described.serialNumber, 0x1234u);
    EXPECT_EQ(described.module, servedmodule::kAddress);
    EXPECT_EQ(described.model, servedmodule::kModel);
    EXPECT_EQ(described.ipAddress, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(described.port, port_);
    EXPECT_EQ(described.router, 0u);
}

TEST_F(ServerFixture, ProbeIsNotAnsweredWhileTheModelIsUnknown) {
    ZV_SERVER_NETWORK_OR_SKIP();
    qServer* server = qServer_Create(link_, 0, true);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(qServer_Start(server), qErrNone);
    EXPECT_EQ(probe(0), "");
    ASSERT_EQ(qServer_SetModel(server, 7), qErrNone);
    std::string answer = probe(0);
    ASSERT_EQ(answer.size(), sizeof(linkSpec));
    linkSpec described;
    std::memcpy(&described, answer.data(), sizeof described);
    EXPECT_EQ(described.model, 7u);
    EXPECT_EQ(qServer_Destroy(&server), qErrNone);
    EXPECT_EQ(server, nullptr);
}

namespace {

bool collect(const linkSpec* found, bool* accepted, void* reference) {
    static_cast<std::vector<linkSpec>*>(reference)->push_back(*found);
    *accepted = true;
    return true;
}

}  // namespace

TEST_F(ServerFixture, NetworkServerAnswersABeaconSearch) {
    ZV_SERVER_NETWORK_OR_SKIP();
    NetworkKeys keys;
    uint32_t veth = 0;
    ASSERT_EQ(inet_pton(AF_INET, "10.77.0.1", &veth), 1);
    interface_ = veth;
    client_ = qLink_CreateServer(link_, &port_, &interface_, false);
    ASSERT_NE(client_, 0u);
    EXPECT_EQ(interface_, veth);
    std::vector<linkSpec> heard;
    qDiscovery_Enumerate_VexnetModules(collect, &heard, veth);
    bool ours = false;
    uint8_t serverKey[32] = {};
    for (const linkSpec& described : heard) {
        if (described.port == port_) {
            ours = true;
            memcpy(serverKey, described.reserved, sizeof serverKey);
            EXPECT_EQ(described.type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
            EXPECT_EQ(described.ipAddress, veth);
            EXPECT_EQ(described.model, servedmodule::kModel);
            EXPECT_EQ(described.module, servedmodule::kAddress);
        }
    }
    EXPECT_TRUE(ours) << heard.size() << " answers heard";
    // The answer carries the server's own public key.
    zcert_t* server = zcert_load((keys.directory() + "/server.key").c_str());
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(hex(std::string(reinterpret_cast<const char*>(serverKey), sizeof serverKey)),
              hex(std::string(reinterpret_cast<const char*>(zcert_public_key(server)), 32)));
    zcert_destroy(&server);
    // The frontend listens on the interface it announces, for an allowed client key.
    RawClient client(port_, "10.77.0.1", serverKey, keys.client());
    client.send(bytes({4, 3, 23, 1, 1}));
    EXPECT_EQ(hex(client.receive()), hex(bytes({4, 3, 23, 1, 1})));
    // A key it was not given gets nothing, and nothing of it reaches the module.
    zcert_t* stranger = zcert_new();
    RawClient refused(port_, "10.77.0.1", serverKey, stranger);
    refused.send(bytes({4, 3, 23, 2, 2}));
    EXPECT_EQ(refused.receive(1000), "");
    zcert_destroy(&stranger);
    for (const std::string& request : moduleRequests()) {
        EXPECT_NE(request, bytes({4, 3, 23, 2, 2}));
    }
}
