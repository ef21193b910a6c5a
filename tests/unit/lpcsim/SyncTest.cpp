// Autobaud and synchronisation, the echo of command lines and where the LF of "\r\n" is echoed.
#include "LpcSimHarness.h"

namespace lpctest {
namespace {

using LpcSync = LpcSimTest;

TEST_F(LpcSync, HandshakeBytesAreExact) {
    ASSERT_TRUE(start());
    synchronise();
    expectReply("J", "J\r0\r\n637615927\r\n\n");
}

TEST_F(LpcSync, QuestionMarkAfterSyncIsCommandText) {
    ASSERT_TRUE(start());
    synchronise();
    line.send("?");
    EXPECT_EQ(line.drain(), "?");  // echoed, nothing answered until the line ends
    line.send("\r\n");
    EXPECT_EQ(line.read(5), "\r1\r\n\n");
    // A host starting over sends the whole handshake again; it is all command text now.
    line.send("?");
    EXPECT_EQ(line.read(1), "?");
    expectReply("Synchronized", "Synchronized\r1\r\n\n");
    expectReply("14746", "14746\r1\r\n\n");
}

TEST_F(LpcSync, NoiseBeforeTheQuestionMarkIsIgnored) {
    ASSERT_TRUE(start());
    line.send("xyz\r\n");
    EXPECT_EQ(line.drain(), "");
    synchronise();
}

TEST_F(LpcSync, WrongSyncLineRestartsAutobaud) {
    ASSERT_TRUE(start());
    line.send("?");
    ASSERT_EQ(line.read(14), "Synchronized\r\n");
    line.send("Synchronised\r\n");
    EXPECT_EQ(line.drain(), "Synchronised\r");
    synchronise();
}

TEST_F(LpcSync, CrystalLineMustBeANumber) {
    ASSERT_TRUE(start());
    line.send("?");
    ASSERT_EQ(line.read(14), "Synchronized\r\n");
    expectReply("Synchronized", "Synchronized\rOK\r\n\n");
    line.send("fast\r\n");
    EXPECT_EQ(line.drain(), "fast\r");
    synchronise();
}

TEST_F(LpcSync, LfBeforeCodeKnobEchoesTheWholeTerminatorFirst) {
    ASSERT_TRUE(start({"--lf-before-code"}));
    line.send("?");
    ASSERT_EQ(line.read(14), "Synchronized\r\n");
    expectReply("Synchronized", "Synchronized\r\nOK\r\n");
    expectReply("14746", "14746\r\nOK\r\n");
    expectReply("N", "N\r\n0\r\n167886853\r\n1312434967\r\n1377296629\r\n4110417923\r\n");
    line.send("J\r");  // a CR alone still ends the line once no LF follows
    EXPECT_EQ(line.read(16), "J\r0\r\n637615927\r\n");
}

TEST_F(LpcSync, LoneCrOrLfEndsACommandLine) {
    ASSERT_TRUE(start());
    synchronise();
    line.send("J\r");
    EXPECT_EQ(line.read(16), "J\r0\r\n637615927\r\n");
    line.send("J\n");
    EXPECT_EQ(line.read(16), "J\n0\r\n637615927\r\n");
    EXPECT_EQ(line.drain(), "");
}

TEST_F(LpcSync, EchoCommandTurnsEchoOffAndOn) {
    ASSERT_TRUE(start());
    synchronise();
    // The command itself is still echoed; its LF arrives after echo went off.
    line.send("A 0\r\n");
    EXPECT_EQ(line.read(7), "A 0\r0\r\n");
    expectReply("J", "0\r\n637615927\r\n");
    expectReply("U 23130", "0\r\n");
    EXPECT_EQ(line.drain(), "");
    // Turning it on: no echo of the command, but its LF comes back.
    expectReply("A 1", "0\r\n\n");
    expectCode("U 23130", 0);
    expectCode("A 2", 12);
}

TEST_F(LpcSync, EchoOffOptionStartsWithoutEcho) {
    ASSERT_TRUE(start({"--echo-off"}));
    line.send("?");
    ASSERT_EQ(line.read(14), "Synchronized\r\n");
    expectReply("Synchronized", "OK\r\n");
    expectReply("14746", "OK\r\n");
    expectReply("K", "0\r\n4\r\n1\r\n");
    EXPECT_EQ(line.drain(), "");
}

TEST_F(LpcSync, HostMayCloseAndReopenTheLine) {
    ASSERT_TRUE(start());
    synchronise();
    std::string path = sim->startupValue("pty");
    line.close();
    ASSERT_TRUE(line.open(path));
    expectCode("U 23130", 0);
}

}  // namespace
}  // namespace lpctest
