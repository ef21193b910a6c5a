// The trace's notes on how a TCP/IP host's bytes arrived: for every read, its bytes and the TCP
// segments they came in, so that a test can tell packets written together from packets written
// one by one.
#include <gtest/gtest.h>

#include "BackgroundProgram.h"
#include "SimHarness.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kModule[] = "serial=0A0B0C0D,tcp,hb-ms=0";
const Bytes kEcho = {23, 0x11, 0x22};

// Runs the simulator with a trace, sends two echo requests in one write and waits for both
// answers; returns the trace.
std::string traceOfOneWriteOfTwoEchoes(const std::vector<std::string>& logOptions) {
    zvtest::TempDir dir;
    std::vector<std::string> args = logOptions;
    args.insert(args.end(), {"--duration", "60", "--module", kModule});
    zvtest::BackgroundProgram sim(zvtest::modulesimBinary(), args, dir.file("trace.log"));
    EXPECT_TRUE(sim.waitReady()) << "the module simulator did not start";
    simtest::PacketChannel link;
    EXPECT_TRUE(link.connectTcp(sim.startupValue("tcp 0A0B0C0D")));
    Bytes both = simtest::wire(2, kEcho);
    const Bytes second = simtest::wire(2, kEcho);
    both.insert(both.end(), second.begin(), second.end());
    link.send(both);
    for (int i = 0; i < 2; ++i) {
        simtest::WirePacket answer;
        EXPECT_TRUE(link.receive(answer)) << "answer " << i;
        EXPECT_EQ(answer.data, kEcho);
    }
    return zvtest::readFile(dir.file("trace.log"));
}

TEST(SegmentLogTest, OneWriteIsOneReadInOneSegmentBeforeItsPackets) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    const std::string trace = traceOfOneWriteOfTwoEchoes({"--log", "--log-segments"});
    // The note comes first; each request is answered before the next is taken.
    const std::string echo =
        "modulesim 0A0B0C0D < 02 03 17 11 22\n"
        "modulesim 0A0B0C0D > 02 03 17 11 22\n";
    EXPECT_NE(trace.find("modulesim 0A0B0C0D read 10 bytes in 1 segments\n" + echo + echo),
              std::string::npos)
        << trace;
}

TEST(SegmentLogTest, PlainTraceHasNoReadNotes) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    const std::string trace = traceOfOneWriteOfTwoEchoes({"--log"});
    EXPECT_NE(trace.find("modulesim 0A0B0C0D < 02 03 17 11 22\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find(" read "), std::string::npos) << trace;
}

}  // namespace
