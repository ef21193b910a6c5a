// The packet log writes one text line per packet sent or received.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"
#include "TestSupport.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

using PacketLog = ConnectedModule;

TEST_F(PacketLog, LinesForTheMarkerAndEachPacket) {
    TempDir dir;
    const std::string path = dir.file("packets.log");
    ASSERT_EQ(module.enablePacketLog(path.c_str()), qErrNone);
    const Bytes data{0xAB};
    ASSERT_EQ(link().sendPacket(kModule, 0x31, 1, data.data()), qErrNone);
    player.send(from(kModule, {0x32}));
    const std::string sent = "4 > 0x10 0x2 0x31 0xAB \r\n";
    const std::string received = "3 < 0x10 0x1 0x32 \r\n";
    EXPECT_TRUE(eventually([&] {
        const std::string log = readFile(path);
        return log.find(sent) != std::string::npos && log.find(received) != std::string::npos;
    }));
    // The marker goes in when logging starts, before anything this test sends.
    const std::string log = readFile(path);
    const size_t start = log.find(std::string("6 < START") + '\0' + "\r\n");
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(start, log.find(sent));
    EXPECT_EQ(module.disablePacketLog(), qErrNone);
}

TEST(PacketLogOffline, NeedsAnEngineLink) {
    Module module(kModule, 0);
    EXPECT_EQ(module.enablePacketLog("/nonexistent/log"), qErrConfiguration);
    EXPECT_EQ(module.disablePacketLog(), qErrConfiguration);
}
