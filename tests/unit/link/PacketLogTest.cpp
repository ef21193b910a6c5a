#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "LinkFixture.h"
#include "TestSupport.h"
#include "qLogger.h"
#include "qPacketDebug.h"
#include "unix_time.h"

namespace {

struct Record {
    uint8_t type = 0;
    std::string bytes;
};

qErr take(qPacketLog* log, Record* record, uint8_t capacity = 255) {
    uint8_t buffer[255];
    uint8_t length = capacity;
    qErr err = qPacketLog_Get(log, &record->type, &length, buffer);
    record->bytes = err == qErrNone ? std::string(reinterpret_cast<char*>(buffer), length) : "";
    return err;
}

qErr putText(qPacketLog* log, uint8_t type, const std::string& text) {
    return qPacketLog_Put(log, type, static_cast<uint8_t>(text.size()),
                          reinterpret_cast<const uint8_t*>(text.data()));
}

TEST(PacketLogRingTest, SixteenBytesHoldOneTwelveByteRecord) {
    qPacketLog* log = qPacketLog_Create(16);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(putText(log, qPACKETLOG_SENT, "first twelve"), qErrNone);
    EXPECT_EQ(putText(log, qPACKETLOG_RECEIVED, "second twelv"), qErrNone);
    Record record;
    ASSERT_EQ(take(log, &record), qErrNone);
    EXPECT_EQ(record.type, qPACKETLOG_RECEIVED);
    EXPECT_EQ(record.bytes, "second twelv");
    EXPECT_EQ(take(log, &record), qErrNotFound);
    // With its type and length a 14-byte record would fill the whole ring.
    EXPECT_EQ(putText(log, qPACKETLOG_SENT, "fourteen bytes"), qErrOverrun);
    EXPECT_EQ(take(log, &record), qErrNotFound);
    EXPECT_EQ(qPacketLog_Destroy(&log), qErrNone);
    EXPECT_EQ(log, nullptr);
}

TEST(PacketLogRingTest, RecordLongerThanTheBufferStays) {
    qPacketLog* log = qPacketLog_Create(64);
    ASSERT_EQ(putText(log, qPACKETLOG_TEXT, "START"), qErrNone);
    Record record;
    EXPECT_EQ(take(log, &record, 4), qErrOverrun);
    EXPECT_EQ(record.type, qPACKETLOG_TEXT);
    ASSERT_EQ(take(log, &record, 5), qErrNone);
    EXPECT_EQ(record.bytes, "START");
    qPacketLog_Destroy(&log);
}

TEST(PacketLogRingTest, RecordsWrapAroundAndOldestAreDropped) {
    qPacketLog* log = qPacketLog_Create(20);
    // Records of 8 bytes with header: the ring keeps the newest two.
    for (char c = 'a'; c <= 'j'; ++c) {
        ASSERT_EQ(putText(log, qPACKETLOG_SENT, std::string(6, c)), qErrNone);
        if (c == 'e') {
            Record record;
            ASSERT_EQ(take(log, &record), qErrNone);
            EXPECT_EQ(record.bytes, "dddddd");
        }
    }
    Record record;
    ASSERT_EQ(take(log, &record), qErrNone);
    EXPECT_EQ(record.bytes, "iiiiii");
    ASSERT_EQ(take(log, &record), qErrNone);
    EXPECT_EQ(record.bytes, "jjjjjj");
    EXPECT_EQ(take(log, &record), qErrNotFound);
    qPacketLog_Destroy(&log);
}

TEST(PacketLogRingTest, BadArguments) {
    EXPECT_EQ(qPacketLog_Create(2), nullptr);
    EXPECT_EQ(qPacketLog_Put(nullptr, 1, 0, nullptr), qErrParam);
    qPacketLog* log = qPacketLog_Create(32);
    EXPECT_EQ(qPacketLog_Put(log, 1, 3, nullptr), qErrParam);
    EXPECT_EQ(qPacketLog_Put(log, 1, 0, nullptr), qErrNone);
    Record record;
    ASSERT_EQ(take(log, &record), qErrNone);
    EXPECT_EQ(record.bytes, "");
    qPacketLog_Destroy(&log);
    EXPECT_EQ(qPacketLog_Destroy(&log), qErrParam);
}

using LinkPacketLogTest = LinkOverPair;

// Reads records until the wanted one shows up (sent and received records come from two threads).
bool findRecord(qLinkID id, uint8_t type, const std::string& wanted) {
    return eventually([&] {
        uint8_t recordType = 0;
        uint8_t buffer[64];
        uint8_t length = sizeof buffer;
        if (qLink_PacketDebug_Read(id, &recordType, &length, buffer) != qErrNone) {
            return false;
        }
        return recordType == type && std::string(reinterpret_cast<char*>(buffer), length) == wanted;
    });
}

TEST_F(LinkPacketLogTest, LogsPacketsBothWaysAndTextMarkers) {
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t buffer[64];
    EXPECT_EQ(qLink_PacketDebug_Read(id, &type, &length, buffer), qErrNotReady);
    EXPECT_EQ(qLink_PacketDebug_Disable(id), qErrNotReady);
    EXPECT_EQ(qLink_PacketDebug_SetLogSize(id, qPACKETLOG_MAX_SIZE + 1), qErrParam);
    EXPECT_EQ(qLink_PacketDebug_SetLogSize(id, 4096), qErrNone);
    ASSERT_EQ(qLink_PacketDebug_Enable(id), qErrNone);
    EXPECT_EQ(qLink_PacketDebug_SetLogSize(id, 8192), qErrBusy);

    ASSERT_EQ(
        qLink_PacketDebug_Write(id, qPACKETLOG_TEXT, 6, reinterpret_cast<const uint8_t*>("START")),
        qErrNone);
    EXPECT_TRUE(findRecord(id, qPACKETLOG_TEXT, std::string("START", 6)));

    ASSERT_EQ(put({0x04, 0x02, 0x17, 0x01}), qErrNone);
    ASSERT_EQ(module.receive(4).size(), 4u);
    EXPECT_TRUE(findRecord(id, qPACKETLOG_SENT, bytes({0x04, 0x02, 0x17, 0x01})));

    module.send(bytes({0x04, 0x01, 0x17}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x17})));
    EXPECT_TRUE(findRecord(id, qPACKETLOG_RECEIVED, bytes({0x04, 0x01, 0x17})));

    EXPECT_EQ(qLink_PacketDebug_Disable(id), qErrNone);
}

