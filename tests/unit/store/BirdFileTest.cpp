#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "BirdFile.h"
#include "StoreTestSupport.h"

using storetest::LogCapture;
using storetest::writeBird;
using zvtest::TempDir;

namespace {

std::vector<unsigned char> bytesOf(size_t count, unsigned char value) {
    return std::vector<unsigned char>(count, value);
}

// Bytes that differ from their neighbours: start, start + step, ... (mod 256).
std::vector<unsigned char> ramp(size_t count, unsigned step, unsigned start) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<unsigned char>(i * step + start));
    }
    return bytes;
}

const unsigned kChipKey[4] = {0xDEADBEEF, 0x01234567, 0x89ABCDEF, 0x0F1E2D3C};

std::vector<unsigned char> image(const BirdBlock& block) {
    return std::vector<unsigned char>(block.data + 4, block.data + block.length);
}

class BirdFileTest : public ::testing::Test {
  protected:
    std::string write(const BirdWriter& writer, const char* name = "f.bird") {
        std::string path = dir.file(name);
        writeBird(path, writer);
        return path;
    }
    std::string writeRaw(const std::string& bytes, const char* name = "raw.bird") {
        std::string path = dir.file(name);
        zvtest::writeFile(path, bytes);
        return path;
    }
    // A file whose compressed body is exactly stream.
    std::string writeStream(const std::vector<unsigned char>& stream) {
        return writeRaw(storetest::asText(BirdWriter::Wrap(stream)));
    }

    TempDir dir;
};

TEST_F(BirdFileTest, LoadsEveryBlockWithTypeFlagsAddressAndData) {
    BirdWriter writer;
    writer.AddImage(0, 0, 0x20000000, {0xAA, 0xBB});
    writer.AddImage(1, 3, 0x00001000, {1, 2, 3, 4, 5});
    writer.AddInfo("1234", "1.2.3 beta", "0012ABCD", "ABCDEF");
    writer.AddSerialOffsets(0x1010, 0x1020);
    writer.AddRecoveryStart(0x20000400);
    writer.AddRaw(3, 7, {9, 8, 7});
    BirdFile file(write(writer).c_str());

    ASSERT_EQ(file.GetBlockCount(), 6u);
    const auto& blocks = file.GetBlocks();
    EXPECT_EQ(blocks[0].type, 0);
    EXPECT_EQ(blocks[0].address, 0x20000000u);
    EXPECT_EQ(blocks[0].length, 6u);
    EXPECT_EQ(image(blocks[0]), (std::vector<unsigned char>{0xAA, 0xBB}));
    EXPECT_EQ(blocks[1].flags, 3);
    EXPECT_EQ(blocks[1].address, 0x1000u);
    EXPECT_EQ(image(blocks[1]), (std::vector<unsigned char>{1, 2, 3, 4, 5}));
    EXPECT_EQ(blocks[2].address, 0u);
    EXPECT_EQ(blocks[5].type, 3);
    EXPECT_EQ(blocks[5].flags, 7);

    std::vector<BirdBlock> other = file.FindBlocks(3);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(0, memcmp(other[0].data, "\x09\x08\x07", 3));
    EXPECT_TRUE(file.FindBlocks(6).empty());

    EXPECT_TRUE(file.HasSerialNumberBlock());
    EXPECT_EQ(file.GetSerialNumberOffset(), 0x1010u);
    EXPECT_EQ(file.GetDescriptorOffset(), 0x1020u);
    EXPECT_EQ(file.GetSignature(), 0x62697264u);
    EXPECT_EQ(file.GetFormatVersion(), 0x0101u);
    std::vector<unsigned char> stream = writer.BlockStream();
    stream.resize(stream.size() - 4);
    EXPECT_EQ(file.GetChecksum(), BirdWriter::Checksum(stream));
}

TEST(BirdFileParseTest, WriteParseWriteIsByteIdentical) {
    const std::vector<unsigned char> plain = ramp(300, 13, 1);
    BirdWriter scrambled;
    scrambled.AddImage(0, 0, 0x10000000, {1, 2, 3, 4});
    scrambled.AddImage(1, 5, 0x4000, plain);
    scrambled.Scramble(kChipKey);
    BirdWriter serial;
    serial.AddImage(1, 0, 0x1000, plain);
    serial.AddSerialOffsets(0x1010, 0x1100);
    BirdWriter info;
    info.AddInfo("98765", "3.1.4 rc1", "0012ABCD", "Router");
    info.AddRaw(9, 7, {0xEE});
    info.SetHeader("bird", 0x01, 0x02);
    BirdWriter recovery;
    recovery.AddImage(0, 0, 0x20000000, plain);
    recovery.AddRecoveryStart(0x20000400);
    for (const BirdWriter* writer : {&scrambled, &serial, &info, &recovery}) {
        const std::vector<unsigned char> bytes = writer->FileBytes();
        BirdFile file;
        ASSERT_TRUE(file.Parse(bytes.data(), bytes.size()));
        EXPECT_EQ(BirdWriter::Of(file).FileBytes(), bytes);
    }
}

