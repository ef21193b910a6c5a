// The host side of the upgrade command against the simulated module's loader: what goes on the
// wire for loader and firmware blocks, the sums, the resends, and every way the module can fail.
#include <gtest/gtest.h>

#include <sstream>

#include "../../component/SimulatedModule.h"
#include "Log.h"
#include "UpdaterEntity.h"
#include "UpgradeFixture.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"

using namespace upgradetest;

namespace {

constexpr uint8_t SUB_DATA = 1, SUB_SUM = 4, SUB_WRITE = 5;
// A piece sent as one byte-sequence value: a set of the loader's option 10.
constexpr uint8_t SUB_UEI_DATA = 0x80 | 10;

std::vector<int> dataLengths(const std::vector<SentPacket>& packets) {
    std::vector<int> lengths;
    for (const SentPacket& packet : packets) {
        if (packet.sub == SUB_DATA) {
            lengths.push_back(packet.dataLength - 1);
        }
    }
    return lengths;
}

size_t countSub(const std::vector<SentPacket>& packets, int sub) {
    size_t count = 0;
    for (const SentPacket& packet : packets) {
        count += packet.sub == sub ? 1 : 0;
    }
    return count;
}

// How the host's packets reached the module, from its trace: the packets it received and the TCP
// segments they came in. One write of the host never spans more than one segment here (writes
// are far below the loopback segment size), though the kernel may join several writes into one.
struct Arrival {
    size_t packets = 0;
    size_t segments = 0;
};

Arrival arrivalIn(const std::string& trace) {
    Arrival arrival;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string program, serial, word;
        size_t bytes = 0, segments = 0;
        words >> program >> serial >> word;
        if (word == "<") {
            ++arrival.packets;
        } else if (word == "read" && (words >> bytes >> word >> word >> segments)) {
            arrival.segments += segments;
        }
    }
    return arrival;
}

class LoaderExchange : public UpgradeTest {
  protected:
    void begin(const std::string& keys = "") {
        startModule(keys);
        loader.init(&module, 0, true, false);
    }
    // As begin, with the module tracing every packet and the TCP segments they came in.
    void beginTraced(const std::string& keys) {
        sim = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::modulesimBinary(),
            std::vector<std::string>{"--duration", "120", "--log", "--log-segments", "--module",
                                     moduleDescription(keys)},
            dir.file("module.log"));
        ASSERT_TRUE(sim->waitReady()) << "the module simulator did not start";
        componenttest::useDirectLink(module);
        ASSERT_EQ(module.connectFromSpec(componenttest::tcpSpec(*sim, kSerial)), qErrNone);
        loader.init(&module, 0, true, false);
    }
    Arrival arrival() { return arrivalIn(zvtest::readFile(dir.file("module.log"))); }
    // Writes a firmware block as the update does and reboots into it; returns the upgrade
    // packets that took (once the log holds at least minimum). The flash must hold its image.
    std::vector<SentPacket> writeFirmware(const std::vector<uint8_t>& image, size_t minimum) {
        watch();
        uint16_t size = 0;
        EXPECT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
        EXPECT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display), qErrNone);
        std::vector<SentPacket> sent = sentUpgradePackets(minimum);
        EXPECT_EQ(loader.LoaderReboot(display), qErrNone);
        EXPECT_EQ(flashImage(), std::string(image.begin() + 4, image.end()));
        return sent;
    }
    // Whether the link's writer batches the queued packets into one write.
    bool linkPools() {
        const qLinkEntryRef entry = sLookupEntryByID(module.getLink()->getEngineLinkId());
        return entry != nullptr && entry->link != nullptr && entry->link->pooled.load() != 0;
    }
    // INIT, one loader block and LOAD, so that firmware may be written.
    void startLoader() {
        ASSERT_EQ(loader.LoaderInit(), qErrNone);
        std::vector<uint8_t> code = block(0x10000000, 60);
        uint16_t size = 0;
        ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrNone);
        ASSERT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrNone);
        ASSERT_EQ(loader.LoaderStart(), qErrNone);
    }

    UpdaterEntity loader;
};

}  // namespace

