// W and R data phases: uuencoded lines, checksums every 20 lines and at the end, RESEND.
#include "LpcSimHarness.h"

namespace lpctest {
namespace {

constexpr uint32_t kStaging = 0x10001000;

using LpcTransfer = LpcSimTest;

TEST_F(LpcTransfer, WriteOf1000BytesChecksAfterLines20And23) {
    ASSERT_TRUE(start());
    synchronise();
    Bytes data = patternBytes(1000, 7);
    expectCode("W 268439552 1000", 0);
    for (size_t lineNo = 0; lineNo < 23; ++lineNo) {
        size_t at = lineNo * 45;
        std::string text = uuLine(data.data() + at, std::min<size_t>(45, 1000 - at));
        EXPECT_EQ(text.size(), lineNo < 22 ? 61u : 17u);
        expectReply(text, text + "\r\n");
        if (lineNo == 19) {
            std::string sum = std::to_string(sumOf(data, 0, 900));
            expectReply(sum, sum + "\rOK\r\n\n");
        }
    }
    std::string sum = std::to_string(sumOf(data, 900, 1000));
    expectReply(sum, sum + "\rOK\r\n\n");
    EXPECT_EQ(readMemory(kStaging, 1000), data);
}

TEST_F(LpcTransfer, WrongChecksumIsAnsweredWithResendAndTheBlockIsDropped) {
    ASSERT_TRUE(start());
    synchronise();
    Bytes old(2000, 0x55);
    writeRam(kStaging, old);
    Bytes data = patternBytes(2000, 8);
    writeRam(kStaging, data, 2);
    EXPECT_EQ(readMemory(kStaging, 2000), data);
}

TEST_F(LpcTransfer, BadChecksumAtKnobResendsOnce) {
    ASSERT_TRUE(start({"--bad-checksum-at", "2"}));
    synchronise();
    Bytes data = patternBytes(1800, 9);
    expectCode("W 268439552 1800", 0);
    std::vector<std::string> answers;
    size_t acknowledged = 0;
    while (acknowledged < data.size() && answers.size() < 5) {
        size_t at = acknowledged;
        for (int lines = 0; lines < 20; ++lines, at += 45) {
            std::string text = uuLine(data.data() + at, 45);
            expectReply(text, text + "\r\n");
        }
        std::string sum = std::to_string(sumOf(data, acknowledged, at));
        line.send(sum + "\r\n");
        std::string answer = line.read(sum.size() + 1 + 4).substr(sum.size() + 1);
        if (answer == "OK\r\n") {
            acknowledged = at;
        } else {
            answer += line.read(4);  // the rest of "RESEND\r\n"
        }
        answers.push_back(answer);
        EXPECT_EQ(line.read(1), "\n");
    }
    EXPECT_EQ(answers, (std::vector<std::string>{"OK\r\n", "RESEND\r\n", "OK\r\n"}));
    EXPECT_EQ(readMemory(kStaging, 1800), data);
}

TEST_F(LpcTransfer, BadChecksumAlwaysKnobNeverAccepts) {
    ASSERT_TRUE(start({"--bad-checksum-always"}));
    synchronise();
    expectCode("W 268439552 8", 0);
    Bytes data = patternBytes(8, 10);
    std::string text = uuLine(data.data(), 8);
    std::string sum = std::to_string(sumOf(data, 0, 8));
    for (int attempt = 0; attempt < 3; ++attempt) {
        expectReply(text, text + "\r\n");
        expectReply(sum, sum + "\rRESEND\r\n\n");
    }
}

TEST_F(LpcTransfer, WriteRefusals) {
    ASSERT_TRUE(start());
    synchronise();
    expectCode("W 268435456 4", 14);  // 0x10000000: the ISP handler's work area
    expectCode("W 268435964 8", 14);  // starts in its last word
    expectCode("W 268436992 4", 0);   // 0x10000400 is free
    expectReply("$````````", "$````````\r\n");
    expectReply("0", "0\rOK\r\n\n");
    expectCode("W 268439554 4", 13);
    expectCode("W 268439552 6", 6);
    expectCode("W 268439552 0", 6);
    expectCode("W 268468220 8", 14);  // past the top of the local RAM
    expectCode("W 0 4", 14);          // flash is not written this way
    expectCode("W 537378816 4", 0);   // the AHB RAM at 0x2007C000
}

TEST_F(LpcTransfer, ReadRefusalsAndResend) {
    ASSERT_TRUE(start());
    synchronise();
    expectCode("R 2 4", 13);
    expectCode("R 0 5", 6);
    expectCode("R 524288 4", 14);
    Bytes data = patternBytes(1000, 11);
    writeRam(kStaging, data);
    std::string command = "R 268439552 1000";
    line.send(command + "\r\n");
    ASSERT_EQ(line.read(command.size() + 4), command + "\r0\r\n");
    std::string firstBlock = line.read(20 * 63);
    std::string sumLine = std::to_string(sumOf(data, 0, 900)) + "\r\n\n";
    EXPECT_EQ(line.read(sumLine.size()), sumLine);
    line.send("RESEND\r\n");
    EXPECT_EQ(line.read(7), "RESEND\r");
    EXPECT_EQ(line.read(firstBlock.size()), firstBlock);
    sumLine = std::to_string(sumOf(data, 0, 900)) + "\r\n\n";
    EXPECT_EQ(line.read(sumLine.size()), sumLine);
    line.send("OK\r\n");
    EXPECT_EQ(line.read(3), "OK\r");
    std::string rest = line.read(2 * 63 + 19);
    EXPECT_EQ(uuDecode(rest.substr(0, 61)), Bytes(data.begin() + 900, data.begin() + 945));
    sumLine = std::to_string(sumOf(data, 900, 1000)) + "\r\n\n";
    EXPECT_EQ(line.read(sumLine.size()), sumLine);
    line.send("OK\r\n");
    EXPECT_EQ(line.read(4), "OK\r\n");
    expectCode("U 23130", 0);
}

}  // namespace
}  // namespace lpctest
