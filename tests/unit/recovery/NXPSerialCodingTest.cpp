// The pure parts of the LPC ISP host: data-line coding, checksums, sectors, copy lengths, return
// codes, reply timing and the connect rate.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "NXPSerialClass.h"
#include "TestSupport.h"

namespace {

using zvtest::LogCapture;

std::string encode(const std::vector<uint8_t>& bytes, size_t* consumed = nullptr) {
    char line[80];
    memset(line, 'X', sizeof line);
    size_t used = NXPSerialClass::uuencode(line, bytes.data(), bytes.size());
    if (consumed != nullptr) {
        *consumed = used;
    }
    return line;
}

std::vector<int> codesOf(const std::string& text) {
    return std::vector<int>(text.begin(), text.end());
}

TEST(NXPSerialUuencode, ThreeBytesGiveFiveCharacters) {
    EXPECT_EQ(codesOf(encode({0x43, 0x61, 0x74})), (std::vector<int>{35, 48, 86, 37, 84}));
}

TEST(NXPSerialUuencode, ZeroBitsBecomeGraveAccents) {
    EXPECT_EQ(codesOf(encode({0x00})), (std::vector<int>{33, 96, 96, 96, 96}));
    EXPECT_EQ(NXPSerialClass::uuchar(0), '`');
    EXPECT_EQ(NXPSerialClass::uuchar(64), '`');
    EXPECT_EQ(NXPSerialClass::uuchar(1), '!');
    EXPECT_EQ(NXPSerialClass::uuchar(63), '_');
}

TEST(NXPSerialUuencode, ALineCarriesAtMost45Bytes) {
    std::vector<uint8_t> bytes(50, 0xA5);
    size_t consumed = 0;
    std::string line = encode(bytes, &consumed);
    EXPECT_EQ(consumed, 45u);
    EXPECT_EQ(line.size(), 61u);
    EXPECT_EQ(line[0], 'M');
}

TEST(NXPSerialUudecode, GivesEncodedBytesBack) {
    for (size_t n = 1; n <= 45; ++n) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<uint8_t>(i * 37 + n * 11);
        }
        std::string line = encode(bytes) + "\r\n";
        std::vector<uint8_t> decoded(n);
        ASSERT_EQ(NXPSerialClass::uudecode(decoded.data(), n, line.c_str()), n);
        EXPECT_EQ(decoded, bytes) << "length " << n;
    }
    uint8_t cat[3] = {0, 0, 0};
    EXPECT_EQ(NXPSerialClass::uudecode(cat, sizeof cat, "#0V%T"), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cat), 3), "Cat");
}

TEST(NXPSerialUudecode, NeverWritesPastTheGivenCapacity) {
    uint8_t buffer[16];
    memset(buffer, 0xEE, sizeof buffer);
    // The line claims 45 bytes; only 8 fit.
    std::string longLine = encode(std::vector<uint8_t>(45, 0x11));
    EXPECT_EQ(NXPSerialClass::uudecode(buffer, 8, longLine.c_str()), 0u);
    for (uint8_t b : buffer) {
        EXPECT_EQ(b, 0xEE);
    }
    // A short line that claims 8 bytes but carries one group: the rest is zero, nothing beyond 8.
    EXPECT_EQ(NXPSerialClass::uudecode(buffer, 8, "(0V%T\r\n"), 8u);
    EXPECT_EQ(buffer[0], 'C');
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(buffer[7], 0);
    EXPECT_EQ(buffer[8], 0xEE);
    // Blank lines carry nothing.
    EXPECT_EQ(NXPSerialClass::uudecode(buffer, 16, "\r\n"), 0u);
    EXPECT_EQ(NXPSerialClass::uudecode(buffer, 16, ""), 0u);
    EXPECT_EQ(buffer[8], 0xEE);
}

TEST(NXPSerialUudecode, ShortLineIsLogged) {
    LogCapture log(DEBUG_NXPSerial);
    uint8_t buffer[8];
    NXPSerialClass::uudecode(buffer, sizeof buffer, "(0V%T");
    EXPECT_NE(log.text().find("Error buffer overrun\n"), std::string::npos);
}

TEST(NXPSerialSum, IsThePlainSumOfTheBytes) {
    std::vector<uint8_t> bytes(1000, 0xFF);
    EXPECT_EQ(NXPSerialClass::sum(bytes.data(), bytes.size()), 255000u);
    const uint8_t few[] = {1, 2, 250};
    EXPECT_EQ(NXPSerialClass::sum(few, 3), 253u);
    EXPECT_EQ(NXPSerialClass::sum(few, 0), 0u);
}

