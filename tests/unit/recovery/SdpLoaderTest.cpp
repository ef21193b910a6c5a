// The protocol logic of SDPLoader against a scripted ROM: command bytes, data reports, the probe
// and every result of writeLoader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Log.h"
#include "SDPLoader.h"
#include "SdpFakeRom.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes loaderOf(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

Bytes probeCommand() {
    Bytes command(17, 0);
    command[0] = 0x01;
    command[1] = 0x05;
    command[2] = 0x05;
    return command;
}

class SdpLoaderTest : public ::testing::Test {
  protected:
    // Runs one writeLoader against a ROM that follows script.
    int writeTo(const SdpFakeRomScript& script, const Bytes& bytes, unsigned address) {
        SDPLoader loader;
        EXPECT_TRUE(loader.setLoader(new SdpFakeRom(script, rom)));
        EXPECT_EQ(loader.init(), 0);
        return loader.writeLoader(bytes, address);
    }

    std::vector<Bytes> writesOfType(uint8_t reportId) const {
        std::vector<Bytes> found;
        for (const Bytes& write : rom.writes) {
            if (write.at(0) == reportId) {
                found.push_back(write);
            }
        }
        return found;
    }

    SdpFakeRom::Record rom;
};

TEST_F(SdpLoaderTest, SetLoaderTakesOneTransportAndDeletesItAtTheEnd) {
    SdpFakeRom::Record second;
    {
        SDPLoader loader;
        EXPECT_FALSE(loader.setLoader(nullptr));
        EXPECT_TRUE(loader.setLoader(new SdpFakeRom({}, rom)));
        SdpFakeRom extra({}, second);
        EXPECT_FALSE(loader.setLoader(&extra));
        EXPECT_FALSE(rom.destroyed);
    }
    EXPECT_TRUE(rom.destroyed);
}

TEST_F(SdpLoaderTest, InitReportsMissingFailingAndWorkingTransport) {
    SDPLoader none;
    EXPECT_EQ(none.init(), 1);

    SdpFakeRomScript failing;
    failing.initSucceeds = false;
    SDPLoader broken;
    broken.setLoader(new SdpFakeRom(failing, rom));
    EXPECT_EQ(broken.init(), 6);

    SDPLoader working;
    working.setLoader(new SdpFakeRom({}, rom));
    EXPECT_EQ(working.init(), 0);
    EXPECT_EQ(rom.initCalls, 2);
}

TEST_F(SdpLoaderTest, WriteFileCommandCarriesAddressFormatAndCountBigEndian) {
    ASSERT_EQ(writeTo({}, loaderOf(2500), 0x20000000), 0);
    std::vector<Bytes> commands = writesOfType(1);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], probeCommand());
    const Bytes writeFile = {0x01, 0x04, 0x04, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00,
                             0x00, 0x09, 0xC4, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(commands[1], writeFile);
}

TEST_F(SdpLoaderTest, FileDataTravelsInReportsOfAtMost1024Bytes) {
    const Bytes bytes = loaderOf(2500);
    ASSERT_EQ(writeTo({}, bytes, 0x20000000), 0);
    std::vector<Bytes> reports = writesOfType(2);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].size(), 1025u);
    EXPECT_EQ(reports[1].size(), 1025u);
    EXPECT_EQ(reports[2].size(), 453u);
    Bytes joined;
    for (const Bytes& report : reports) {
        joined.insert(joined.end(), report.begin() + 1, report.end());
    }
    EXPECT_EQ(joined, bytes);
    // Order on the wire: probe, write file, then the data.
    ASSERT_EQ(rom.writes.size(), 5u);
    EXPECT_EQ(rom.writes[1].at(1), 0x04);
    EXPECT_EQ(rom.writes[2].at(0), 2);
}

TEST_F(SdpLoaderTest, ExactMultipleOfTheReportSizeSendsNoEmptyReport) {
    ASSERT_EQ(writeTo({}, loaderOf(2048), 0x00907000), 0);
    std::vector<Bytes> reports = writesOfType(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].size(), 1025u);
    const Bytes address = {0x00, 0x90, 0x70, 0x00};
    EXPECT_EQ(Bytes(rom.writes[1].begin() + 3, rom.writes[1].begin() + 7), address);
}

TEST_F(SdpLoaderTest, DataPhaseListensWithoutWaitingAndCompletionWaits100Ms) {
    ASSERT_EQ(writeTo({}, loaderOf(2500), 0x20000000), 0);
    // One probe read, one look before each of the three reports, one completion read.
    const std::vector<unsigned> expected = {100, 0, 0, 0, 100};
    EXPECT_EQ(rom.readTimeouts, expected);
}

TEST_F(SdpLoaderTest, ProbeRetriesUntilTheRomAnswers) {
    SdpFakeRomScript script;
    script.silentProbes = 4;
    EXPECT_EQ(writeTo(script, loaderOf(100), 0x20000000), 0);
    std::vector<Bytes> commands = writesOfType(1);
    ASSERT_EQ(commands.size(), 6u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(commands[i], probeCommand()) << "probe " << i;
    }
}

