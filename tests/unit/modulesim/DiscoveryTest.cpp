// The TCP/IP discovery answer, asked for from the veth end of a private test network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

#include "SimFixture.h"

namespace {

class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_PRIVATE_NETWORK_OR_SKIP(true);
        listener_ = socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local = address("10.77.0.1", 9889);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    }
    void TearDown() override {
        if (listener_ >= 0)
            close(listener_);
    }

    static sockaddr_in address(const char* ip, uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, ip, &a.sin_addr);
        return a;
    }

    // Sends one request out of the veth interface 10.77.0.1, as the host does per interface.
    void request(uint8_t marker) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        in_addr via{};
        inet_pton(AF_INET, "10.77.0.1", &via);
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
        Bytes message(16, 0);
        message[0] = marker;
        sockaddr_in group = address("232.2.2.2", 9888);
        sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&group),
               sizeof group);
        close(fd);
    }

    // Replies arriving within waitMs, keyed by the serial number bytes.
    std::map<uint32_t, std::pair<Bytes, std::string>> collect(int waitMs) {
        std::map<uint32_t, std::pair<Bytes, std::string>> replies;
        pollfd p{listener_, POLLIN, 0};
        while (poll(&p, 1, waitMs) == 1) {
            uint8_t buffer[64];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t n = recvfrom(listener_, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0)
                break;
            Bytes bytes(buffer, buffer + n);
            uint32_t serial = n >= 8 ? (uint32_t(buffer[7]) << 24 | uint32_t(buffer[6]) << 16 |
                                        uint32_t(buffer[5]) << 8 | buffer[4])
                                     : 0;
            ++count_;
            replies[serial] = {bytes, inet_ntoa(from.sin_addr)};
        }
        return replies;
    }

    int listener_ = -1;
    int count_ = 0;
    simtest::SimProcess sim_;
};

uint16_t portOf(const std::string& where) {
    return static_cast<uint16_t>(std::stoi(where.substr(where.rfind(':') + 1)));
}

TEST_F(DiscoveryTest, EveryTcpModuleAnswersOnceWithItsAddressPortSerialAndModel) {
    std::string why;
    ASSERT_TRUE(sim_.start(
        {"--duration", "60", "--module", "serial=12345678,tcp,address=4,model=13,hb-ms=0",
         "--module", "serial=9ABCDEF0,tcp=127.0.0.1:0,address=6,model=21,hb-ms=0", "--module",
         "serial=1,behind=12345678,address=8"},
        &why))
        << why;
    request(1);
    auto replies = collect(1500);
    EXPECT_EQ(count_, 2);  // one answer per module, however many interfaces the request crossed
    ASSERT_EQ(replies.size(), 2u);
    uint16_t port = portOf(sim_.where("tcp", "12345678"));
    EXPECT_EQ(replies[0x12345678].first, (Bytes{0, 4, uint8_t(port), uint8_t(port >> 8), 0x78, 0x56,
                                                0x34, 0x12, 0, 0, 0, 0, 13, 0, 0, 0}));
    // The answer comes from the address the module listens on: that is where hosts connect.
    EXPECT_EQ(replies[0x12345678].second, "127.0.0.1");
    port = portOf(sim_.where("tcp", "9ABCDEF0"));
    EXPECT_EQ(replies[0x9ABCDEF0].first, (Bytes{0, 6, uint8_t(port), uint8_t(port >> 8), 0xF0, 0xDE,
                                                0xBC, 0x9A, 0, 0, 0, 0, 21, 0, 0, 0}));
}

TEST_F(DiscoveryTest, OtherMessagesOnTheDiscoveryPortAreIgnored) {
    std::string why;
    ASSERT_TRUE(sim_.start({"--duration", "60", "--module", "serial=12345678,tcp,hb-ms=0"}, &why))
        << why;
    request(2);
    EXPECT_TRUE(collect(500).empty());
    request(1);
    EXPECT_EQ(collect(1500).size(), 1u);
}

}  // namespace
