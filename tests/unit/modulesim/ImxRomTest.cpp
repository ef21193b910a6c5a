// The i.MX boot ROM of a simulated module, on its pseudo-terminal as a host's serial port sees
// it: Serial Download Protocol commands and answers byte for byte, what a write leaves in RAM,
// the hand-over to the loader, and the ROM's fault knobs.
#include <gtest/gtest.h>

#include "ImxHarness.h"

namespace {

using imxtest::answerBytes;
using imxtest::Bytes;
using imxtest::ImxSim;
using imxtest::sdpCommand;

const Bytes kNoError = answerBytes({0x56787856, 0xF0F0F0F0});
const Bytes kWriteDone = answerBytes({0x56787856, 0x88888888});
const Bytes kOpenMode = answerBytes({0x56787856});

class ImxRom : public ::testing::Test {
  protected:
    void startChip(const std::string& knobs = "") {
        std::string why;
        ASSERT_TRUE(sim.start("serial=0A0B0C0D,imx-rom,imx-ram=" + sim.file("ram") + knobs, &why))
            << why;
        ASSERT_TRUE(sim.openRom()) << sim.romPath();
    }

    ImxSim sim;
};

TEST_F(ImxRom, AnswersTheErrorStatusProbeWithOpenModeAndNoError) {
    startChip();
    Bytes probe = sdpCommand(imxtest::kErrorStatus);
    ASSERT_EQ(probe, (Bytes{0x05, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    sim.send(probe);
    EXPECT_EQ(sim.receive(8), (Bytes{0x56, 0x78, 0x78, 0x56, 0xF0, 0xF0, 0xF0, 0xF0}));
    sim.send(probe);
    EXPECT_EQ(sim.receive(8), kNoError) << "the probe can be repeated";
}

TEST_F(ImxRom, ConfirmsAWriteOnlyAfterItsLastByteAndKeepsWhatCame) {
    startChip();
    Bytes loader = imxtest::pattern(2500, 7);
    sim.send(sdpCommand(imxtest::kWriteFile, 0x20000000, 0x20, 2500));
    sim.send(Bytes(loader.begin(), loader.begin() + 1024));
    sim.send(Bytes(loader.begin() + 1024, loader.begin() + 2048));
    EXPECT_TRUE(sim.quietFor(200)) << "nothing is said during the data phase";
    sim.send(Bytes(loader.begin() + 2048, loader.end()));
    EXPECT_EQ(sim.receive(8), kWriteDone);
    EXPECT_TRUE(sim.awaitNote("imx-rom write of 2500 bytes at 20000000"));

    std::string expected =
        "WRITE 20000000 2500\n" + std::string(loader.begin(), loader.end()) + "\n";
    EXPECT_EQ(zvtest::readFile(sim.file("ram")), expected);
    sim.send(sdpCommand(imxtest::kErrorStatus));
    EXPECT_EQ(sim.receive(8), kNoError);
}

TEST_F(ImxRom, RecordsEveryWriteInOrderAndAcceptsAnEmptyOne) {
    startChip();
    Bytes first = imxtest::pattern(10, 1);
    Bytes second = imxtest::pattern(1024, 2);
    EXPECT_EQ(sim.writeFile(0x20000000, first), kWriteDone);
    EXPECT_EQ(sim.writeFile(0x00907000, second), kWriteDone);
    EXPECT_EQ(sim.writeFile(0x20010000, {}), kWriteDone);
    std::string expected = "WRITE 20000000 10\n" + std::string(first.begin(), first.end()) +
                           "\nWRITE 00907000 1024\n" + std::string(second.begin(), second.end()) +
                           "\nWRITE 20010000 0\n\n";
    EXPECT_EQ(zvtest::readFile(sim.file("ram")), expected);
}

TEST_F(ImxRom, JumpAnswersTheModeThenTheRomFallsSilentAndTheLoaderRuns) {
    startChip();
    EXPECT_EQ(sim.writeFile(0x20000000, imxtest::pattern(2048, 3)), kWriteDone);
    sim.send(sdpCommand(imxtest::kJumpAddress, 0x20000400));
    EXPECT_EQ(sim.receive(4), kOpenMode);
    EXPECT_TRUE(sim.quietFor(100)) << "the jump carries no status word";
    ASSERT_TRUE(sim.awaitNote("recovery loader runs as DEADDEAD"));
    EXPECT_EQ(sim.countNotes("imx-rom jumps to 20000400"), 1u);
    sim.send(sdpCommand(imxtest::kErrorStatus));
    EXPECT_TRUE(sim.quietFor(300)) << "the ROM no longer runs";
}

TEST_F(ImxRom, JumpWhereNothingWasWrittenHangsTheChip) {
    startChip();
    EXPECT_EQ(sim.writeFile(0x20000000, imxtest::pattern(1024, 4)), kWriteDone);
    sim.send(sdpCommand(imxtest::kJumpAddress, 0x20000400 + 1024));
    EXPECT_EQ(sim.receive(4), kOpenMode);
    ASSERT_TRUE(sim.awaitNote("imx-rom jumped where nothing was written; the chip hangs"));
    sim.send(sdpCommand(imxtest::kErrorStatus));
    EXPECT_TRUE(sim.quietFor(300));
    EXPECT_EQ(sim.countNotes("recovery loader runs as DEADDEAD"), 0u);
}

TEST_F(ImxRom, ForgetsAnUnfinishedCommandWhenTheLineGoesQuiet) {
    startChip();
    Bytes probe = sdpCommand(imxtest::kErrorStatus);
    sim.send(Bytes(probe.begin(), probe.begin() + 7));
    ASSERT_TRUE(sim.awaitNote("imx-rom forgets an unfinished command or write"));
    sim.send(probe);
    EXPECT_EQ(sim.receive(8), kNoError);
}

TEST_F(ImxRom, IgnoresCommandsItDoesNotKnow) {
    startChip();
    sim.send(sdpCommand(0x0101, 0x020E0000, 0x20, 4));  // a register read
    EXPECT_TRUE(sim.awaitNote("imx-rom ignores command 0101"));
    EXPECT_TRUE(sim.quietFor(200));
    sim.send(sdpCommand(imxtest::kErrorStatus));
    EXPECT_EQ(sim.receive(8), kNoError) << "still in step after the unknown command";
}

TEST_F(ImxRom, SilentRomAnswersNothing) {
    startChip(",imx-silent");
    sim.send(sdpCommand(imxtest::kErrorStatus));
    EXPECT_TRUE(sim.quietFor(500));
}

TEST_F(ImxRom, DataErrorAnswersBeforeTheDataAndStaysTheLastStatus) {
    startChip(",imx-data-error");
    sim.send(sdpCommand(imxtest::kWriteFile, 0x20000000, 0x20, 2048));
    EXPECT_EQ(sim.receive(8), answerBytes({0x56787856, 0x33333333}))
        << "the refusal comes before any data byte";
    sim.send(imxtest::pattern(2048, 5));
    EXPECT_TRUE(sim.quietFor(200)) << "refused data ends without a completion";
    sim.send(sdpCommand(imxtest::kErrorStatus));
    EXPECT_EQ(sim.receive(8), answerBytes({0x56787856, 0x33333333}));
    EXPECT_EQ(zvtest::readFile(sim.file("ram")), "");
}

TEST_F(ImxRom, BadCompleteConfirmsAWriteWithAnotherValue) {
    startChip(",imx-bad-complete");
    EXPECT_EQ(sim.writeFile(0x20000000, imxtest::pattern(100, 6)),
              answerBytes({0x56787856, 0x88888800}));
}

}  // namespace
