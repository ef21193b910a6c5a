// Requests and replies through a published link: the server's own client link, raw clients
// interleaving, blocked route commands and multi-packet replies.
#include <arpa/inet.h>

#include "ServerFixture.h"
#include "qLinkManagerInternal.h"
#include "qServer_ZeroMQ.h"

namespace {

qPacket* packetOf(const std::string& bytes) {
    return qPacket_CreateWithData(static_cast<uint8_t>(bytes[0]), static_cast<uint8_t>(bytes[1]),
                                  reinterpret_cast<const uint8_t*>(bytes.data() + 2));
}

std::string wireOf(const qPacket* packet) {
    return std::string(1, static_cast<char>(packet->address)) +
           std::string(1, static_cast<char>(packet->dataSize)) +
           std::string(reinterpret_cast<const char*>(packet->data), packet->dataSize);
}

}  // namespace

TEST_F(ServerFixture, PublishedLinkAnswersThroughItsClientLink) {
    ZV_SERVER_NETWORK_OR_SKIP();
    size_t linksBefore = qLinkManager_Count();
    ASSERT_NE(publish(), 0u);
    EXPECT_NE(port_, 0);
    EXPECT_EQ(interface_, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(qLinkManager_Count(), linksBefore + 1);
    // The server learnt the module's address and model through its own client.
    auto requests = moduleRequests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], bytes({173, 0}));
    EXPECT_EQ(requests[1], bytes({4, 3, 3, 72, 32}));

    std::string echo = bytes({4, 3, 23, 1, 2});
    qPacket* request = packetOf(echo);
    ASSERT_EQ(qLink_PutPacket(client_, request), qErrNone);
    qPacket_Destroy(&request);
    qPacket* reply = qLink_AwaitPacket(client_, 5000);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(wireOf(reply), echo);
    qPacket_Destroy(&reply);

    // Destroying the client link takes the published link with it.
    qLink_Destroy(&client_);
    EXPECT_EQ(qLink_GetStatus(link_), qLINK_STATUS_INVALID);
    EXPECT_EQ(qLinkManager_Count(), linksBefore - 1);
    link_ = 0;
}

TEST_F(ServerFixture, ServerIsRefusedForUnknownLinksAndClientLinks) {
    ZV_SERVER_NETWORK_OR_SKIP();
    EXPECT_EQ(qServer_Create(9999, 0, true), nullptr);
    ASSERT_NE(publish(), 0u);
    EXPECT_EQ(qServer_Create(client_, 0, true), nullptr);
    uint16_t port = 0;
    uint32_t interface = 0;
    EXPECT_EQ(qLink_CreateServer(client_, &port, &interface, true), 0u);
    EXPECT_EQ(qServer_Start(nullptr), qErrParam);
    EXPECT_EQ(qServer_Destroy(nullptr), qErrParam);
}

TEST_F(ServerFixture, InterleavedClientsReceiveOnlyTheirOwnReplies) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient first(port_);
    RawClient second(port_);
    constexpr int kRounds = 20;
    for (int i = 0; i < kRounds; i++) {
        first.send(bytes({4, 3, 23, 0xA1, static_cast<uint8_t>(i)}));
        second.send(bytes({4, 3, 23, 0xB2, static_cast<uint8_t>(i)}));
    }
    for (int i = 0; i < kRounds; i++) {
        EXPECT_EQ(hex(first.receive()), hex(bytes({4, 3, 23, 0xA1, static_cast<uint8_t>(i)})));
        EXPECT_EQ(hex(second.receive()), hex(bytes({4, 3, 23, 0xB2, static_cast<uint8_t>(i)})));
    }
}

TEST_F(ServerFixture, RouteCommandFromAClientIsNeitherForwardedNorQueued) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    size_t routesBefore = moduleReceived().size() - moduleRequests().size();
    RawClient router(port_);
    RawClient other(port_);
    router.send(bytes({175, 1, 0}));
    other.send(bytes({4, 3, 23, 7, 7}));
    // Had the route sender been queued, this reply would have gone to it.
    EXPECT_EQ(hex(other.receive()), hex(bytes({4, 3, 23, 7, 7})));
    size_t routesAfter = moduleReceived().size() - moduleRequests().size();
    EXPECT_EQ(routesAfter, routesBefore);
}

TEST_F(ServerFixture, ReplyOfFourPacketsArrivesAsFourFrames) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    std::vector<std::string> answer = {bytesPacket(28, 0, true, 1), bytesPacket(28, 1, true, 2),
                                       bytesPacket(28, 2, true, 3), bytesPacket(10, 3, false, 4)};
    std::string request = bytes({4, 3, 30, 0x40, 0x21});
    respond([&](const std::string& packet) {
        return packet == request ? answer : servedmodule::standardReply(packet);
    });
    RawClient client(port_);
    client.send(request);
    for (const std::string& expected : answer) {
        EXPECT_EQ(hex(client.receive()), hex(expected));
    }
    // The run is over: the next request gets its own reply.
    client.send(bytes({4, 3, 23, 9, 9}));
    EXPECT_EQ(hex(client.receive()), hex(bytes({4, 3, 23, 9, 9})));
}

TEST_F(ServerFixture, MalformedFramesAreDropped) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient client(port_);
    client.send(bytes({4}));
    client.send(std::string(31, '\x04'));
    client.send(bytes({4, 5, 1}));
    client.send(bytes({4, 3, 23, 5, 5}));
    EXPECT_EQ(hex(client.receive()), hex(bytes({4, 3, 23, 5, 5})));
    EXPECT_EQ(moduleRequests().back(), bytes({4, 3, 23, 5, 5}));
}

TEST_F(ServerFixture, ReplyWithOneDataByteReachesTheClient) {
    // Deliberate: a 3-byte frame is a server command only when no replies are pending.
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient client(port_);
    client.send(bytes({4, 1, 23}));
    EXPECT_EQ(hex(client.receive()), hex(bytes({4, 1, 23})));
    client.send(bytes({4, 3, 23, 6, 6}));
    EXPECT_EQ(hex(client.receive()), hex(bytes({4, 3, 23, 6, 6})));
}

TEST_F(ServerFixture, UnansweredRequestCostsOnlyThatReply) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    std::string silent = bytes({4, 3, 23, 0xEE, 0});
    respond([&](const std::string& packet) {
        return packet == silent ? std::vector<std::string>{} : servedmodule::standardReply(packet);
    });
    RawClient first(port_);
    RawClient second(port_);
    first.send(silent);
    second.send(bytes({4, 3, 23, 1, 1}));
    EXPECT_EQ(hex(second.receive()), hex(bytes({4, 3, 23, 1, 1})));
    first.send(bytes({4, 3, 23, 2, 2}));
    EXPECT_EQ(hex(first.receive()), hex(bytes({4, 3, 23, 2, 2})));
}