TEST_F(BirdFileTest, LogsTheScanByteForByte) {
    BirdWriter writer;
    writer.AddImage(1, 2, 0x1000, {1, 2});
    writer.AddInfo("77", "2.0", "0000ABCD", "HUB");
    writer.AddSerialOffsets(16, 32);
    writer.SetChecksum(0xCAFEF00D);
    std::string path = write(writer);
    LogCapture log(DEBUG_BirdFile);
    BirdFile file(path.c_str());
    EXPECT_EQ(log.text(), "BIRDFILE: Loading File [" + path +
                              "]\n"
                              "BIRDFILE:\t\t File reports 3 blocks\n"
                              "BIRDFILE: Bird file objects:\n"
                              "BIRDFILE: \t\tType Flags Length\n"
                              "BIRDFILE:\t\t 01   02   6\n"
                              "BIRDFILE:\t\t 04   00   64\n"
                              "BIRDFILE:\t\t \t[77              ]\n"
                              "BIRDFILE:\t\t \t[2.0             ]\n"
                              "BIRDFILE:\t\t \t[0000ABCD        ]\n"
                              "BIRDFILE:\t\t \t[HUB             ]\n"
                              "BIRDFILE:\t\t 02   00   8\n"
                              "BIRDFILE:\t\t File checksum CAFEF00D\n"
                              "BIRDFILE: Offsets: Serial number: 16, Descriptor: 32\n");
}

