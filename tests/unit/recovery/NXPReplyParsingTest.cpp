// How the LPC ISP host reads the numbers in the bootloader's reply lines: the return code after
// any echo, and the device ID words.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "NXPSerialClass.h"

namespace {

int codeOf(const std::string& line) {
    return NXPSerialClass::ReturnCodeOf(line.c_str(), line.size());
}

TEST(NXPSerialReturnCode, IsTheNumberEndingTheLine) {
    // Deliberate: the return code is the whole number ending the line, so 10 to 19 are failures.
    EXPECT_EQ(codeOf("0\r\n"), 0);
    EXPECT_EQ(codeOf("19\r\n"), 19);
    EXPECT_EQ(codeOf("7"), 7);
    EXPECT_EQ(codeOf("U 23130\r0\r\n"), 0);
    EXPECT_EQ(codeOf("A 1\r\n15\r\n"), 15);
}

TEST(NXPSerialReturnCode, LinesWithoutAStandaloneNumberHaveNone) {
    EXPECT_EQ(codeOf(""), NXPSerialClass::NO_RETURN_CODE);
    EXPECT_EQ(codeOf("\r\n"), NXPSerialClass::NO_RETURN_CODE);
    EXPECT_EQ(codeOf("OK\r\n"), NXPSerialClass::NO_RETURN_CODE);
    EXPECT_EQ(codeOf("x12\r\n"), NXPSerialClass::NO_RETURN_CODE);
    EXPECT_EQ(codeOf("A 0\r\n"), NXPSerialClass::NO_RETURN_CODE);
    EXPECT_EQ(NXPSerialClass::ReturnCodeOf(nullptr, 4), NXPSerialClass::NO_RETURN_CODE);
}

TEST(NXPSerialReturnCode, CodesBeyondTheTableCountAsUnknown) {
    EXPECT_EQ(codeOf("20\r\n"), NXPSerialClass::MAX_ERROR);
    EXPECT_EQ(codeOf("25\r\n"), NXPSerialClass::MAX_ERROR);
    EXPECT_EQ(codeOf("99999999999999999999999999\r\n"), NXPSerialClass::MAX_ERROR);
}

// A line cut at the end of the read buffer has no terminator there: only its given length may be
// read (an over-read shows under AddressSanitizer, a wrong value everywhere).
TEST(NXPSerialReturnCode, ReadsOnlyTheGivenLength) {
    const char digits[] = "1234";
    std::unique_ptr<char[]> line(new char[2]);
    memcpy(line.get(), digits, 2);
    EXPECT_EQ(NXPSerialClass::ReturnCodeOf(line.get(), 2), 12);
    EXPECT_EQ(NXPSerialClass::ReturnCodeOf(digits, 1), 1);
}

TEST(NXPSerialDeviceID, WordsAreUnsignedInTheBaseTheirPrefixGives) {
    EXPECT_EQ(NXPSerialClass::DeviceIDWordOf("123456\r\n"), 123456u);
    EXPECT_EQ(NXPSerialClass::DeviceIDWordOf("0x1A2B3C4D\r\n"), 0x1A2B3C4Du);
    EXPECT_EQ(NXPSerialClass::DeviceIDWordOf("0777\r\n"), 0777u);
    EXPECT_EQ(NXPSerialClass::DeviceIDWordOf("4294967295\r\n"), 0xFFFFFFFFu);
    EXPECT_EQ(NXPSerialClass::DeviceIDWordOf("\r\n"), 0u);
    EXPECT_EQ(NXPSerialClass::DeviceIDWordOf(nullptr), 0u);
}

}  // namespace