TEST_F(SdpLoaderTest, SilentRomGetsFiveProbesAndNothingElse) {
    SdpFakeRomScript script;
    script.silentProbes = 5;
    EXPECT_EQ(writeTo(script, loaderOf(100), 0x20000000), 2);
    ASSERT_EQ(rom.writes.size(), 5u);
    for (const Bytes& write : rom.writes) {
        EXPECT_EQ(write, probeCommand());
    }
    EXPECT_EQ(rom.readTimeouts, std::vector<unsigned>(5, 100));
}

TEST_F(SdpLoaderTest, RomSpeakingDuringTheDataPhaseStopsTheTransferAtOnce) {
    SdpFakeRomScript script;
    script.complainAfterReports = 1;
    EXPECT_EQ(writeTo(script, loaderOf(5000), 0x20000000), 3);
    EXPECT_EQ(writesOfType(2).size(), 1u);
}

TEST_F(SdpLoaderTest, WrongOrMissingCompletionValueFails) {
    SdpFakeRomScript wrong;
    wrong.fileCompleteValue = 0x88888887;
    EXPECT_EQ(writeTo(wrong, loaderOf(1500), 0x20000000), 4);

    rom = SdpFakeRom::Record();
    SdpFakeRomScript silent;
    silent.answerFileComplete = false;
    EXPECT_EQ(writeTo(silent, loaderOf(1500), 0x20000000), 4);
    EXPECT_EQ(writesOfType(2).size(), 2u);
}

TEST_F(SdpLoaderTest, FailedDataWriteEndsTheDataPhase) {
    SdpFakeRomScript script;
    script.failingReport = 1;
    EXPECT_EQ(writeTo(script, loaderOf(5000), 0x20000000), 4);
    // The first report went through, the second failed, and no further one was tried.
    EXPECT_EQ(writesOfType(2).size(), 2u);
}

TEST_F(SdpLoaderTest, WithoutTransportNothingIsSent) {
    SDPLoader loader;
    EXPECT_EQ(loader.writeLoader(loaderOf(10), 0x20000000), 2);
    loader.startLoader(0x20000400);
}

TEST_F(SdpLoaderTest, StartLoaderSendsJumpAndReadsOnce) {
    SDPLoader loader;
    loader.setLoader(new SdpFakeRom({}, rom));
    loader.startLoader(0x20000400);
    const Bytes jump = {0x01, 0x0B, 0x0B, 0x20, 0x00, 0x04, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(rom.writes.size(), 1u);
    EXPECT_EQ(rom.writes[0], jump);
    EXPECT_EQ(rom.readTimeouts, std::vector<unsigned>{100});
}

class SdpLoaderLogTest : public SdpLoaderTest {
  protected:
    void SetUp() override {
        sink = tmpfile();
        ASSERT_NE(sink, nullptr);
        Log::SetOutput(sink);
    }
    void TearDown() override {
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(DEBUG_iMXSerial);
        fclose(sink);
    }
    FILE* sink = nullptr;
};

TEST_F(SdpLoaderLogTest, TraceDumpsCommandsAndAnswersUnderTheIMXBit) {
    Log::ActivatePackage(DEBUG_iMXSerial);
    ASSERT_EQ(writeTo({}, loaderOf(2500), 0x20000000), 0);
    std::string text = zvtest::readStream(sink);
    EXPECT_NE(text.find("1 5 5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \n"), std::string::npos) << text;
    EXPECT_NE(text.find("1 4 4 20 0 0 0 20 0 0 9 C4 0 0 0 0 0 \n"), std::string::npos) << text;
    EXPECT_NE(text.find("bytesWritten: 17\nRead Data: 8\n56 78 78 56 F0 F0 F0 F0 \n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Written Bytes: 2503\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Data Read: \n56 78 78 56 88 88 88 88 \nLoader Transfer Successful\n"),
              std::string::npos)
        << text;
}

TEST_F(SdpLoaderLogTest, FailuresAreTracedAndNothingIsWrittenWithTheBitOff) {
    SdpFakeRomScript silent;
    silent.silentProbes = 5;
    EXPECT_EQ(writeTo(silent, loaderOf(10), 0x20000000), 2);
    EXPECT_EQ(zvtest::readStream(sink), "");

    Log::ActivatePackage(DEBUG_iMXSerial);
    rom = SdpFakeRom::Record();
    EXPECT_EQ(writeTo(silent, loaderOf(10), 0x20000000), 2);
    EXPECT_NE(zvtest::readStream(sink).find("Error: No ack from iMX device\n"), std::string::npos);

    SdpFakeRomScript complaining;
    complaining.complainAfterReports = 1;
    rom = SdpFakeRom::Record();
    EXPECT_EQ(writeTo(complaining, loaderOf(3000), 0x20000000), 3);
    EXPECT_NE(zvtest::readStream(sink).find("Error while transfering loader. Aborting\n"),
              std::string::npos);
}

}  // namespace