TEST_F(LinkPacketLogTest, PooledBatchLogsEveryPacket) {
    // Deliberate: every packet of a pooled batch is logged, not only the batch's first.
    ASSERT_EQ(qLink_PacketDebug_Enable(id), qErrNone);
    ASSERT_EQ(qLink_EnablePooledPackets(id, true), qErrNone);
    module.clearWriteSizes();
    module.holdWrites();
    ASSERT_EQ(put({0x02, 0x01, 0x01}), qErrNone);
    ASSERT_TRUE(eventually([this] { return module.writesBegun() == 1; }));
    ASSERT_EQ(put({0x02, 0x01, 0x02}), qErrNone);
    ASSERT_EQ(put({0x02, 0x01, 0x03}), qErrNone);
    module.releaseWrites();
    ASSERT_EQ(module.receive(9).size(), 9u);
    // The last two went out in one write.
    EXPECT_EQ(module.writeSizes(), std::vector<size_t>({3u, 6u}));
    EXPECT_TRUE(findRecord(id, qPACKETLOG_SENT, bytes({0x02, 0x01, 0x02})));
    EXPECT_TRUE(findRecord(id, qPACKETLOG_SENT, bytes({0x02, 0x01, 0x03})));
}

// Writes each record as one line, as a packet log file holds it.
qErr writeRecordLine(qFile* file, uint32_t linkId) {
    uint8_t type = 0;
    uint8_t buffer[64];
    uint8_t length = sizeof buffer;
    qErr err = qLink_PacketDebug_Read(linkId, &type, &length, buffer);
    if (err != qErrNone) {
        qTime_MSSleep(5);
        return err;
    }
    qFile_Printf(file, "%d %s ", length, type == qPACKETLOG_SENT ? ">" : "<");
    for (uint8_t i = 0; i < length; ++i) {
        qFile_Printf(file, "0x%X ", buffer[i]);
    }
    return qFile_Printf(file, "\r\n");
}

TEST_F(LinkPacketLogTest, LoggerThreadWritesRecordsToItsFile) {
    zvtest::TempDir dir;
    const std::string path = dir.file("packets.log");
    zvtest::writeFile(path, "earlier\n");
    ASSERT_EQ(qLink_PacketDebug_Enable(id), qErrNone);
    qLogger* logger = qLogger_Create(id, writeRecordLine, path.c_str());
    ASSERT_NE(logger, nullptr);
    ASSERT_EQ(qLogger_Enable(logger), qErrNone);
    ASSERT_EQ(put({0x04, 0x01, 0xAB}), qErrNone);
    const std::string expected = "earlier\n3 > 0x4 0x1 0xAB \r\n";
    EXPECT_TRUE(eventually([&] { return zvtest::readFile(path) == expected; }))
        << zvtest::readFile(path);
    EXPECT_EQ(qLogger_Disable(logger), qErrNone);
    EXPECT_EQ(qLogger_Destroy(&logger), qErrNone);
    EXPECT_EQ(logger, nullptr);
    EXPECT_EQ(qLogger_Destroy(&logger), qErrParam);
}

TEST(LoggerTest, CreateFailsWithoutFileOrProcedure) {
    zvtest::TempDir dir;
    EXPECT_EQ(qLogger_Create(1, writeRecordLine, dir.file("no/such/dir/log").c_str()), nullptr);
    EXPECT_EQ(qLogger_Create(1, nullptr, dir.file("log").c_str()), nullptr);
    EXPECT_EQ(qLogger_Enable(nullptr), qErrParam);
}

}  // namespace
