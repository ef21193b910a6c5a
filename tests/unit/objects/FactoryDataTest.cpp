// Factory data: chunked reads and writes closed by an end request carrying the byte count.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

using FactoryData = ConnectedModule;

namespace {

std::vector<WirePacket> acknowledge(const Bytes& d) {
    return {from(kModule, {94, static_cast<uint8_t>(d[1] & 0x0F)})};
}

}  // namespace

TEST_F(FactoryData, SixtyBytesAreWrittenAsTwentySixTwentySixEight) {
    respond(acknowledge);
    Bytes data(60);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(link().setFactoryData(kModule, 3, data.data(), data.size()), qErrNone);
    auto seen = requestData();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(Bytes(seen[0].begin(), seen[0].begin() + 2), Bytes({94, 0x53}));
    EXPECT_EQ(Bytes(seen[1].begin(), seen[1].begin() + 2), Bytes({94, 0x13}));
    EXPECT_EQ(Bytes(seen[2].begin(), seen[2].begin() + 2), Bytes({94, 0x13}));
    EXPECT_EQ(seen[0].size(), 28u);
    EXPECT_EQ(seen[1].size(), 28u);
    EXPECT_EQ(seen[2].size(), 10u);
    EXPECT_EQ(Bytes(seen[2].begin() + 2, seen[2].end()), Bytes(data.begin() + 52, data.end()));
    EXPECT_EQ(seen[3], Bytes({94, 0x20, 0, 60}));
}

TEST_F(FactoryData, EmptyWriteSendsOnlyTheEnd) {
    respond(acknowledge);
    ASSERT_EQ(link().setFactoryData(kModule, 3, nullptr, 0), qErrNone);
    EXPECT_EQ(requestData(), std::vector<Bytes>({{94, 0x20, 0, 0}}));
}

TEST_F(FactoryData, ModuleErrorDuringAWriteKeepsItsCode) {
    // Deliberate: a factory-data write the module refuses returns the module's own error code.
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{
            from(kModule, {94, static_cast<uint8_t>((d[1] & 0x0F) | 0x80), qErrPermission})};
    });
    const Bytes data(5, 1);
    EXPECT_EQ(link().setFactoryData(kModule, 3, data.data(), data.size()), qErrPermission);
    EXPECT_EQ(requestData().size(), 1u);
}

TEST_F(FactoryData, ReadEndsAtTheFirstShortReply) {
    respond([](const Bytes& d) {
        if (d[1] == 0x20) {
            return std::vector<WirePacket>{from(kModule, {94, 0})};
        }
        Bytes reply{94, static_cast<uint8_t>(d[1] & 0x0F)};
        const size_t bytes = (d[1] & 0x40) ? 26 : 8;
        for (size_t i = 0; i < bytes; ++i) {
            reply.push_back(static_cast<uint8_t>(i));
        }
        return std::vector<WirePacket>{from(kModule, reply)};
    });
    uint8_t buffer[64];
    size_t length = 0;
    ASSERT_EQ(link().getFactoryData(kModule, 5, buffer, sizeof(buffer), &length), qErrNone);
    EXPECT_EQ(length, 34u);
    EXPECT_EQ(requestData(), std::vector<Bytes>({{94, 0x45}, {94, 0x05}, {94, 0x20, 0, 34}}));
    EXPECT_EQ(buffer[26], 0);
    EXPECT_EQ(buffer[33], 7);

    uint8_t exact[34];
    EXPECT_EQ(link().getFactoryData(kModule, 5, exact, sizeof(exact), &length), qErrOverrun);
}
