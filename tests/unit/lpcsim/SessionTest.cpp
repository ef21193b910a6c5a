// A whole recovery as a host runs it: identify, unlock, erase everything, write an image in
// 4096-byte RAM chunks with prepare and copy for each, then start the code.
#include "LpcSimHarness.h"

namespace lpctest {
namespace {

constexpr uint32_t kStaging = 0x10001000;

class LpcSession : public LpcSimTest {
  protected:
    // W with echo off: no echoes, only the checksum answers.
    void writeQuietly(const Bytes& data) {
        expectReply("W " + std::to_string(kStaging) + " " + std::to_string(data.size()), "0\r\n");
        size_t at = 0;
        while (at < data.size()) {
            size_t blockStart = at;
            std::string block;
            for (int lines = 0; lines < 20 && at < data.size(); ++lines) {
                size_t count = std::min<size_t>(45, data.size() - at);
                block += uuLine(data.data() + at, count) + "\r\n";
                at += count;
            }
            line.send(block);
            expectReply(std::to_string(sumOf(data, blockStart, at)), "OK\r\n");
        }
    }
};

uint32_t copyLength(size_t count) {
    for (uint32_t size : {256u, 512u, 1024u, 4096u}) {
        if (count <= size) {
            return size;
        }
    }
    return static_cast<uint32_t>(count);
}

TEST_F(LpcSession, EraseWriteAndGo) {
    ASSERT_TRUE(start({"--flash", dir.file("flash.bin"), "--device-id", "11,22,33,44"}));
    synchronise();
    expectReply("N", "N\r0\r\n11\r\n22\r\n33\r\n44\r\n\n");
    // The host opens the port again for the writing and does not synchronise twice.
    line.close();
    ASSERT_TRUE(line.open(sim->startupValue("pty")));
    line.drain(100);
    expectCode("U 23130", 0);
    expectCode("P 0 29", 0);
    expectCode("E 0 29", 0);
    expectReply("A 0", "A 0\r0\r\n");

    Bytes image = patternBytes(10000, 13);
    uint32_t target = 0x2000;
    for (size_t offset = 0; offset < image.size(); offset += 4096) {
        Bytes chunk(image.begin() + static_cast<long>(offset),
                    image.begin() + static_cast<long>(std::min(image.size(), offset + 4096)));
        writeQuietly(chunk);
        uint32_t last = target + static_cast<uint32_t>(chunk.size()) - 1;
        int first = static_cast<int>(target / 0x1000);
        int end = static_cast<int>(last / 0x1000);
        expectReply("P " + std::to_string(first) + " " + std::to_string(end), "0\r\n");
        expectReply("C " + std::to_string(target) + " " + std::to_string(kStaging) + " " +
                        std::to_string(copyLength(chunk.size())),
                    "0\r\n");
        target += static_cast<uint32_t>(chunk.size());
    }
    expectReply("A 1", "0\r\n\n");
    line.send("G 0 T\r\n");
    EXPECT_EQ(line.read(9), "G 0 T\r0\r\n");
    EXPECT_EQ(line.drain(), "");

    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    ASSERT_EQ(flash.size(), 0x80000u);
    EXPECT_EQ(flash.substr(0, 0x2000), std::string(0x2000, '\xFF'));
    EXPECT_EQ(flash.substr(0x2000, image.size()), std::string(image.begin(), image.end()));
    // The last copy takes 4096 bytes: behind the 1808 new ones lies the previous chunk's RAM.
    EXPECT_EQ(flash.substr(0x2000 + 10000, 4096 - 1808),
              std::string(image.begin() + 4096 + 1808, image.begin() + 8192));
    EXPECT_EQ(flash.substr(0x2000 + 3 * 4096), std::string(0x80000 - 0x5000, '\xFF'));
}

}  // namespace
}  // namespace lpctest