TEST_F(LoaderExchange, LoaderBlockGoesAsPiecesOf26WithOneSum) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin();
    watch();
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 56);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 5, size), qErrNone);
    EXPECT_EQ(size, 1024);
    ASSERT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrNone);

    std::vector<SentPacket> sent = sentUpgradePackets(6);
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0].sub, 0);  // INIT
    // PREPARE carries the flags and the load address, most significant byte first.
    EXPECT_EQ(sent[1].data, (std::vector<int>{3, 5, 0x10, 0, 0, 0}));
    EXPECT_EQ(dataLengths(sent), (std::vector<int>{26, 26, 4}));
    EXPECT_EQ(sent[5].sub, SUB_SUM);
    EXPECT_EQ(countSub(sent, SUB_WRITE), 0u);  // loader code is not written to flash
    // The first piece carries the bytes after the address, in order.
    EXPECT_EQ(sent[2].data[1], code[4]);
    EXPECT_EQ(sent[2].data[26], code[29]);
}

TEST_F(LoaderExchange, FirmwareBlockIsCutIntoPiecesEachSummedAndWritten) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin();
    startLoader();
    watch();
    std::vector<uint8_t> image = block(0x00004000, 2000, 9);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    ASSERT_EQ(size, 1024);
    ASSERT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display), qErrNone);

    std::vector<SentPacket> sent = sentUpgradePackets(1 + 78 + 2 + 2);
    EXPECT_EQ(countSub(sent, SUB_DATA), 40u + 38u);  // 1024 = 39*26+10, 976 = 37*26+14
    ASSERT_EQ(countSub(sent, SUB_WRITE), 2u);
    EXPECT_EQ(countSub(sent, SUB_SUM), 2u);
    std::vector<std::vector<int>> writes;
    for (const SentPacket& packet : sent) {
        if (packet.sub == SUB_WRITE) {
            writes.push_back(packet.data);
        }
    }
    EXPECT_EQ(writes[0], (std::vector<int>{5, 1024 >> 8, 1024 & 0xFF}));
    EXPECT_EQ(writes[1], (std::vector<int>{5, 976 >> 8, 976 & 0xFF}));
    // Progress was shown once per piece and ended.
    EXPECT_EQ(display.progressStarts, 1);
    EXPECT_EQ(display.progressEnds, 1);
    ASSERT_EQ(display.fractions.size(), 2u);
    EXPECT_DOUBLE_EQ(display.fractions[1], 1.0);

    // REBOOT commits the flash; the module drops its link and the wait ends with it.
    ASSERT_EQ(loader.LoaderReboot(display), qErrNone);
    EXPECT_FALSE(module.isConnected());
    EXPECT_GE(display.spins, 1);
    EXPECT_EQ(display.spinStops, 1);
    EXPECT_EQ(flashImage(), std::string(image.begin() + 4, image.end()));
}

TEST_F(LoaderExchange, WrongSumFailsTheTransferAndIsLoggedWhateverTheMask) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("bad-sum=2");  // the loader block's SUM is the first
    startLoader();
    watch();
    Log::DeactivatePackage(0xFFFFFFFFu);
    std::vector<uint8_t> image = block(0x4000, 100);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    EXPECT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display),
              qErrInvalidOption);
    std::string log = diagnosticLog();
    EXPECT_NE(log.find("NETWORK: Unable to validate transfer [00]"), std::string::npos) << log;
    EXPECT_NE(log.find("NETWORK: Failed to transfer firmware"), std::string::npos);
    // A fresh PREPARE restarts the block and the next sum is right.
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    EXPECT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display), qErrNone);
}

TEST_F(LoaderExchange, RefusedPieceIsSentAgainButNotForever) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("short-count=2");
    watch();
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 52);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrNone);
    ASSERT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrNone);
    // The second piece was refused once and sent again, and the sum still agrees.
    EXPECT_EQ(dataLengths(sentUpgradePackets(6)), (std::vector<int>{26, 26, 26}));
}

