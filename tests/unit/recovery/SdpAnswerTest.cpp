// Where each transport finds the ROM's answer value, and which answers it refuses.
#include <gtest/gtest.h>

#include <vector>

#include "HID_SDPLoader.h"
#include "Serial_SDPLoader.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Report 3 (id and security configuration) and report 4 (id and 64 bytes, value first).
Bytes hidAnswer(uint32_t value) {
    Bytes answer = {0x03, 0x56, 0x78, 0x78, 0x56, 0x04};
    for (int i = 0; i < 4; ++i) {
        answer.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    answer.resize(70, 0);
    return answer;
}

TEST(SdpHidAnswer, ValueFollowsBothReportIdsLittleEndian) {
    HID_SDPLoader hid(0x1FC9, 0x0130);
    uint32_t value = 0;
    ASSERT_TRUE(hid.getDataFromBuffer(hidAnswer(0x88888888), 0, value));
    EXPECT_EQ(value, 0x88888888u);
    value = 0;
    ASSERT_TRUE(hid.getDataFromBuffer(hidAnswer(0x12345678), 0, value));
    EXPECT_EQ(value, 0x12345678u);
}

TEST(SdpHidAnswer, OnlyTheFullTwoReportAnswerIsAccepted) {
    HID_SDPLoader hid(0x1FC9, 0x0130);
    uint32_t value = 0;
    Bytes answer = hidAnswer(0x88888888);
    answer.pop_back();
    EXPECT_FALSE(hid.getDataFromBuffer(answer, 0, value));
    answer.push_back(0);
    answer.push_back(0);
    EXPECT_FALSE(hid.getDataFromBuffer(answer, 0, value));
    EXPECT_FALSE(hid.getDataFromBuffer(Bytes(), 0, value));
    EXPECT_FALSE(hid.getDataFromBuffer(Bytes(5, 3), 0, value));
    EXPECT_EQ(value, 0u);
}

TEST(SdpHidAnswer, OffsetMovesTheValueAndStopsAfter15) {
    HID_SDPLoader hid(0x1FC9, 0x0130);
    Bytes answer(70, 0);
    for (size_t i = 0; i < answer.size(); ++i) {
        answer[i] = static_cast<uint8_t>(i);
    }
    uint32_t value = 0;
    ASSERT_TRUE(hid.getDataFromBuffer(answer, 15, value));
    EXPECT_EQ(value, 0x18171615u);
    EXPECT_FALSE(hid.getDataFromBuffer(answer, 16, value));
}

TEST(SdpHidAnswer, ValueIsOredIntoWhatTheCallerHolds) {
    HID_SDPLoader hid(0x1FC9, 0x0130);
    uint32_t value = 0x0000F000;
    ASSERT_TRUE(hid.getDataFromBuffer(hidAnswer(0x00000F0F), 0, value));
    EXPECT_EQ(value, 0x0000FF0Fu);
}

TEST(SdpSerialAnswer, ValueFollowsTheSecurityConfiguration) {
    Serial_SDPLoader serial("/dev/null");
    const Bytes answer = {0x56, 0x78, 0x78, 0x56, 0x12, 0x34, 0x56, 0x78};
    uint32_t value = 0;
    ASSERT_TRUE(serial.getDataFromBuffer(answer, 0, value));
    EXPECT_EQ(value, 0x78563412u);
}

TEST(SdpSerialAnswer, ShortAnswersAndLargeOffsetsAreRefused) {
    Serial_SDPLoader serial("/dev/null");
    uint32_t value = 0;
    EXPECT_FALSE(serial.getDataFromBuffer(Bytes(7, 0xAA), 0, value));
    EXPECT_FALSE(serial.getDataFromBuffer(Bytes(), 0, value));
    EXPECT_FALSE(serial.getDataFromBuffer(Bytes(11, 0xAA), 1, value));
    EXPECT_TRUE(serial.getDataFromBuffer(Bytes(12, 0x00), 1, value));
    EXPECT_TRUE(serial.getDataFromBuffer(Bytes(68, 0x00), 15, value));
    EXPECT_FALSE(serial.getDataFromBuffer(Bytes(200, 0xAA), 16, value));
    EXPECT_EQ(value, 0u);
}

TEST(SdpSerialAnswer, LongerAnswerStillReadsTheFirstValue) {
    Serial_SDPLoader serial("/dev/null");
    const Bytes answer = {0x12, 0x34, 0x34, 0x12, 0x88, 0x88, 0x88, 0x88, 0xFF, 0xFF};
    uint32_t value = 0;
    ASSERT_TRUE(serial.getDataFromBuffer(answer, 0, value));
    EXPECT_EQ(value, 0x88888888u);
}

}  // namespace