TEST(NXPSerialCopyLength, RoundsUpToAnAcceptedSize) {
    EXPECT_EQ(NXPSerialClass::CopyLength(1), 256u);
    EXPECT_EQ(NXPSerialClass::CopyLength(256), 256u);
    EXPECT_EQ(NXPSerialClass::CopyLength(257), 512u);
    EXPECT_EQ(NXPSerialClass::CopyLength(300), 512u);
    EXPECT_EQ(NXPSerialClass::CopyLength(1024), 1024u);
    EXPECT_EQ(NXPSerialClass::CopyLength(1808), 4096u);
    EXPECT_EQ(NXPSerialClass::CopyLength(4096), 4096u);
}

TEST(NXPSerialCopyLength, TooLargeIsLoggedAndReturnedAsIs) {
    LogCapture log(DEBUG_NXPSerial);
    EXPECT_EQ(NXPSerialClass::CopyLength(5000), 5000u);
    EXPECT_EQ(log.text(), "Copy length is too large. 5000 > 4096.\n");
}

TEST(NXPSerialSectors, AddressesMapToTheLpc17xxLayout) {
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x0), 0u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x0FFF), 0u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x1000), 1u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0xFFFF), 15u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x10000), 16u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x17FFF), 16u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x18000), 17u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x7FFFF), 29u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0x80000), 30u);
    EXPECT_EQ(NXPSerialClass::SectorFromAddress(0xFFFFFFFF), 30u);
}

TEST(NXPSerialSectors, TableEndsWithTheNoSectorEntry) {
    EXPECT_EQ(NXP_LPC17XX_sectors[15].start, 0xF000u);
    EXPECT_EQ(NXP_LPC17XX_sectors[16].size, 0x8000u);
    EXPECT_EQ(NXP_LPC17XX_sectors[29].start + NXP_LPC17XX_sectors[29].size - 1, 0x7FFFFu);
    EXPECT_EQ(NXP_LPC17XX_sectors[30].start, 0xFFFFFFFFu);
    EXPECT_EQ(NXP_LPC17XX_sectors[30].number, 30u);
}

TEST(NXPSerialReturnCodes, TextFollowsTheNumberInAnyBase) {
    EXPECT_STREQ(NXPSerialClass::GetErrorText("0\r\n"), "CMD_SUCCESS");
    EXPECT_STREQ(NXPSerialClass::GetErrorText("7"), "INVALID_SECTOR");
    EXPECT_STREQ(NXPSerialClass::GetErrorText("0x13"), "CODE_READ_PROTECTION_ENABLED");
    EXPECT_STREQ(NXPSerialClass::GetErrorText("010"), "SECTOR_NOT_BLANK");
    EXPECT_STREQ(NXPSerialClass::GetErrorText("20"), "Unknown error");
    EXPECT_STREQ(NXPSerialClass::GetErrorText("25"), "Unknown error");
    EXPECT_STREQ(NXPSerialClass::GetErrorText("-1"), "Unknown error");
}

TEST(NXPSerialReturnCodes, IndexFindsTheWholeNumberAfterTheEcho) {
    // Deliberate: the code is the whole number after the echo, so "19" is read as 19, not 9.
    auto index = [](const std::string& line) {
        return NXPSerialClass::GetErrorIndex(line.c_str(), line.size());
    };
    EXPECT_EQ(index("0\r\n"), 0u);
    EXPECT_EQ(index("19\r\n"), 0u);
    EXPECT_EQ(index("U 23130\r0\r\n"), 8u);
    EXPECT_EQ(index("\r1\r\n"), 1u);
    EXPECT_EQ(index("\r\n"), 2u);
    EXPECT_EQ(index("OK\r\n"), 4u);
    EXPECT_EQ(index("A 0\r\n"), 5u);
}

TEST(NXPSerialTiming, ReplyWaitCountsNineBitsPerByteAndTwoBytesSlack) {
    static_assert(WAIT_TIME_MS(14, 9600) == 16, "14 bytes at 9600 baud");
    EXPECT_EQ(WAIT_TIME_MS(0, 115200), 1u);
    EXPECT_EQ(WAIT_TIME_MS(4, 2400), 23u);
    EXPECT_EQ(WAIT_TIME_MS(4, 0), 0u);
}

TEST(NXPSerialConnectRate, FirstTableRateAtOrAboveTheRequest) {
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(0), 0);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(2400), 0);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(2401), 1);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(10000), 3);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(115200), 6);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(230400), 7);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(230401), 2);
    EXPECT_EQ(NXPSerialClass::ConnectRateIndex(1000000), 2);
}

}  // namespace
