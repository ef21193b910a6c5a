// Identification answers, unlocking, the baud-rate command and malformed command lines.
#include "LpcSimHarness.h"

namespace lpctest {
namespace {

using LpcCommands = LpcSimTest;

TEST_F(LpcCommands, IdentificationDefaults) {
    ASSERT_TRUE(start());
    synchronise();
    expectReply("J", "J\r0\r\n637615927\r\n\n");
    expectReply("K", "K\r0\r\n4\r\n1\r\n\n");
    expectReply("N", "N\r0\r\n167886853\r\n1312434967\r\n1377296629\r\n4110417923\r\n\n");
}

TEST_F(LpcCommands, IdentificationFromOptions) {
    ASSERT_TRUE(start({"--device-id", "1,0x10,300,4294967295", "--part-id", "0x26113F37",
                       "--boot-version", "8.2"}));
    synchronise();
    expectReply("N", "N\r0\r\n1\r\n16\r\n300\r\n4294967295\r\n\n");
    expectReply("J", "J\r0\r\n638664503\r\n\n");
    expectReply("K", "K\r0\r\n8\r\n2\r\n\n");
}

TEST_F(LpcCommands, UnlockNeedsTheRightCode) {
    ASSERT_TRUE(start());
    synchronise();
    expectCode("U 1234", 16);
    expectCode("U", 12);
    expectCode("U 23130 1", 12);
    expectCode("U 0x5A5A", 12);
    expectCode("U 23130", 0);
}

TEST_F(LpcCommands, BaudRateCommandChecksRateAndStopBits) {
    ASSERT_TRUE(start());
    synchronise();
    expectCode("B 115200 1", 0);
    expectCode("B 9600 2", 0);
    expectCode("B 1000 1", 17);
    expectCode("B 9600 3", 18);
    expectCode("B 9600", 12);
    // The line still works: the rate belongs to the host's side of a pseudo-terminal.
    expectCode("U 23130", 0);
}

TEST_F(LpcCommands, UnknownAndMalformedLines) {
    ASSERT_TRUE(start());
    synchronise();
    expectCode("X", 1);
    expectCode("j", 1);
    expectCode("JJ", 1);
    expectCode("J 5", 12);
    expectCode("P 0", 12);
    expectCode("P a b", 12);
    expectCode("P -1 3", 12);
    expectCode("P 0 99999999999", 12);
}

TEST_F(LpcCommands, OverlongLineIsInvalid) {
    ASSERT_TRUE(start());
    synchronise();
    std::string longLine(300, 'P');
    line.send(longLine + "\r\n");
    EXPECT_EQ(line.read(longLine.size() + 5), longLine + "\r1\r\n\n");
}

TEST_F(LpcCommands, FlashCommandsAreLockedUntilUnlock) {
    ASSERT_TRUE(start());
    synchronise();
    expectCode("P 0 0", 0);
    expectCode("E 0 0", 15);
    expectCode("C 0 268439552 256", 15);
    expectCode("G 0 T", 15);
    // Writing RAM, reading and preparing are not locked.
    expectCode("W 268439552 4", 0);
    Bytes word = {1, 2, 3, 4};
    std::string text = uuLine(word.data(), word.size());
    EXPECT_EQ(text, "$`0(#!```");
    expectReply(text, text + "\r\n");
    expectReply("10", "10\rOK\r\n\n");
    expectCode("U 23130", 0);
    expectCode("E 0 0", 0);
}

}  // namespace
}  // namespace lpctest
