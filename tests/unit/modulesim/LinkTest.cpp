// The link-level behaviour of a module: identify answers, route commands, heartbeats, restarts,
// the fault knobs, and the pseudo-terminal attachment.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "SimFixture.h"

namespace {

using simtest::WirePacket;

const Bytes kEcho = {23, 0x11, 0x22};

TEST_F(TcpSimTest, IdentifyRequestsGiveTheSyncPattern) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,address=4"}, "0A0B0C0D"));
    Bytes six;
    for (int i = 0; i < 6; ++i)
        six.insert(six.end(), {173, 0});
    link.send(six);
    for (int i = 0; i < 6; ++i) {
        WirePacket answer;
        ASSERT_TRUE(link.receive(answer)) << i;
        EXPECT_EQ(answer.address, 4);
        EXPECT_TRUE(answer.data.empty());
    }
    EXPECT_TRUE(link.quietFor(200));
}

TEST_F(TcpSimTest, RouteCommandsAndStrayBytesGetNoAnswer) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0"}, "0A0B0C0D"));
    link.send({175, 1, 1, 0, 0, 0x99, 40});  // route, zero fill, an impossible length
    EXPECT_TRUE(link.quietFor(300));
    WirePacket reply = link.exchange(2, kEcho);
    EXPECT_EQ(reply.address, 2);
    EXPECT_EQ(reply.data, kEcho);
}

TEST_F(TcpSimTest, SendsHeartbeatsAndTakesTheHostAnswers) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=100,address=6"}, "0A0B0C0D"));
    for (int beat = 0; beat < 2; ++beat) {
        WirePacket heartbeat;
        ASSERT_TRUE(link.receive(heartbeat, 3000, true));
        EXPECT_EQ(heartbeat.address, 6);
        EXPECT_EQ(heartbeat.data, (Bytes{0, 0}));
        link.sendPacket(6, {0, 2});  // the host's "up" answer
    }
    WirePacket reply = link.exchange(6, kEcho);
    EXPECT_EQ(reply.data, kEcho);
}

TEST_F(TcpSimTest, HeartbeatOptionStartsHeartbeats) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0"}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(2, {3, 0x43, 0x20}).data, (Bytes{3, 3, 0, 0}));
    EXPECT_EQ(link.exchange(2, {3, 0x83, 0x20, 10}).data, (Bytes{3, 0xC3, 0, 10}));
    WirePacket heartbeat;
    ASSERT_TRUE(link.receive(heartbeat, 3000, true));
    EXPECT_EQ(heartbeat.data, (Bytes{0, 0}));
}

TEST_F(TcpSimTest, RestartResetsTheConnectionAndForgetsUnsavedSettings) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,reboot-ms=100"}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(2, {3, 0x84, 0x20, 5}).data, (Bytes{3, 0xC4, 0, 5}));  // LED
    EXPECT_EQ(link.exchange(2, {3, 0x8B, 0x20}).data, (Bytes{3, 0xCB, 0}));
    EXPECT_TRUE(link.closedByPeer());
    ASSERT_TRUE(link.connectTcp(endpoint, 5000));
    EXPECT_EQ(link.exchange(2, {3, 0x44, 0x20}).data, (Bytes{3, 4, 0, 0}));
}

TEST_F(TcpSimTest, SilentModuleAnswersNothing) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=100,silent"}, "0A0B0C0D"));
    link.sendPacket(173, {});
    link.sendPacket(2, kEcho);
    EXPECT_TRUE(link.quietFor(500));
    EXPECT_FALSE(link.closedByPeer(100));
}

TEST_F(TcpSimTest, NoAddressModuleIgnoresOnlyTheIdentifyRequest) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,no-address"}, "0A0B0C0D"));
    link.sendPacket(173, {});
    EXPECT_TRUE(link.quietFor(300));
    EXPECT_EQ(link.exchange(2, kEcho).data, kEcho);
}

TEST_F(TcpSimTest, DropEveryLosesEveryNthReply) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,drop-every=2"}, "0A0B0C0D"));
    for (uint8_t i = 1; i <= 4; ++i) {
        link.sendPacket(2, {23, i});
        if (i % 2 == 0) {
            EXPECT_TRUE(link.quietFor(300)) << int(i);
            continue;
        }
        WirePacket reply;
        ASSERT_TRUE(link.receive(reply)) << int(i);
        EXPECT_EQ(reply.data, (Bytes{23, i}));
    }
}

TEST_F(TcpSimTest, CorruptEveryDamagesEveryNthReply) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,corrupt-every=2"}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(2, {23, 5, 6}).data, (Bytes{23, 5, 6}));
    EXPECT_EQ(link.exchange(2, {23, 5, 6}).data, (Bytes{23, 5, 0xF9}));
    EXPECT_EQ(link.exchange(2, {23, 5, 6}).data, (Bytes{23, 5, 6}));
    link.sendPacket(173, {});
    WirePacket damaged;
    ASSERT_TRUE(link.receive(damaged));
    EXPECT_EQ(damaged.address, 3);  // odd: the host must resynchronise
}

