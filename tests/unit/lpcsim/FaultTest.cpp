// The fault knobs, the command line and the --log trace.
#include <signal.h>

#include "LpcSimHarness.h"

namespace lpctest {
namespace {

using LpcFaults = LpcSimTest;

TEST_F(LpcFaults, SilentNeverAnswers) {
    ASSERT_TRUE(start({"--silent"}));
    line.send("?");
    line.send("Synchronized\r\n14746\r\nJ\r\n");
    EXPECT_EQ(line.drain(500), "");
}

TEST_F(LpcFaults, NoSyncAnswersGarbage) {
    ASSERT_TRUE(start({"--no-sync"}));
    for (int attempt = 0; attempt < 3; ++attempt) {
        line.send("?");
        std::string reply = line.drain();
        EXPECT_FALSE(reply.empty());
        EXPECT_EQ(reply.find("Synchronized"), std::string::npos);
    }
    line.send("Synchronized\r\n");
    EXPECT_EQ(line.drain(), "");
}

TEST_F(LpcFaults, StopAfterCountsCommandLines) {
    ASSERT_TRUE(start({"--stop-after", "2"}));
    synchronise();
    expectCode("U 23130", 0);
    // The LF of the second command is read after the ROM stopped answering: no echo.
    expectReply("P 0 0", "P 0 0\r0\r\n");
    line.send("J\r\n");
    EXPECT_EQ(line.drain(), "");
}

TEST_F(LpcFaults, SilentAfterCopiesCountsSuccessfulCopies) {
    ASSERT_TRUE(start({"--silent-after-copies", "2", "--log"}));
    synchronise();
    expectCode("U 23130", 0);
    expectCode("C 4096 268439552 256", 9);  // refused: not a copy
    expectCode("P 1 1", 0);
    expectCode("C 4096 268439552 256", 0);
    expectCode("P 1 1", 0);
    // The second copy is answered; its LF is read after the ROM fell silent: no echo.
    expectReply("C 4096 268439552 256", "C 4096 268439552 256\r0\r\n");
    line.send("J\r\n");
    EXPECT_EQ(line.drain(), "");
    sim->stop();
    EXPECT_NE(stderrText().find("stopping: copy limit reached"), std::string::npos);
}

TEST_F(LpcFaults, BusyCodeAnswersBusyOnce) {
    ASSERT_TRUE(start({"--busy-code", "P"}));
    synchronise();
    expectCode("J 1", 12);
    expectCode("P 0 0", 11);
    expectCode("P 0 0", 0);
    expectCode("P 0 0", 0);
}

TEST_F(LpcFaults, LogTracesCommandsAndReplies) {
    ASSERT_TRUE(start({"--log"}));
    synchronise();
    expectReply("J", "J\r0\r\n637615927\r\n\n");
    sim->stop();
    std::string trace = stderrText();
    EXPECT_NE(trace.find("< command [J]"), std::string::npos) << trace;
    EXPECT_NE(trace.find("> [0\\r\\n637615927\\r\\n]"), std::string::npos) << trace;
    EXPECT_NE(trace.find("< sync [Synchronized]"), std::string::npos) << trace;
}

TEST_F(LpcFaults, TermSignalEndsWithStatusZero) {
    ASSERT_TRUE(start());
    EXPECT_EQ(sim->stop(), 0);
}

TEST_F(LpcFaults, BaudLimitStillCarriesEveryByte) {
    ASSERT_TRUE(start({"--baud-limit"}));
    synchronise();
    Bytes data = patternBytes(1200, 12);
    writeRam(0x10001000, data);
    EXPECT_EQ(readMemory(0x10001000, 1200), data);
}

TEST(LpcCommandLine, ErrorsExitWithStatusTwoAndOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {"--frobnicate"},
        {"--duration"},
        {"--duration", "x"},
        {"--device-id", "1,2,3"},
        {"--device-id", "1,2,3,4,5"},
        {"--part-id", "-1"},
        {"--busy-code", "Q"},
        {"--stop-after", "many"},
        {"--unprogrammed-byte", "0x80000"},
        {"--silent-after-copies", "-2"},
        {"--flash-initial", "/nonexistent/x"},
    };
    for (const auto& args : bad) {
        zvtest::RunResult result = zvtest::runProgram(lpcsimBinary(), args);
        EXPECT_EQ(result.exitCode, 2) << args[0];
        EXPECT_EQ(zvtest::splitLines(result.err).size(), 1u) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(LpcCommandLine, HelpAndDuration) {
    zvtest::RunResult help = zvtest::runProgram(lpcsimBinary(), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: lpcsim"), std::string::npos);
    EXPECT_NE(help.out.find("--bad-checksum-at"), std::string::npos);
    zvtest::RunResult run = zvtest::runProgram(lpcsimBinary(), {"--duration", "0.2"});
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::string> lines = zvtest::splitLines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("pty /dev/pts/", 0), 0u);
    EXPECT_EQ(lines[1], "ready");
}

}  // namespace
}  // namespace lpctest
