// How the HID transport collects the ROM's reports into one answer: report 3 always as its id and
// the 4 bytes of security configuration, every other report as received.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "HID_SDPLoader.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Report {
    unsigned char bytes[HID_SDPLoader::REPORT_SIZE] = {};
    explicit Report(uint8_t id) {
        for (size_t i = 0; i < sizeof bytes; ++i) {
            bytes[i] = static_cast<uint8_t>(0x40 + i);
        }
        bytes[0] = id;
    }
};

TEST(SdpHidReports, SecurityReportKeepsFiveBytesHoweverItArrives) {
    for (size_t got : {size_t(2), size_t(5), size_t(9), HID_SDPLoader::REPORT_SIZE}) {
        Report report(3);
        Bytes answer = {0xEE};
        EXPECT_EQ(HID_SDPLoader::appendReport(answer, report.bytes, got), 5u) << got;
        EXPECT_EQ(answer, (Bytes{0xEE, 0x03, 0x41, 0x42, 0x43, 0x44})) << got;
    }
}

TEST(SdpHidReports, OtherReportsKeepWhatWasReceived) {
    Report report(4);
    Bytes answer;
    EXPECT_EQ(HID_SDPLoader::appendReport(answer, report.bytes, 65), 65u);
    ASSERT_EQ(answer.size(), 65u);
    EXPECT_EQ(answer[0], 0x04);
    EXPECT_EQ(answer[64], 0x40 + 64);
    EXPECT_EQ(HID_SDPLoader::appendReport(answer, report.bytes, 3), 3u);
    EXPECT_EQ(answer.size(), 68u);
}

TEST(SdpHidReports, TwoReportsMakeTheAnswerTheValueIsReadFrom) {
    Report security(3);
    Report status(4);
    status.bytes[1] = 0x88;
    status.bytes[2] = 0x88;
    status.bytes[3] = 0x88;
    status.bytes[4] = 0x88;
    Bytes answer;
    HID_SDPLoader::appendReport(answer, security.bytes, HID_SDPLoader::REPORT_SIZE);
    HID_SDPLoader::appendReport(answer, status.bytes, HID_SDPLoader::REPORT_SIZE);
    HID_SDPLoader hid(0x1FC9, 0x0130);
    uint32_t value = 0;
    ASSERT_TRUE(hid.getDataFromBuffer(answer, 0, value));
    EXPECT_EQ(value, 0x88888888u);
}

TEST(SdpHidReports, NothingIsAddedWithoutBytesAndNeverMoreThanAReport) {
    Report report(4);
    Bytes answer;
    EXPECT_EQ(HID_SDPLoader::appendReport(answer, report.bytes, 0), 0u);
    EXPECT_EQ(HID_SDPLoader::appendReport(answer, nullptr, 10), 0u);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(HID_SDPLoader::appendReport(answer, report.bytes, 1000), HID_SDPLoader::REPORT_SIZE);
    EXPECT_EQ(answer.size(), HID_SDPLoader::REPORT_SIZE);
}

}  // namespace