TEST_F(TcpSimTest, DisconnectAfterClosesOnTheNthPacketAndTakesANewHost) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,disconnect-after=3"}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(2, kEcho).data, kEcho);
    EXPECT_EQ(link.exchange(2, kEcho).data, kEcho);
    link.sendPacket(2, kEcho);
    EXPECT_TRUE(link.closedByPeer());
    ASSERT_TRUE(link.connectTcp(endpoint, 2000));
    EXPECT_EQ(link.exchange(2, kEcho).data, kEcho);
}

TEST_F(TcpSimTest, LatencyKeepsRepliesInOrder) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0"}, "0A0B0C0D", {"--latency-ms", "50"}));
    for (uint8_t i = 0; i < 5; ++i)
        link.sendPacket(2, {23, i});
    for (uint8_t i = 0; i < 5; ++i) {
        WirePacket reply;
        ASSERT_TRUE(link.receive(reply));
        EXPECT_EQ(reply.data, (Bytes{23, i}));
    }
}

TEST_F(TcpSimTest, NewConnectionTakesOverFromTheOldOne) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0"}, "0A0B0C0D"));
    simtest::PacketChannel second;
    ASSERT_TRUE(second.connectTcp(endpoint));
    EXPECT_TRUE(link.closedByPeer());
    EXPECT_EQ(second.exchange(2, kEcho).data, kEcho);
}

bool linkExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

TEST(ModulesimPty, NodeLinksToARawTerminalThatAnswers) {
    zvtest::TempDir dir;
    simtest::SimProcess sim;
    std::string why;
    ASSERT_TRUE(sim.start(
        {"--duration", "60", "--module", "serial=00C0FFEE,address=8,hb-ms=0,node=" + dir.path()},
        &why))
        << why;
    std::string node = sim.where("node", "00C0FFEE");
    EXPECT_EQ(node, dir.file("zendrival.00C0FFEE"));
    char target[256] = {};
    ASSERT_GT(readlink(node.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.where("pty", "00C0FFEE"));

    // The node is used without any line set-up, so the simulator must have made it raw.
    int fd = open(node.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios settings{};
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    close(fd);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 1);

    simtest::PacketChannel device;
    ASSERT_TRUE(device.openDevice(node));
    device.sendPacket(173, {});
    WirePacket answer;
    ASSERT_TRUE(device.receive(answer));
    EXPECT_EQ(answer.address, 8);
    EXPECT_TRUE(answer.data.empty());
    EXPECT_EQ(device.exchange(8, kEcho).data, kEcho);

    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(linkExists(node));
}

TEST(ModulesimPty, DisconnectAfterHangsUpAndRemovesTheNode) {
    zvtest::TempDir dir;
    simtest::SimProcess sim;
    std::string why;
    ASSERT_TRUE(sim.start({"--duration", "60", "--module",
                           "serial=00C0FFEE,hb-ms=0,disconnect-after=2,node=" + dir.path()},
                          &why))
        << why;
    std::string node = sim.where("node", "00C0FFEE");
    simtest::PacketChannel device;
    ASSERT_TRUE(device.openDevice(node));
    EXPECT_EQ(device.exchange(2, kEcho).data, kEcho);
    device.sendPacket(2, kEcho);
    for (int i = 0; i < 200 && linkExists(node); ++i)
        usleep(10000);
    EXPECT_FALSE(linkExists(node));
    EXPECT_TRUE(device.quietFor(200));
    EXPECT_EQ(sim.stop(), 0);  // the simulator itself carries on until told to stop
}

TEST(ModulesimPty, ANewHostDoesNotReadWhatAGoneHostLeftUnread) {
    simtest::SimProcess sim;
    std::string why;
    ASSERT_TRUE(sim.start({"--duration", "60", "--module", "serial=00C0FFEE,pty,hb-ms=30"}, &why))
        << why;
    std::string path = sim.where("pty", "00C0FFEE");
    {
        simtest::PacketChannel first;
        ASSERT_TRUE(first.openDevice(path));
        first.sendPacket(2, {23, 0xAA});
        usleep(50000);  // the reply is there, but this host leaves without reading it
    }
    usleep(1000000);  // ample time for three heartbeats to go unanswered
    simtest::PacketChannel second;
    ASSERT_TRUE(second.openDevice(path));
    second.sendPacket(2, {23, 0xBB});
    WirePacket reply;
    ASSERT_TRUE(second.receive(reply));
    EXPECT_EQ(reply.data, (Bytes{23, 0xBB}));
}

}  // namespace
