// An upgrade DATA piece fills a packet, and its last byte is firmware, which may have bit 7 set
// like the continuation flag of a UEI byte write. Through a shared link each piece is still
// answered to the process that sent it while another process queries the same module.
#include <gtest/gtest.h>

#include "SharedModule.h"
#include "autoGen_SystemClass_CPP.h"
#include "qUEI.h"

using namespace Pelmorax::Zendrival;
using sharetest::kModel;
using sharetest::kSerial;
using sharetest::SharedModule;
using sharetest::TracedPacket;

namespace {

constexpr uint8_t kCmdUpgrade = 95, kUpgradeData = 1;

// A DATA piece as it reached the module: 28 data bytes, the last one 0x80 or more.
bool isPieceEndingInBit7(const TracedPacket& packet) {
    return packet.direction == '<' && packet.bytes.size() == 30 && packet.bytes[2] == kCmdUpgrade &&
           packet.bytes[3] == kUpgradeData && packet.bytes.back() >= 0x80;
}

}  // namespace

TEST_F(SharedModule, UpgradePiecesAndQueriesOfTwoProcessesEachGetTheirOwnReplies) {
    // Deliberate: only UEI values continue by their last byte; each DATA piece gets its reply.
    auto client = connectClient();
    ASSERT_NE(client, nullptr);
    SystemClass system;
    system.init(client.get(), 0);

    constexpr int kPieces = 60;
    // This process asks for as long as the other one sends pieces.
    sharetest::ConcurrentRun run = sharetest::runPeerWhileReading(
        system, kSerial, kModel, {"pieces", "5A4E0017", "--count", std::to_string(kPieces)}, 1000);
    const zvtest::RunResult& peer = run.peer;

    EXPECT_EQ(peer.exitCode, 0) << peer.out << peer.err;
    EXPECT_NE(peer.out.find("pieces 60 ok 60\n"), std::string::npos) << peer.out;
    EXPECT_NE(peer.out.find("sum ok\n"), std::string::npos) << peer.out;
    EXPECT_EQ(run.wrongReads, 0) << "of " << run.reads << " reads";
    // Every piece reached the module ending in bit 7, and queries went in between them.
    std::vector<TracedPacket> packets = trace();
    int piecesSeen = 0, queriesBetween = 0;
    for (const TracedPacket& packet : packets) {
        if (isPieceEndingInBit7(packet)) {
            ++piecesSeen;
        } else if (piecesSeen > 0 && piecesSeen < kPieces && packet.direction == '<' &&
                   packet.bytes.size() > 2 && packet.bytes[2] == qCMD_SYSTEM) {
            ++queriesBetween;
        }
    }
    EXPECT_EQ(piecesSeen, kPieces);
    EXPECT_GT(queriesBetween, 0);
    EXPECT_EQ(client->disconnect(), qErrNone);
}
