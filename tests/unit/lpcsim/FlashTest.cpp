// Prepare, erase and copy as the flash controller allows them, and the flash image on disk.
#include "LpcSimHarness.h"

namespace lpctest {
namespace {

constexpr uint32_t kStaging = 0x10001000;
const std::string kStagingText = std::to_string(kStaging);

class LpcFlash : public LpcSimTest {
  protected:
    bool startUnlocked(std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--flash", dir.file("flash.bin")});
        if (!start(options)) {
            return false;
        }
        synchronise();
        expectCode("U 23130", 0);
        return !HasFailure();
    }
    std::string image() { return zvtest::readFile(dir.file("flash.bin")); }
    void copy(uint32_t flash, uint32_t count, int code) {
        expectCode("C " + std::to_string(flash) + " " + kStagingText + " " + std::to_string(count),
                   code);
    }
};

TEST_F(LpcFlash, SectorNumbersAndPrepareRules) {
    ASSERT_TRUE(startUnlocked());
    expectCode("P 0 30", 7);
    expectCode("P 30 30", 7);
    expectCode("P 5 3", 7);
    expectCode("E 0 29", 9);  // nothing prepared
    expectCode("P 0 14", 0);
    expectCode("E 0 15", 9);  // sector 15 is not
    expectCode("E 0 14", 0);
    expectCode("E 0 0", 9);  // the prepare went with the erase
    expectCode("E 29 28", 7);
}

TEST_F(LpcFlash, CopyRefusals) {
    ASSERT_TRUE(startUnlocked());
    expectCode("P 0 29", 0);
    expectCode("C 128 " + kStagingText + " 256", 3);                   // flash not on 256 bytes
    expectCode("C 4096 " + std::to_string(kStaging + 2) + " 256", 2);  // RAM not on a word
    copy(4096, 300, 6);
    copy(4096, 2048, 6);
    expectCode("C 4096 268435456 256", 4);  // the ISP handler's own RAM
    expectCode("C 4096 268468224 256", 4);  // past the end of the local RAM
    copy(0x80000, 256, 5);
    copy(0x7FF00, 1024, 5);
    expectCode("C 4096 " + kStagingText, 12);
    copy(4096, 256, 0);
    copy(4096, 256, 9);  // one prepare, one copy
    expectCode("P 1 1", 0);
    copy(0x1F00, 512, 9);  // spans sectors 1 and 2; only 1 is prepared
    copy(0x1000, 512, 0);
}

TEST_F(LpcFlash, CopiesReachTheImageFileAndOnlyClearBits) {
    ASSERT_TRUE(startUnlocked());
    Bytes first = patternBytes(256, 1);
    writeRam(kStaging, first);
    expectCode("P 1 1", 0);
    copy(0x1000, 256, 0);
    std::string flash = image();
    ASSERT_EQ(flash.size(), 0x80000u);
    EXPECT_EQ(flash.substr(0x1000, 256), std::string(first.begin(), first.end()));
    EXPECT_EQ(flash.substr(0, 0x1000), std::string(0x1000, '\xFF'));
    EXPECT_EQ(flash.substr(0x1100), std::string(0x80000 - 0x1100, '\xFF'));

    // Programming again without an erase ANDs the bits, as NOR flash does.
    Bytes second = patternBytes(256, 2);
    writeRam(kStaging, second);
    expectCode("P 1 1", 0);
    copy(0x1000, 256, 0);
    flash = image();
    for (size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(static_cast<uint8_t>(flash[0x1000 + i]), first[i] & second[i]) << i;
    }
    expectCode("P 1 1", 0);
    expectCode("E 1 1", 0);
    EXPECT_EQ(image().substr(0x1000, 0x1000), std::string(0x1000, '\xFF'));
}

TEST_F(LpcFlash, LargeSectorsAndReadBack) {
    ASSERT_TRUE(startUnlocked());
    Bytes data = patternBytes(4096, 3);
    writeRam(kStaging, data);
    expectCode("P 29 29", 0);
    copy(0x7F000, 4096, 0);
    EXPECT_EQ(readMemory(0x7F000, 4096), data);
    EXPECT_EQ(image().substr(0x7F000), std::string(data.begin(), data.end()));
    expectCode("P 29 29", 0);
    expectCode("E 29 29", 0);
    EXPECT_EQ(readMemory(0x78000, 8), Bytes(8, 0xFF));
}

TEST_F(LpcFlash, BlankCheckAndCompare) {
    ASSERT_TRUE(startUnlocked());
    expectCode("I 0 29", 0);
    Bytes data(256, 0xFF);
    data[13] = 0x12;
    writeRam(kStaging, data);
    expectCode("P 3 3", 0);
    copy(0x3000, 256, 0);
    // The word at +0x100C from sector 2 holds FF 12 FF FF.
    expectReply("I 2 4", "I 2 4\r8\r\n4108\r\n4294906623\r\n\n");
    expectCode("I 0 2", 0);
    expectCode("I 4 30", 7);
    expectCode("M 12288 " + kStagingText + " 256", 0);
    expectReply("M 12288 " + kStagingText + " 260",
                "M 12288 " + kStagingText + " 260\r10\r\n256\r\n\n");
    expectCode("M 12289 " + kStagingText + " 4", 13);
    expectCode("M 12288 " + kStagingText + " 6", 6);
}

TEST_F(LpcFlash, CompareTakesWordsInFlashOrRamAndAnswersTheOffset) {
    ASSERT_TRUE(startUnlocked());
    Bytes data = patternBytes(256, 3);
    data[100] = 0x00;
    writeRam(kStaging, data);
    writeRam(kStaging + 512, data);
    expectCode("M " + std::to_string(kStaging + 512) + " " + kStagingText + " 256", 0);
    expectCode("M 12288 " + std::to_string(kStaging + 2) + " 4", 13);
    expectCode("M 12288 " + kStagingText + " 0", 6);
    expectCode("M 12288 " + kStagingText, 12);
    expectCode("M 524284 " + kStagingText + " 8", 14);                   // past the flash
    expectCode("M 12288 " + std::to_string(0x10008000 - 4) + " 8", 14);  // past the RAM
    expectCode("P 3 3", 0);
    copy(0x3000, 256, 0);
    // Erased flash against the same bytes with one more cleared: the offset, not the address.
    expectReply("M 12544 " + kStagingText + " 256",
                "M 12544 " + kStagingText + " 256\r10\r\n0\r\n\n");
}

TEST_F(LpcFlash, CompareSeesTheBootVectorsInTheFirst64Bytes) {
    ASSERT_TRUE(startUnlocked());
    Bytes data = patternBytes(256, 5);
    writeRam(kStaging, data);
    expectCode("P 0 0", 0);
    copy(0, 256, 0);
    EXPECT_TRUE(readMemory(0, 256) == data);  // reads show the user's flash
    std::string compareAll = "M 0 " + kStagingText + " 256";
    line.send(compareAll + "\r\n");
    EXPECT_EQ(line.read(compareAll.size() + 5), compareAll + "\r10\r\n");
    line.drain();
    expectCode("M 64 " + std::to_string(kStaging + 64) + " 192", 0);
}

TEST_F(LpcFlash, UnprogrammedByteStaysErasedInEveryCopy) {
    ASSERT_TRUE(startUnlocked({"--unprogrammed-byte", "0x3005", "--log"}));
    Bytes data = patternBytes(256, 9);
    data[5] = 0x5A;
    writeRam(kStaging, data);
    for (int attempt = 0; attempt < 2; ++attempt) {
        expectCode("P 3 3", 0);
        copy(0x3000, 256, 0);
        expectReply("M 12288 " + kStagingText + " 256",
                    "M 12288 " + kStagingText + " 256\r10\r\n5\r\n\n");
    }
    expectCode("M 12296 " + std::to_string(kStaging + 8) + " 200", 0);
    sim->stop();
    EXPECT_EQ(static_cast<uint8_t>(image()[0x3005]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(image()[0x3004]), data[4]);
    EXPECT_NE(stderrText().find("flash byte 12293 did not program"), std::string::npos)
        << stderrText();
}

TEST_F(LpcFlash, GoStartsTheCodeAndTheRomFallsSilent) {
    ASSERT_TRUE(startUnlocked());
    expectCode("G 0 X", 12);
    expectCode("G 1048576 T", 14);
    line.send("G 0 T\r\n");
    EXPECT_EQ(line.read(9), "G 0 T\r0\r\n");
    line.send("J\r\n?");
    EXPECT_EQ(line.drain(), "");
    EXPECT_EQ(image(), std::string(0x80000, '\xFF'));
}

TEST_F(LpcFlash, InitialImageIsLoaded) {
    Bytes start = patternBytes(1000, 4);
    zvtest::writeFile(dir.file("initial.bin"), std::string(start.begin(), start.end()));
    ASSERT_TRUE(startUnlocked({"--flash-initial", dir.file("initial.bin")}));
    EXPECT_EQ(readMemory(0, 1000), start);
    EXPECT_EQ(readMemory(1000, 8), Bytes(8, 0xFF));
    sim->stop();
    std::string flash = image();  // written at exit
    EXPECT_EQ(flash.substr(0, 1000), std::string(start.begin(), start.end()));
}

}  // namespace
}  // namespace lpctest
