// Only a UEI payload ends in a byte-sequence trailer. An upgrade DATA piece, a store slot write or
// a factory data block of 28 data bytes may well end in a byte of 0x80 or more: the module still
// answers each one, and the answer belongs to the client that sent it, not to the next one.
#include <algorithm>

#include "ServerFixture.h"

namespace {

constexpr uint8_t kUpgrade = 95, kUpgradeData = 1;
constexpr uint8_t kStoreSlot = 4, kFactoryData = 94;

}  // namespace

TEST_F(ServerFixture, FullPlainPacketsEndingInBit7AreAnsweredToTheirOwnClient) {
    // Deliberate: only UEI values continue by their last byte; each DATA piece gets its reply.
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    RawClient asker(port_);
    // The module echoes each: its answer is a full plain packet ending in bit 7 as well.
    const std::string pieces[] = {fullPlainPacket(kUpgrade, kUpgradeData, 0x11, 0x80),
                                  fullPlainPacket(kUpgrade, kUpgradeData, 0x22, 0xFF),
                                  fullPlainPacket(kStoreSlot, 3, 0x33, 0x9C),
                                  fullPlainPacket(kFactoryData, 1, 0x44, 0xC1)};
    uint8_t round = 0;
    for (const std::string& piece : pieces) {
        std::string query = bytes({4, 3, 23, 0x5A, round++});
        writer.send(piece);
        asker.send(query);
        EXPECT_EQ(hex(writer.receive()), hex(piece));
        EXPECT_EQ(hex(asker.receive()), hex(query));
    }
    // Nothing arrived twice or late, and every piece reached the module as it was sent.
    EXPECT_EQ(writer.receive(300), "");
    EXPECT_EQ(asker.receive(300), "");
    auto requests = moduleRequests();
    for (const std::string& piece : pieces) {
        EXPECT_EQ(std::count(requests.begin(), requests.end(), piece), 1) << hex(piece);
    }
}