TEST_F(LoaderExchange, ModuleThatAlwaysRefusesEndsTheTransfer) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("always-short");
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 30);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrNone);
    watch();
    EXPECT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrInvalidOption);
    EXPECT_EQ(dataLengths(sentUpgradePackets(UpdaterEntity::MAX_DATA_RESENDS + 1)).size(),
              UpdaterEntity::MAX_DATA_RESENDS + 1);
}

TEST_F(LoaderExchange, PrepareStatusAndBlockSizeZeroAreRefused) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("prepare-status=1");
    std::vector<uint8_t> image = block(0x4000, 40);
    uint16_t size = 77;
    EXPECT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrInvalidOption);
    EXPECT_EQ(size, 77);  // no block size from a refusal
    // A block needs its load address.
    EXPECT_EQ(loader.TransferPrepare(image.data(), 3, 0, size), qErrParam);
}

TEST_F(LoaderExchange, LoaderBlockNeedsNoBlockSizeButFirmwareDoes) {
    // Deliberate: a loader block uses no block size, so its PREPARE reply may lack one.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("short-loader-prepare");  // PREPARE before LOAD answers 95, 7, 0 only
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 60);
    EXPECT_EQ(loader.LoaderPrepare(code.data(), code.size(), 0), qErrNone);
    uint16_t size = 77;
    EXPECT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrInvalidOption);
    EXPECT_EQ(size, 77);
    ASSERT_EQ(loader.LoaderPrepare(code.data(), code.size(), 0), qErrNone);
    ASSERT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrNone);
}

TEST_F(LoaderExchange, RefusedLoaderPrepareIsStillRefused) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("prepare-status=1");
    std::vector<uint8_t> code = block(0x10000000, 60);
    EXPECT_EQ(loader.LoaderPrepare(code.data(), code.size(), 0), qErrInvalidOption);
}

TEST_F(LoaderExchange, InitWithoutTheWholeBaseAddressIsAPacketError) {
    // Deliberate: INIT needs all 7 bytes; a base address missing its last byte is refused.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("short-init");  // 6 data bytes: the address lacks its last byte
    EXPECT_EQ(loader.LoaderInit(), qErrPacket);
}

TEST_F(LoaderExchange, BlockSizeZeroIsNotAnEndlessTransfer) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("block-size=0");
    startLoader();
    std::vector<uint8_t> image = block(0x4000, 40);
    uint16_t size = 77;
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display),
              qErrInvalidOption);
}

TEST_F(LoaderExchange, MissingRepliesAreTimeoutsAndPacketErrors) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("drop-reply=2");  // INIT answered, PREPARE not
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 30);
    uint16_t size = 0;
    EXPECT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrTimeout);
    // Only that one reply was lost: the exchange goes on.
    ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrNone);
    ASSERT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrNone);
}

TEST_F(LoaderExchange, SilentLoaderTimesOut) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("silent-loader");
    EXPECT_EQ(loader.LoaderInit(), qErrTimeout);
}

TEST_F(LoaderExchange, DroppedDataReplyIsAPacketError) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("drop-reply=4");  // INIT, PREPARE, first DATA answered; the second DATA not
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 60);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrNone);
    EXPECT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrPacket);
}

TEST_F(LoaderExchange, LinkThatDropsAtLoadIsReconnected) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("drop-at-load");
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    watch();
    // The loader never answers LOAD; after the reconnect that is a time-out the caller accepts.
    EXPECT_EQ(loader.LoaderStart(), qErrTimeout);
    EXPECT_TRUE(module.isConnected());
    std::string log = diagnosticLog();
    EXPECT_NE(log.find("NETWORK: Attempting to reconnect. Attempt: 1 of 5"), std::string::npos);
    EXPECT_NE(log.find("NETWORK: Reconnected to device"), std::string::npos);
    EXPECT_NE(log.find("(Reconnect)"), std::string::npos) << log;
    // The loader runs: firmware can be written.
    std::vector<uint8_t> image = block(0x4000, 40);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    EXPECT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display), qErrNone);
}