TEST_F(BirdFileTest, FailuresOfTheFileOrItsBodyFailTheLoad) {
    std::string missing = dir.file("missing.bird");
    {
        LogCapture log(DEBUG_BirdFile);
        BirdFile file;
        EXPECT_FALSE(file.Load());
        EXPECT_THROW(BirdFile(missing.c_str()), std::runtime_error);
        EXPECT_NE(log.text().find("BIRDFILE: BIRD file not found [" + missing + "]\n"),
                  std::string::npos);
    }
    struct Case {
        std::string bytes;
        const char* logged;
    };
    const Case cases[] = {
        {std::string("bird\x01\x01", 6), "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {std::string("bi"), "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {std::string("bird\x01\x01not zlib at all", 21),
         "BIRDFILE: Error (-3) decompressing bird file.\n"},
    };
    for (const Case& c : cases) {
        std::string path = writeRaw(c.bytes);
        LogCapture log(DEBUG_BirdFile);
        try {
            BirdFile file(path.c_str());
            ADD_FAILURE() << "loaded " << c.bytes.size() << " bytes";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to load bird data");
        }
        EXPECT_NE(log.text().find(c.logged), std::string::npos) << log.text();
    }
}

TEST_F(BirdFileTest, BodyInflatingBeyondEightTimesItsSizeIsABufferError) {
    BirdWriter writer;
    writer.AddImage(1, 0, 0, bytesOf(100000, 0));
    std::string path = write(writer);
    LogCapture log(DEBUG_BirdFile);
    EXPECT_THROW(BirdFile(path.c_str()), std::runtime_error);
    EXPECT_NE(log.text().find("BIRDFILE: Error (-5) decompressing bird file.\n"),
              std::string::npos);
}

TEST(BirdFileCapacityTest, EightTimesTheBodyCappedWithoutWrapping) {
    EXPECT_EQ(BirdFile::DecompressionCapacity(0), 0u);
    EXPECT_EQ(BirdFile::DecompressionCapacity(100), 800u);
    // Deliberate: the inflate buffer is sized in 64 bits and capped at 256 MiB, so it never wraps.
    EXPECT_EQ(BirdFile::DecompressionCapacity(32u << 20), 256u << 20);
    EXPECT_EQ(BirdFile::DecompressionCapacity((32u << 20) + 1), 256u << 20);
    EXPECT_EQ(BirdFile::DecompressionCapacity(0x20000001ull), 256u << 20);
}

TEST_F(BirdFileTest, CountAndSizeMismatchesAreLoggedAndTheParsedBlocksKept) {
    BirdWriter wrongCount;
    wrongCount.AddImage(1, 0, 0x1000, {1});
    wrongCount.AddImage(1, 0, 0x2000, {2});
    wrongCount.SetReportedCount(5);
    wrongCount.SetTrailing({0xEE, 0xEE, 0xEE});
    std::string path = write(wrongCount);
    LogCapture log(DEBUG_BirdFile);
    BirdFile file(path.c_str());
    EXPECT_EQ(file.GetBlockCount(), 2u);
    EXPECT_NE(log.text().find("BIRDFILE: Block parsing mismatch in number of blocks. (2 != 5)\n"),
              std::string::npos);
    EXPECT_NE(
        log.text().find("BIRDFILE: Block parsing mismatch in data size. (3 bytes remaining)\n"),
        std::string::npos);
}

TEST_F(BirdFileTest, BlockRunningPastTheEndEndsTheScanUnappended) {
    BirdWriter writer;
    writer.AddImage(1, 0, 0x1000, {1, 2});
    BirdWriterBlock& overlong = writer.AddImage(1, 0, 0x2000, {3, 4});
    overlong.declaresLength = true;
    overlong.declaredLength = 0xFFFFFFF0u;
    std::string path = write(writer);
    LogCapture log(DEBUG_BirdFile);
    BirdFile file(path.c_str());
    ASSERT_EQ(file.GetBlockCount(), 1u);
    EXPECT_EQ(file.GetBlocks()[0].address, 0x1000u);
    EXPECT_NE(log.text().find("mismatch in data size"), std::string::npos);
}

TEST_F(BirdFileTest, ImageBlockWithoutRoomForItsAddressIsMalformed) {
    // Deliberate: an image block shorter than its address ends the scan; it is never added.
    for (uint8_t type : {uint8_t(0), uint8_t(1)}) {
        BirdWriter writer;
        writer.AddInfo("1", "1", "1", "M");
        writer.AddRaw(type, 0, {0x12, 0x34});
        writer.AddImage(1, 0, 0x3000, {5, 6, 7, 8});
        BirdFile file(write(writer).c_str());
        ASSERT_EQ(file.GetBlockCount(), 1u) << int(type);
        EXPECT_EQ(file.GetBlocks()[0].type, 4);
        const unsigned key[4] = {1, 2, 3, 4};
        EXPECT_TRUE(file.DecodeFirmwareBlocks(key));
        EXPECT_FALSE(file.ReplaceSerialNumber(0x1234));
    }
}

TEST_F(BirdFileTest, ShortInfoAndOffsetsBlocksAreNeverReadPast) {
    // Deliberate: short information or offset blocks are read only as far as they go.
    BirdWriter writer;
    writer.AddRaw(4, 0, {'1', '2', ' ', ' '});
    writer.AddRaw(2, 0, {0, 0, 0x10, 0});
    writer.AddImage(1, 0, 0x1000, bytesOf(64, 0xFF));
    BirdFile file(write(writer).c_str());
    EXPECT_EQ(file.GetBlockCount(), 3u);
    EXPECT_EQ(file.GetBuild(), 12u);
    EXPECT_EQ(file.GetSerialNumber(), 0u);
    EXPECT_EQ(file.GetModel(), "");
    EXPECT_TRUE(file.HasSerialNumberBlock());
    EXPECT_EQ(file.GetSerialNumberOffset(), 0u);
    EXPECT_FALSE(file.ReplaceSerialNumber(0x1234));
}

TEST_F(BirdFileTest, StreamTooShortForItsCountLoadsEmpty) {
    // Deliberate: a stream too short for its count or checksum is never read past its end.
    BirdFile file(writeStream({0, 0}).c_str());
    EXPECT_EQ(file.GetBlockCount(), 0u);
    BirdFile noChecksum(writeStream({0, 0, 0, 1, 0x01, 0, 0, 0, 4, 0, 0, 0x10, 0}).c_str());
    EXPECT_EQ(noChecksum.GetBlockCount(), 1u);
    EXPECT_EQ(noChecksum.GetChecksum(), 0u);
}

TEST_F(BirdFileTest, VerifyFileChecksOnlyTheHeader) {
    EXPECT_TRUE(BirdFile::VerifyFile(writeRaw(std::string("bird\x01\x02", 6)).c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(writeRaw("bird\x01").c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(writeRaw(std::string("bird\x00\x01zz", 8)).c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(writeRaw(std::string("bird\x01\x00zz", 8)).c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(writeRaw("BIRD\x01\x01").c_str()));
    std::string missing = dir.file("none.bird");
    LogCapture log(DEBUG_BirdFile);
    EXPECT_FALSE(BirdFile::VerifyFile(missing.c_str()));
    EXPECT_EQ(log.text(), "BIRDFILE: Error - cannot open bird file: '" + missing + "'\n");
}

TEST_F(BirdFileTest, InformationFieldGetters) {
    BirdWriter writer;
    writer.AddInfo("1234", "1.2.3 beta", "0012ABCD", "ABCDEF");
    BirdFile file(write(writer).c_str());
    EXPECT_EQ(file.GetBuild(), 1234u);
    EXPECT_EQ(file.GetVersion(), "1.2.3");
    EXPECT_EQ(file.GetSerialNumber(), 0x0012ABCDu);
    EXPECT_TRUE(file.ValidateSerialNumber(0x0012ABCD));
    EXPECT_EQ(file.GetModel(), "ABCDEF");
    EXPECT_FALSE(file.ValidateModel("ABCDEFG"));
    EXPECT_TRUE(file.ValidateModel(""));
    LogCapture log(DEBUG_BirdFile);
    EXPECT_TRUE(file.ValidateModel("ABC"));
    EXPECT_EQ(log.text(), "Model matches model number ([ABCDEF] == [ABC])\n");

    BirdWriter blank;
    blank.AddInfo("", "", "", "");
    BirdFile blankFile(write(blank, "blank.bird").c_str());
    EXPECT_EQ(blankFile.GetSerialNumber(), 0u);
    EXPECT_EQ(blankFile.GetVersion(), "");

    BirdWriter none;
    none.AddImage(1, 0, 0, {1});
    BirdFile noInfo(write(none, "none.bird").c_str());
    EXPECT_EQ(noInfo.GetBuild(), 0u);
    EXPECT_FALSE(noInfo.ValidateModel(""));
}

class ReplaceSerialTest : public BirdFileTest {
  protected:
    BirdFile load(uint32_t word, uint32_t descriptor) {
        BirdWriter writer;
        writer.AddImage(0, 0, 0x1000, bytesOf(64, 0xFF));
        writer.AddImage(1, 0, 0x1000, bytesOf(64, 0xFF));
        writer.AddSerialOffsets(word, descriptor);
        return BirdFile(write(writer).c_str());
    }
};

TEST_F(ReplaceSerialTest, WritesTheWordLittleEndianAndTheDescriptorDigits) {
    BirdFile file = load(0x1010, 0x1020);
    LogCapture log(DEBUG_BirdFile);
    EXPECT_TRUE(file.ReplaceSerialNumber(0x12345678));
    EXPECT_EQ(log.text(), "BIRDFILE: updating serial number from FFFFFFFF ==> 12345678\n");
    std::vector<unsigned char> fw = image(file.FindBlocks(1)[0]);
    EXPECT_EQ(0, memcmp(&fw[0x10], "\x78\x56\x34\x12", 4));
    const char* digits = "12345678";
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(fw[0x20 + 2 * i], digits[i]);
        EXPECT_EQ(fw[0x21 + 2 * i], 0xFF);
    }
    EXPECT_EQ(fw[0x0F], 0xFF);
    EXPECT_EQ(fw[0x14], 0xFF);
    EXPECT_EQ(image(file.FindBlocks(0)[0]), bytesOf(64, 0xFF));
}

TEST_F(ReplaceSerialTest, NothingPatchedIsNotSuccess) {
    // Deliberate: the serial number counts as inserted only when it was written in an image.
    BirdFile zeros = load(0, 0);
    EXPECT_FALSE(zeros.ReplaceSerialNumber(0x12345678));
    EXPECT_EQ(image(zeros.FindBlocks(1)[0]), bytesOf(64, 0xFF));

    // The word straddling the image's end and a descriptor past it are left alone.
    BirdFile outside = load(0x103E, 0x1031);
    EXPECT_FALSE(outside.ReplaceSerialNumber(0x12345678));
    EXPECT_EQ(image(outside.FindBlocks(1)[0]), bytesOf(64, 0xFF));

    BirdFile edge = load(0x103C, 0x1030);
    EXPECT_TRUE(edge.ReplaceSerialNumber(0x01020304));
    EXPECT_EQ(image(edge.FindBlocks(1)[0])[63], 0x01);
    EXPECT_EQ(image(edge.FindBlocks(1)[0])[0x3E], '4');
}

TEST_F(BirdFileTest, DecodeRestartsTheKeyStreamPerBlockAndKeepsAddresses) {
    // With a plain image of zeros every cipher byte is the key byte itself.
    std::vector<unsigned char> cipher;
    for (int i = 0; i < 20; ++i) {
        cipher.push_back(static_cast<unsigned char>(0x11 * (i % 16 / 4 + 1) + i % 4));
    }
    BirdWriter writer;
    writer.AddImage(0, 0, 0x100, cipher);
    writer.AddImage(1, 0, 0x200, cipher);
    writer.AddImage(1, 0, 0x300, cipher);
    BirdFile file(write(writer).c_str());
    const unsigned key[4] = {0x11121314, 0x22232425, 0x33343536, 0x44454647};
    EXPECT_TRUE(file.DecodeFirmwareBlocks(key));
    auto blocks = file.GetBlocks();
    EXPECT_EQ(image(blocks[0]), cipher);
    EXPECT_EQ(image(blocks[1]), bytesOf(20, 0));
    EXPECT_EQ(image(blocks[2]), bytesOf(20, 0));
    EXPECT_EQ(0, memcmp(blocks[2].data, "\x00\x00\x03\x00", 4));
}

TEST_F(BirdFileTest, DecodeUndoesTheWritersScrambling) {
    const std::vector<unsigned char> plain = ramp(300, 7, 3);
    BirdWriter writer;
    writer.AddImage(1, 0, 0x400, plain);
    writer.Scramble(kChipKey);
    BirdFile file(write(writer).c_str());
    EXPECT_NE(image(file.GetBlocks()[0]), plain);
    file.DecodeFirmwareBlocks(kChipKey);
    EXPECT_EQ(image(file.GetBlocks()[0]), plain);
}

TEST_F(BirdFileTest, DecodeMatchesAKnownAnswerWithFeedbackAcrossTwoBlocks) {
    // The key words, most significant byte first, give the key stream
    //   01 02 03 04  A0 B0 C0 D0  55 AA 55 AA  0F 0E 0D 0C.
    // Each cipher byte was worked out by hand as plain ^ key[k] ^ previous plain:
    //   'Z' 5A ^ 01 ^ 00 = 5B,  'e' 65 ^ 02 ^ 5A = 3D,  'n' 6E ^ 03 ^ 65 = 08, ...
    //   byte 16 wraps the key: 'o' 6F ^ 01 ^ '!' 21 = 4F.
    // The second block starts over: 80 ^ 01 ^ 00 = 81, then 01 ^ 02 ^ 80 = 83.
    const std::vector<unsigned char> firstCipher = {0x5B, 0x3D, 0x08, 0x0E, 0xB6, 0xAB,
                                                    0xDF, 0xC7, 0x58, 0xE6, 0x13, 0xBB,
                                                    0x58, 0x1F, 0x0B, 0x1A, 0x4F, 0x06};
    const std::vector<unsigned char> secondCipher = {0x81, 0x83, 0xFC, 0x85};
    // Block count 2; each block: type 1, payload length, load address; then the checksum.
    std::vector<unsigned char> stream = {0, 0, 0, 2, 0x01, 0, 0, 0, 22, 0, 0, 0x10, 0};
    stream.insert(stream.end(), firstCipher.begin(), firstCipher.end());
    stream.insert(stream.end(), {0x01, 0, 0, 0, 8, 0, 0, 0x20, 0});
    stream.insert(stream.end(), secondCipher.begin(), secondCipher.end());
    stream.insert(stream.end(), {0, 0, 0, 0});
    BirdFile file(writeStream(stream).c_str());
    ASSERT_EQ(file.GetBlockCount(), 2u);
    const unsigned key[4] = {0x01020304, 0xA0B0C0D0, 0x55AA55AA, 0x0F0E0D0C};
    file.DecodeFirmwareBlocks(key);
    auto blocks = file.GetBlocks();
    const std::string first = "Zendrival fw 17!ok";
    EXPECT_EQ(image(blocks[0]), std::vector<unsigned char>(first.begin(), first.end()));
    EXPECT_EQ(image(blocks[1]), (std::vector<unsigned char>{0x80, 0x01, 0xFE, 0x7F}));
    EXPECT_EQ(0, memcmp(blocks[0].data, "\x00\x00\x10\x00", 4));
    EXPECT_EQ(0, memcmp(blocks[1].data, "\x00\x00\x20\x00", 4));
}

TEST_F(BirdFileTest, MovingKeepsTheBlocksValid) {
    BirdWriter writer;
    writer.AddImage(1, 0, 0x400, {1, 2, 3});
    BirdFile first(write(writer).c_str());
    const unsigned char* data = first.GetBlocks()[0].data;
    BirdFile second(std::move(first));
    BirdFile third;
    third = std::move(second);
    ASSERT_EQ(third.GetBlockCount(), 1u);
    EXPECT_EQ(third.GetBlocks()[0].data, data);
    EXPECT_EQ(image(third.GetBlocks()[0]), (std::vector<unsigned char>{1, 2, 3}));
}

}  // namespace
