#include <gtest/gtest.h>

#include <cstring>

#include "DiscoveryTestSupport.h"
#include "qMulticast.h"

namespace {

const char kGroup[] = "224.0.0.7";
constexpr uint16_t kPort = 9870;

TEST(MulticastSocketTest, NullAndWrongModeCodes) {
    uint8_t byte = 0;
    EXPECT_EQ(qMulticast_Send(nullptr, &byte, 1), -2);
    EXPECT_EQ(qMulticast_Receive(nullptr, &byte, 1), -2);
    qMulticast* none = nullptr;
    EXPECT_EQ(qMulticast_Destroy(&none), -2);
    EXPECT_EQ(qMulticast_Destroy(nullptr), -2);

    ENTER_PRIVATE_NETWORK(false);
    qMulticast* receiver = qMulticast_Create(0, kGroup, kPort, qMULTICAST_RECEIVER);
    qMulticast* sender = qMulticast_Create(0, kGroup, kPort, qMULTICAST_SENDER);
    ASSERT_NE(receiver, nullptr);
    ASSERT_NE(sender, nullptr);
    EXPECT_EQ(qMulticast_Send(receiver, &byte, 1), -3);
    EXPECT_EQ(qMulticast_Receive(sender, &byte, 1), -3);
    EXPECT_EQ(qMulticast_Destroy(&receiver), 0);
    EXPECT_EQ(receiver, nullptr);
    EXPECT_EQ(qMulticast_Destroy(&sender), 0);
}

TEST(MulticastSocketTest, BadArgumentsCreateNothing) {
    ENTER_PRIVATE_NETWORK(false);
    EXPECT_EQ(qMulticast_Create(0, kGroup, kPort, 2), nullptr);
    EXPECT_EQ(qMulticast_Create(0, nullptr, kPort, qMULTICAST_SENDER), nullptr);
    EXPECT_EQ(qMulticast_Create(0, "not.a.group", kPort, qMULTICAST_SENDER), nullptr);
    // A unicast address cannot be joined.
    EXPECT_EQ(qMulticast_Create(0, "10.1.2.3", kPort, qMULTICAST_RECEIVER), nullptr);
}

// Link servers rely on this: the port of a receiver cannot be taken a second time.
TEST(MulticastSocketTest, SecondReceiverOnAPortIsRefused) {
    ENTER_PRIVATE_NETWORK(false);
    qMulticast* first = qMulticast_Create(0, kGroup, kPort, qMULTICAST_RECEIVER);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(
        qMulticast_Create(discoverytest::ipv4("127.0.0.1"), kGroup, kPort, qMULTICAST_RECEIVER),
        nullptr);
    qMulticast_Destroy(&first);
    qMulticast* again = qMulticast_Create(0, kGroup, kPort, qMULTICAST_RECEIVER);
    EXPECT_NE(again, nullptr);
    qMulticast_Destroy(&again);
}

TEST(MulticastSocketTest, DatagramReachesTheGroupOverLoopback) {
    ENTER_PRIVATE_NETWORK(false);
    qMulticast* receiver = qMulticast_Create(0, kGroup, kPort, qMULTICAST_RECEIVER);
    qMulticast* sender = qMulticast_Create(0, kGroup, kPort, qMULTICAST_SENDER);
    ASSERT_NE(receiver, nullptr);
    ASSERT_NE(sender, nullptr);
    const uint8_t request[4] = {0xBA, 0xDC, 0xCD, 0xAB};
    EXPECT_EQ(qMulticast_Send(sender, request, sizeof(request)), 4);
    uint8_t buffer[16] = {};
    ASSERT_EQ(qMulticast_Receive(receiver, buffer, sizeof(buffer)), 4);
    EXPECT_EQ(memcmp(buffer, request, 4), 0);
    // Nothing more is coming: the receive gives up after its time-out.
    EXPECT_EQ(qMulticast_Receive(receiver, buffer, sizeof(buffer)), -1);
    qMulticast_Destroy(&receiver);
    qMulticast_Destroy(&sender);
}

}  // namespace