TEST_F(LoaderExchange, UEIDataCarriesAWholePieceAndPoolingFollowsTheFeatureBit) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    beginTraced("features=0x80000000");
    startLoader();
    EXPECT_EQ(loader.CheckUEIDataSupport(), qErrNone);
    EXPECT_TRUE(loader.usesUEIData());
    EXPECT_FALSE(linkPools());
    EXPECT_EQ(loader.CheckPooledPacketsSupport(), qErrNone);
    EXPECT_TRUE(linkPools());
    // PREPARE, three pieces of 43, 43 and 40 UEI packets, each with SUM and WRITE.
    std::vector<SentPacket> sent = writeFirmware(block(0x8000, 3000, 3), 1 + 126 + 3 + 3);
    EXPECT_EQ(countSub(sent, SUB_DATA), 0u);  // no plain DATA packets at all
    EXPECT_EQ(countSub(sent, SUB_UEI_DATA), 126u);
    EXPECT_EQ(countSub(sent, SUB_WRITE), 3u);
    // Pooled, each piece's packets left in one write, so the module got the 126 packets of the
    // three pieces in at most three segments: at least 123 packets fewer segments than packets.
    const Arrival arrived = arrival();
    EXPECT_GT(arrived.packets, 126u + 3u + 3u);
    EXPECT_LE(arrived.segments + 123, arrived.packets) << arrived.segments << " segments";
}

TEST_F(LoaderExchange, UEIDataWithoutThePoolingBitLeavesTheLinkUnpooled) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("features=0");
    startLoader();
    EXPECT_EQ(loader.CheckUEIDataSupport(), qErrNone);
    EXPECT_TRUE(loader.usesUEIData());
    EXPECT_EQ(loader.CheckPooledPacketsSupport(), qErrNone);
    EXPECT_FALSE(linkPools());
    std::vector<SentPacket> sent = writeFirmware(block(0x8000, 3000, 3), 1 + 126 + 3 + 3);
    EXPECT_EQ(countSub(sent, SUB_UEI_DATA), 126u);
}

TEST_F(LoaderExchange, WithoutUEIDataThePlainPathIsUsed) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin("no-uei-data");
    startLoader();
    EXPECT_NE(loader.CheckUEIDataSupport(), qErrNone);
    EXPECT_FALSE(loader.usesUEIData());
    // PREPARE, DATA pieces of 26 bytes at most, SUM and WRITE; no byte-sequence value.
    std::vector<SentPacket> sent = writeFirmware(block(0x4000, 100, 7), 1 + 4 + 2);
    EXPECT_EQ(dataLengths(sent), (std::vector<int>{26, 26, 26, 22}));
    EXPECT_EQ(countSub(sent, SUB_UEI_DATA), 0u);
    EXPECT_EQ(countSub(sent, SUB_WRITE), 1u);
}

TEST_F(LoaderExchange, QuickRebootWaitsOnceEvenIfTheLinkStays) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    begin();
    // Nothing was written, so the module has no reason to restart and keeps its link.
    loader.init(&module, 0, true, true);
    EXPECT_EQ(loader.LoaderReboot(display), qErrNone);
    EXPECT_EQ(display.spins, 1);
    EXPECT_TRUE(module.isConnected());
}

TEST_F(LoaderExchange, UEIDataPieceLongerThanTheSequenceNumbersArrivesWhole) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    // 6000 bytes are 250 packets: the 7-bit sequence wraps, and the packets are queued in
    // several groups.
    begin("block-size=6000,features=0x80000000");
    startLoader();
    ASSERT_EQ(loader.CheckUEIDataSupport(), qErrNone);
    ASSERT_EQ(loader.CheckPooledPacketsSupport(), qErrNone);
    std::vector<uint8_t> image = block(0x20000, 6000, 5);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    ASSERT_EQ(size, 6000);
    ASSERT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display), qErrNone);
    ASSERT_EQ(loader.LoaderReboot(display), qErrNone);
    EXPECT_TRUE(flashImage() == std::string(image.begin() + 4, image.end())) << "flash differs";
}
