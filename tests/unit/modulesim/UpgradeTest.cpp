// The module's upgrade loader (command 95) as the wire shows it: loader and firmware blocks, the
// byte sums, flash writes and the flash image file, byte-sequence pieces, the restart into new
// firmware, and every fault knob of the loader.
#include <algorithm>
#include <fstream>
#include <string>

#include "BirdFile.h"
#include "ImxHarness.h"
#include "SimFixture.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZV_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZV_SANITIZED_BUILD 1
#endif
#endif

namespace {

using imxtest::pattern;
using simtest::PacketChannel;
using simtest::WirePacket;

constexpr uint8_t kAddress = 4;
const std::string kModule = "serial=0A0B0C0D,tcp,hb-ms=0,address=4";
const Bytes kEcho = {23, 0x5A};

Bytes bigEndian(uint32_t value, size_t width) {
    Bytes bytes;
    for (size_t i = width; i > 0; --i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * (i - 1))));
    return bytes;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

Bytes concat(Bytes head, const Bytes& tail) {
    append(head, tail);
    return head;
}

uint32_t byteSum(const Bytes& bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes)
        sum += byte;
    return sum;
}

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

// A piece as one byte sequence of UEI option 10: 24 bytes a packet, then the trailer.
Bytes ueiRunWire(const Bytes& piece) {
    Bytes wire;
    size_t sent = 0;
    uint8_t sequence = 0;
    do {
        size_t chunk = std::min<size_t>(24, piece.size() - sent);
        Bytes data = concat({95, 0x8A, 0x20}, slice(piece, sent, chunk));
        sent += chunk;
        data.push_back(static_cast<uint8_t>((sent < piece.size() ? 0x80 : 0) | sequence));
        append(wire, simtest::wire(kAddress, data));
        sequence = (sequence + 1) & 0x7F;
    } while (sent < piece.size());
    return wire;
}

// The host's side of the exchange, one request and its reply at a time.
class LoaderWire {
  public:
    explicit LoaderWire(PacketChannel& link) : link_(link) {}

    Bytes ask(const Bytes& request) { return link_.exchange(kAddress, request).data; }
    Bytes prepare(uint32_t address, uint8_t flags = 0) {
        return ask(concat({95, 3, flags}, bigEndian(address, 4)));
    }
    uint8_t dataCount(const Bytes& bytes) {
        Bytes reply = ask(concat({95, 1}, bytes));
        return reply.size() == 3 && reply[0] == 95 && reply[1] == 1 ? reply[2] : 0xFF;
    }
    // DATA packets of at most 26 bytes, each expected to be taken whole.
    void data(const Bytes& bytes) {
        for (size_t at = 0; at < bytes.size(); at += 26) {
            size_t n = std::min<size_t>(26, bytes.size() - at);
            EXPECT_EQ(dataCount(slice(bytes, at, n)), n) << "at " << at;
        }
    }
    uint32_t sum() {
        Bytes reply = ask({95, 4});
        EXPECT_EQ(reply.size(), 7u);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + std::min<size_t>(3, reply.size())),
                  (Bytes{95, 7, 0}));
        return simtest::bigEndian32(reply, 3);
    }
    uint8_t write(size_t length) {
        Bytes reply = ask(concat({95, 5}, bigEndian(static_cast<uint32_t>(length), 2)));
        return reply.size() == 3 && reply[0] == 95 && reply[1] == 7 ? reply[2] : 0xFF;
    }
    Bytes ueiPiece(const Bytes& piece) {
        link_.send(ueiRunWire(piece));
        WirePacket reply;
        return link_.receive(reply) ? reply.data : Bytes{};
    }
    // One firmware piece: its bytes, the checked sum, and the write.
    void piece(const Bytes& bytes, bool asUei) {
        if (asUei)
            EXPECT_EQ(ueiPiece(bytes), (Bytes{95, 0xCA, 0}));
        else
            data(bytes);
        EXPECT_EQ(sum(), byteSum(bytes));
        EXPECT_EQ(write(bytes.size()), 0);
    }
    void firmwareBlock(uint32_t address, const Bytes& image, size_t blockSize, bool asUei,
                       uint8_t flags = 0) {
        EXPECT_EQ(prepare(address, flags), concat({95, 7, 0}, bigEndian(blockSize, 2)));
        for (size_t at = 0; at < image.size(); at += blockSize)
            piece(slice(image, at, std::min(blockSize, image.size() - at)), asUei);
    }

  private:
    PacketChannel& link_;
};

std::string flashModule(const zvtest::TempDir& dir, const std::string& more = "") {
    return kModule + ",reboot-ms=100,flash=" + dir.file("flash.bin") + more;
}

TEST_F(TcpSimTest, LoaderInitAnswersItsBaseAndUnknownStepsAreRefused) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({95, 0}), (Bytes{95, 0, 1, 0x10, 0, 0, 0}));
    EXPECT_EQ(loader.ask({95, 9}), (Bytes{95, 0x89, 29}));
    EXPECT_EQ(loader.ask({95, 3, 0}), (Bytes{95, 7, 27, 4, 0}));  // PREPARE without its address
    EXPECT_EQ(loader.ask({95, 5, 0}), (Bytes{95, 7, 27}));        // WRITE without its length
    EXPECT_EQ(loader.ask({95, 0x4A, 0x20}), (Bytes{95, 10, 0x80, 7}));  // option 10 is set-only
    EXPECT_EQ(loader.ask({95, 0x8A, 0x21, 0}), (Bytes{95, 0xCA, 0x81, 28}));  // one entity only
}

TEST_F(TcpSimTest, LoaderBlockGoesAsThreeDataPacketsAndOneSumThenLoadKeepsTheLink) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes image = pattern(56, 1);  // a 60-byte payload less its load address
    EXPECT_EQ(loader.prepare(0x10000000, 5), (Bytes{95, 7, 0, 0x04, 0x00}));
    EXPECT_EQ(loader.dataCount(slice(image, 0, 26)), 26);
    EXPECT_EQ(loader.dataCount(slice(image, 26, 26)), 26);
    EXPECT_EQ(loader.dataCount(slice(image, 52, 4)), 4);
    EXPECT_EQ(loader.sum(), byteSum(image));
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    EXPECT_FALSE(link.closedByPeer(300));
    EXPECT_EQ(loader.ask(kEcho), kEcho);
}

TEST_F(TcpSimTest, WriteIsRefusedUntilTheLoaderRunsAndForAWrongLength) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes piece = pattern(40, 2);
    loader.prepare(0x4000);
    loader.data(piece);
    EXPECT_EQ(loader.write(piece.size()), 7);  // no LOAD yet
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    EXPECT_EQ(loader.write(0), 7);  // LOAD ended the block; a WRITE needs a PREPARE first
    loader.prepare(0x4000);
    loader.data(piece);
    EXPECT_EQ(loader.write(piece.size() - 1), 14);
    EXPECT_EQ(loader.write(piece.size()), 0);
    // Flash ends at the top of the 32-bit address space.
    loader.prepare(0xFFFFFFF0u);
    loader.data(slice(piece, 0, 17));
    EXPECT_EQ(loader.write(17), 13);
}

TEST_F(TcpSimTest, SumRestartsAtPrepareAndAtWrite) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes first = pattern(30, 3), second = pattern(20, 4), third = pattern(7, 5);
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    loader.prepare(0x4000);
    loader.data(first);
    EXPECT_EQ(loader.sum(), byteSum(first));
    EXPECT_EQ(loader.sum(), byteSum(first));  // asking does not restart it
    loader.prepare(0x8000);
    EXPECT_EQ(loader.sum(), 0u);
    loader.data(second);
    EXPECT_EQ(loader.sum(), byteSum(second));
    EXPECT_EQ(loader.write(second.size()), 0);
    EXPECT_EQ(loader.sum(), 0u);
    loader.data(third);
    EXPECT_EQ(loader.sum(), byteSum(third));
}

TEST_F(TcpSimTest, FirmwareBlockInTwoPiecesLandsInTheFlashFileAtItsOffset) {
    zvtest::TempDir dir;
    ASSERT_TRUE(start({flashModule(dir)}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes image = pattern(2000, 6), tail = pattern(30, 7);
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    EXPECT_EQ(loader.prepare(0x4000, 1), (Bytes{95, 7, 0, 4, 0}));
    loader.piece(slice(image, 0, 1024), false);
    loader.piece(slice(image, 1024, 976), false);
    loader.firmwareBlock(0x4000 + 2000 + 48, tail, 1024, false);
    EXPECT_FALSE(zvtest::pathExists(dir.file("flash.bin")));  // nothing is committed yet

    link.sendPacket(kAddress, {95, 6});
    EXPECT_TRUE(link.closedByPeer());
    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    Bytes expected = concat(concat(image, Bytes(48, 0xFF)), tail);
    EXPECT_EQ(Bytes(flash.begin(), flash.end()), expected);

    ASSERT_TRUE(link.connectTcp(endpoint, 5000));
    EXPECT_EQ(loader.ask({73, 255}), concat({73, 255}, bigEndian(1000, 4)));  // no stamp
    EXPECT_EQ(loader.write(0), 7);  // the module runs its firmware again, not the loader
}

TEST_F(TcpSimTest, RebootWithoutNewFirmwareIsIgnored) {
    zvtest::TempDir dir;
    ASSERT_TRUE(start({flashModule(dir)}, "0A0B0C0D"));
    LoaderWire loader(link);
    link.sendPacket(kAddress, {95, 6});  // the firmware, not the loader, runs
    EXPECT_TRUE(link.quietFor(200));
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    link.sendPacket(kAddress, {95, 6});  // the loader runs but wrote nothing
    EXPECT_TRUE(link.quietFor(300));
    EXPECT_EQ(loader.ask(kEcho), kEcho);
    EXPECT_FALSE(zvtest::pathExists(dir.file("flash.bin")));
}

TEST_F(TcpSimTest, PreparesBlockSizeAndStatusAreAnsweredAsConfigured) {
    ASSERT_TRUE(start(
        {kModule + ",block-size=0,prepare-status=3", "serial=0A0B0C0E,tcp,hb-ms=0,block-size=2048"},
        "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.prepare(0x4000), (Bytes{95, 7, 3, 0, 0}));
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    loader.data(pattern(5, 8));
    EXPECT_EQ(loader.write(5), 7);  // the refused PREPARE opened no block

    PacketChannel other;
    ASSERT_TRUE(other.connectTcp(sim.where("tcp", "0A0B0C0E")));
    EXPECT_EQ(other.exchange(2, {95, 3, 0, 0, 0, 0x40, 0}).data, (Bytes{95, 7, 0, 8, 0}));
}

TEST_F(TcpSimTest, BadSumAddsOneToTheNthSumReplyOnly) {
    ASSERT_TRUE(start({kModule + ",bad-sum=2"}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes bytes = pattern(26, 9);
    loader.prepare(0x10000000);
    loader.data(bytes);
    EXPECT_EQ(loader.sum(), byteSum(bytes));
    EXPECT_EQ(loader.sum(), byteSum(bytes) + 1);
    EXPECT_EQ(loader.sum(), byteSum(bytes));
}

TEST_F(TcpSimTest, DropReplyLosesTheNthUpgradeReplyOnly) {
    ASSERT_TRUE(start({kModule + ",drop-reply=3"}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({95, 0}).size(), 7u);
    EXPECT_EQ(loader.ask(kEcho), kEcho);  // other commands do not count
    EXPECT_EQ(loader.dataCount(pattern(5, 21)), 5);
    link.sendPacket(kAddress, {95, 3, 0, 0x10, 0, 0, 0});
    EXPECT_TRUE(link.quietFor(300));
    EXPECT_EQ(loader.sum(), 0u);  // the unanswered PREPARE restarted the sum all the same
    EXPECT_EQ(loader.prepare(0x4000), (Bytes{95, 7, 0, 4, 0}));
}

TEST_F(TcpSimTest, ShortCountRefusesTheNthDataAndDiscardsItsBytes) {
    ASSERT_TRUE(start({kModule + ",short-count=2"}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes a = pattern(5, 10), b = pattern(5, 11), c = pattern(5, 12);
    loader.prepare(0x10000000);
    EXPECT_EQ(loader.dataCount(a), 5);
    EXPECT_EQ(loader.dataCount(b), 4);
    EXPECT_EQ(loader.dataCount(c), 5);
    EXPECT_EQ(loader.sum(), byteSum(a) + byteSum(c));
}

TEST_F(TcpSimTest, AlwaysShortAcceptsNoData) {
    ASSERT_TRUE(start({kModule + ",always-short"}, "0A0B0C0D"));
    LoaderWire loader(link);
    loader.prepare(0x10000000);
    for (uint8_t n : {26, 26, 1}) {
        uint8_t count = loader.dataCount(pattern(n, n));
        EXPECT_NE(count, n);
        EXPECT_NE(count, 0xFF);
    }
    EXPECT_EQ(loader.sum(), 0u);
}

TEST_F(TcpSimTest, SilentLoaderAnswersNoUpgradeCommandButEverythingElse) {
    ASSERT_TRUE(start({kModule + ",silent-loader"}, "0A0B0C0D"));
    LoaderWire loader(link);
    for (const Bytes& request : {Bytes{95, 0}, Bytes{95, 3, 0, 0, 0, 0x40, 0}, Bytes{95, 1, 7},
                                 Bytes{95, 4}, Bytes{95, 2}, Bytes{95, 0x8A, 0x20, 1, 0}}) {
        link.sendPacket(kAddress, request);
        EXPECT_TRUE(link.quietFor(200)) << int(request[1]);
    }
    EXPECT_EQ(loader.ask(kEcho), kEcho);
    EXPECT_EQ(loader.ask({73, 1, 95, 10, 0, 0x80}), (Bytes{73, 1, 95, 10, 0, 0}));
}

TEST_F(TcpSimTest, DropAtLoadComesBackWithTheLoaderRunning) {
    zvtest::TempDir dir;
    ASSERT_TRUE(start({flashModule(dir, ",drop-at-load")}, "0A0B0C0D"));
    LoaderWire loader(link);
    link.sendPacket(kAddress, {95, 2});
    WirePacket reply;
    EXPECT_FALSE(link.receive(reply));  // the link goes, and LOAD is not answered
    EXPECT_TRUE(link.closedByPeer());
    ASSERT_TRUE(link.connectTcp(endpoint, 5000));
    const Bytes image = pattern(100, 13);
    loader.firmwareBlock(0x2000, image, 1024, false);  // the loader writes: it runs
    link.sendPacket(kAddress, {95, 6});
    EXPECT_TRUE(link.closedByPeer());
    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    EXPECT_EQ(Bytes(flash.begin(), flash.end()), image);
}

TEST_F(TcpSimTest, UeiDataCarriesAPieceInManyPacketsWithOneAcknowledgement) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({73, 1, 95, 10, 0, 0x80}), (Bytes{73, 1, 95, 10, 0, 0}));
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    loader.prepare(0x4000);
    const Bytes piece = pattern(1000, 14);
    Bytes run = ueiRunWire(piece);
    const size_t lastPacket = 2 + 3 + 16 + 1;  // 1000 = 41 * 24 + 16
    link.send(slice(run, 0, run.size() - lastPacket));
    EXPECT_TRUE(link.quietFor(200));  // no acknowledgement before the last packet
    link.send(slice(run, run.size() - lastPacket, lastPacket));
    WirePacket ack;
    ASSERT_TRUE(link.receive(ack));
    EXPECT_EQ(ack.data, (Bytes{95, 0xCA, 0}));
    EXPECT_EQ(loader.sum(), byteSum(piece));
    EXPECT_EQ(loader.write(piece.size()), 0);

    // A packet out of sequence ends the run with an error reply.
    link.sendPacket(kAddress, concat(concat({95, 0x8A, 0x20}, pattern(24, 15)), {0x80}));
    link.sendPacket(kAddress, concat(concat({95, 0x8A, 0x20}, pattern(24, 16)), {0x82}));
    ASSERT_TRUE(link.receive(ack));
    EXPECT_EQ(ack.data, (Bytes{95, 0xCA, 0x80, 24}));
    EXPECT_EQ(loader.sum(), 0u);
}

TEST_F(TcpSimTest, PooledPacketsInOneWriteAreAllTaken) {
    zvtest::TempDir dir;
    ASSERT_TRUE(start({flashModule(dir, ",block-size=4096")}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));

    // A 4000-byte piece takes 167 packets: the sequence number wraps past 127.
    const Bytes big = pattern(4000, 17), small = pattern(56, 18);
    Bytes batch = concat(simtest::wire(kAddress, {95, 3, 0, 0, 0, 0x10, 0}), ueiRunWire(big));
    batch = concat(batch, simtest::wire(kAddress, {95, 4}));
    batch = concat(batch, simtest::wire(kAddress, concat({95, 5}, bigEndian(4000, 2))));
    batch = concat(batch, simtest::wire(kAddress, concat({95, 1}, slice(small, 0, 26))));
    batch = concat(batch, simtest::wire(kAddress, concat({95, 1}, slice(small, 26, 26))));
    batch = concat(batch, simtest::wire(kAddress, concat({95, 1}, slice(small, 52, 4))));
    batch = concat(batch, simtest::wire(kAddress, {95, 4}));
    batch = concat(batch, simtest::wire(kAddress, concat({95, 5}, bigEndian(56, 2))));
    link.send(batch);
    const std::vector<Bytes> expected = {{95, 7, 0, 0x10, 0},
                                         {95, 0xCA, 0},
                                         concat({95, 7, 0}, bigEndian(byteSum(big), 4)),
                                         {95, 7, 0},
                                         {95, 1, 26},
                                         {95, 1, 26},
                                         {95, 1, 4},
                                         concat({95, 7, 0}, bigEndian(byteSum(small), 4)),
                                         {95, 7, 0}};
    for (const Bytes& want : expected) {
        WirePacket reply;
        ASSERT_TRUE(link.receive(reply));
        EXPECT_EQ(reply.data, want);
    }
    link.sendPacket(kAddress, {95, 6});
    EXPECT_TRUE(link.closedByPeer());
    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    EXPECT_EQ(Bytes(flash.begin(), flash.end()), concat(big, small));
}

TEST_F(TcpSimTest, NoUeiDataTreatsOption10AsUnknown) {
    ASSERT_TRUE(start({kModule + ",no-uei-data"}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({73, 1, 95, 10, 0, 0x80}), (Bytes{73, 1, 95, 10, 0, 29}));
    EXPECT_EQ(loader.ask({73, 1, 95, 11, 0, 0x80}), (Bytes{73, 1, 95, 11, 0, 29}));
    loader.prepare(0x4000);
    EXPECT_EQ(loader.ueiPiece(pattern(20, 19)), (Bytes{95, 0xCA, 0x80, 29}));
    EXPECT_EQ(loader.sum(), 0u);
    loader.data(pattern(30, 19));
    EXPECT_EQ(loader.sum(), byteSum(pattern(30, 19)));
}

// The image bytes of a loader or firmware block (its payload less the load address).
Bytes imageOf(const BirdBlock& block) {
    return Bytes(block.data + 4, block.data + block.length);
}

// Sends a BIRD file the way the host does: loader blocks, LOAD, firmware blocks, REBOOT.
void transferBird(LoaderWire& loader, PacketChannel& link, const BirdFile& bird) {
    EXPECT_EQ(loader.ask({95, 0}).size(), 7u);
    for (const BirdBlock& block : bird.FindBlocks(BirdFile::BLOCK_LOADER)) {
        EXPECT_EQ(loader.prepare(block.address, block.flags), (Bytes{95, 7, 0, 4, 0}));
        loader.data(imageOf(block));
        EXPECT_EQ(loader.sum(), byteSum(imageOf(block)));
    }
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    bool asUei = false;
    for (const BirdBlock& block : bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)) {
        loader.firmwareBlock(block.address, imageOf(block), 1024, asUei, block.flags);
        asUei = !asUei;
    }
    link.sendPacket(kAddress, {95, 6});
}

TEST_F(TcpSimTest, RebootIntoAStampedImageReportsItsBuildAndWritesTheFlashFile) {
    zvtest::TempDir dir;
    zvtest::writeFile(dir.file("image.txt"),
                      "block type=0 flags=2 address=0x10000000 random=1 size=56\n"
                      "block type=1 flags=1 address=0x4000 random=2 size=3000 stamp=4321\n"
                      "block type=1 address=0x6000 random=3 size=100\n"
                      "serial-offsets word=0x4010 descriptor=0x6010\n"
                      "info build=4321 version=2.12.4 serial=00000000 model=Hub-4\n");
    zvtest::RunResult built = zvtest::runProgram(
        zvtest::birdtoolBinary(), {"build", dir.file("image.txt"), dir.file("image.bird")});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    BirdFile bird(dir.file("image.bird").c_str());
    ASSERT_TRUE(bird.ReplaceSerialNumber(0x0A0B0C0D));

    ASSERT_TRUE(start({flashModule(dir)}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({73, 255}), concat({73, 255}, bigEndian(1000, 4)));
    transferBird(loader, link, bird);
    EXPECT_TRUE(link.closedByPeer());
    ASSERT_TRUE(link.connectTcp(endpoint, 5000));
    EXPECT_EQ(loader.ask({73, 255}), concat({73, 255}, bigEndian(4321, 4)));
    EXPECT_EQ(loader.ask({3, 0x6B, 0x20}), concat({3, 43, 0}, bigEndian(4321, 4)));

    Bytes expected(0x6000 + 100 - 0x4000, 0xFF);
    for (const BirdBlock& block : bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)) {
        Bytes image = imageOf(block);
        std::copy(image.begin(), image.end(), expected.begin() + (block.address - 0x4000));
    }
    EXPECT_EQ(std::string(expected.begin(), expected.begin() + 8), "ZVBUILD=");
    EXPECT_EQ(slice(expected, 16, 4), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));  // the patched serial
    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    EXPECT_EQ(Bytes(flash.begin(), flash.end()), expected);
}

TEST(ModulesimLoaderPty, RebootOnATerminalKeepsTheLineAndRunsTheNewBuild) {
    simtest::SimProcess sim;
    std::string why;
    ASSERT_TRUE(sim.start({"--duration", "60", "--module", "serial=00C0FFEE,pty,hb-ms=0"}, &why))
        << why;
    PacketChannel device;
    ASSERT_TRUE(device.openDevice(sim.where("pty", "00C0FFEE")));
    const Bytes stamp = concat({'Z', 'V', 'B', 'U', 'I', 'L', 'D', '='}, bigEndian(77, 4));
    EXPECT_EQ(device.exchange(2, {95, 2}).data, (Bytes{95, 2}));
    EXPECT_EQ(device.exchange(2, {95, 3, 0, 0, 0, 0x40, 0}).data, (Bytes{95, 7, 0, 4, 0}));
    EXPECT_EQ(device.exchange(2, concat({95, 1}, stamp)).data, (Bytes{95, 1, 12}));
    EXPECT_EQ(device.exchange(2, {95, 5, 0, 12}).data, (Bytes{95, 7, 0}));
    device.sendPacket(2, {95, 6});
    EXPECT_EQ(device.exchange(2, {73, 255}).data, concat({73, 255}, bigEndian(77, 4)));
    EXPECT_EQ(device.exchange(2, {95, 5, 0, 0}).data, (Bytes{95, 7, 7}));  // loader gone
    // A plain restart keeps the firmware in flash, and so its build.
    EXPECT_EQ(device.exchange(2, {3, 0x8B, 0x20}).data, (Bytes{3, 0xCB, 0}));
    EXPECT_EQ(device.exchange(2, {73, 255}).data, concat({73, 255}, bigEndian(77, 4)));
}

long procStatusKiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

TEST_F(TcpSimTest, AnEightMegabyteImageCostsAtMostTwiceItsSize) {
    zvtest::TempDir dir;
    ASSERT_TRUE(start({flashModule(dir, ",block-size=4096")}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    EXPECT_EQ(loader.prepare(0x100000), (Bytes{95, 7, 0, 0x10, 0}));
    long before = procStatusKiB(sim.pid(), "VmRSS");
    ASSERT_GT(before, 0);

    const size_t kImage = 8u << 20, kPiece = 4096, kPiecesPerBatch = 32;
    const Bytes image = pattern(kImage, 20);
    for (size_t at = 0; at < kImage; at += kPiece * kPiecesPerBatch) {
        Bytes batch;
        for (size_t p = at; p < at + kPiece * kPiecesPerBatch; p += kPiece) {
            append(batch, ueiRunWire(slice(image, p, kPiece)));
            append(batch, simtest::wire(kAddress, {95, 4}));
            append(batch, simtest::wire(kAddress, {95, 5, 0x10, 0}));
        }
        link.send(batch);
        for (size_t p = at; p < at + kPiece * kPiecesPerBatch; p += kPiece) {
            WirePacket ack, sum, written;
            ASSERT_TRUE(link.receive(ack) && link.receive(sum) && link.receive(written)) << p;
            ASSERT_EQ(ack.data, (Bytes{95, 0xCA, 0})) << p;
            ASSERT_EQ(simtest::bigEndian32(sum.data, 3), byteSum(slice(image, p, kPiece))) << p;
            ASSERT_EQ(written.data, (Bytes{95, 7, 0})) << p;
        }
    }
    link.sendPacket(kAddress, {95, 6});
    EXPECT_TRUE(link.closedByPeer());
#ifndef ZV_SANITIZED_BUILD  // sanitizers keep freed memory for a while and shadow every byte
    long peak = procStatusKiB(sim.pid(), "VmHWM");
    EXPECT_LE(peak - before, long(2 * kImage / 1024)) << before << " KiB before, peak " << peak;
#endif
    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    EXPECT_TRUE(Bytes(flash.begin(), flash.end()) == image);
}

namespace {

// A module on a pseudo-terminal, with these loader knobs, and its line.
struct PtyLoader {
    explicit PtyLoader(const std::string& knobs) {
        std::string why;
        started = sim.start({"--duration", "60", "--module", "serial=00C0FFEE,pty,hb-ms=0" + knobs},
                            &why) &&
                  device.openDevice(sim.where("pty", "00C0FFEE"));
        EXPECT_TRUE(started) << why;
    }
    // LOAD, then one firmware piece holding the build stamp 77 and the version stamp 2.13.0,
    // written, then REBOOT.
    void writeStampedImageAndReboot() {
        const Bytes stamp =
            concat(concat({'Z', 'V', 'B', 'U', 'I', 'L', 'D', '='}, bigEndian(77, 4)),
                   {'Z', 'V', 'V', 'E', 'R', 'S', 'I', 'O', 'N', '=', 2, 13, 0});
        EXPECT_EQ(device.exchange(2, {95, 2}).data, (Bytes{95, 2}));
        EXPECT_EQ(device.exchange(2, {95, 3, 0, 0, 0, 0x40, 0}).data, (Bytes{95, 7, 0, 4, 0}));
        EXPECT_EQ(device.exchange(2, concat({95, 1}, stamp)).data, (Bytes{95, 1, 25}));
        EXPECT_EQ(device.exchange(2, {95, 5, 0, 25}).data, (Bytes{95, 7, 0}));
        device.sendPacket(2, {95, 6});
    }
    Bytes version() { return device.exchange(2, {3, 0x47, 0x20}).data; }
    Bytes build() { return device.exchange(2, {73, 255}).data; }

    simtest::SimProcess sim;
    PacketChannel device;
    bool started = false;
};

const Bytes kVersion2_12_2 = {3, 7, 0, 0x2C, 0, 0, 2};  // the simulator's default version
const Bytes kVersion2_13_0 = {3, 7, 0, 0x2D, 0, 0, 0};

}  // namespace

TEST(ModulesimLoaderPty, RebootIntoAnImageReportsTheVersionStampedInIt) {
    PtyLoader module("");
    ASSERT_TRUE(module.started);
    EXPECT_EQ(module.version(), kVersion2_12_2);
    module.writeStampedImageAndReboot();
    EXPECT_EQ(module.build(), concat({73, 255}, bigEndian(77, 4)));
    EXPECT_EQ(module.version(), kVersion2_13_0);
}

TEST(ModulesimLoaderPty, LostRebootAndBootsOldBuildKeepTheOldBuildAndVersion) {
    // A lost REBOOT leaves the loader running: a WRITE of nothing is still taken. A restart into
    // the old firmware ends the loader: the same WRITE is refused (qErrMode).
    for (const auto& knob : {std::make_pair(",lost-reboot", 0), {",boots-old-build", 7}}) {
        SCOPED_TRACE(knob.first);
        PtyLoader module(knob.first);
        ASSERT_TRUE(module.started);
        module.writeStampedImageAndReboot();
        EXPECT_EQ(module.build(), concat({73, 255}, bigEndian(1000, 4)));
        EXPECT_EQ(module.version(), kVersion2_12_2);
        EXPECT_EQ(module.device.exchange(2, {95, 5, 0, 0}).data,
                  (Bytes{95, 7, static_cast<uint8_t>(knob.second)}));
    }
}

TEST(ModulesimLoaderPty, ShortInitAndShortLoaderPrepareLeaveOutTheirLastBytes) {
    PtyLoader module(",short-init,short-loader-prepare");
    ASSERT_TRUE(module.started);
    EXPECT_EQ(module.device.exchange(2, {95, 0}).data, (Bytes{95, 0, 1, 0x10, 0, 0}));
    EXPECT_EQ(module.device.exchange(2, {95, 3, 0, 0x10, 0, 0, 0}).data, (Bytes{95, 7, 0}));
    // The running loader still offers its block size.
    EXPECT_EQ(module.device.exchange(2, {95, 2}).data, (Bytes{95, 2}));
    EXPECT_EQ(module.device.exchange(2, {95, 3, 0, 0, 0, 0x40, 0}).data, (Bytes{95, 7, 0, 4, 0}));
}

TEST(ModulesimLoaderCommandLine, HelpNamesEveryLoaderKnob) {
    zvtest::RunResult result = zvtest::runProgram(zvtest::modulesimBinary(), {"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* word :
         {"flash=PATH", "block-size=N", "prepare-status=S", "bad-sum=N", "drop-reply=N",
          "short-count=N", "always-short", "silent-loader", "drop-at-load", "no-uei-data",
          "short-init", "short-loader-prepare", "lost-reboot", "boots-old-build"}) {
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
    }
}

TEST(ModulesimLoaderCommandLine, BadLoaderKnobsAreRefused) {
    for (const char* knob : {"block-size=65536", "prepare-status=256", "always-short=1",
                             "bad-sum=x", "flash=", "flash", "drop-reply", "short-count=-1"}) {
        zvtest::RunResult result = zvtest::runProgram(
            zvtest::modulesimBinary(), {"--module", std::string("serial=1,pty,") + knob});
        EXPECT_EQ(result.exitCode, 2) << knob;
        EXPECT_EQ(result.err.rfind("modulesim: ", 0), 0u) << knob << ": " << result.err;
    }
}

// birdtool's answer to building a .bird file NAME.bird from the description text.
zvtest::RunResult buildWithBirdtool(zvtest::TempDir& dir, const std::string& name,
                                    const std::string& description) {
    zvtest::writeFile(dir.file(name + ".txt"), description);
    return zvtest::runProgram(zvtest::birdtoolBinary(),
                              {"build", dir.file(name + ".txt"), dir.file(name + ".bird")});
}

TEST(BirdtoolStamp, WritesTheBuildMarkerIntoAFirmwareBlock) {
    zvtest::TempDir dir;
    zvtest::RunResult built = buildWithBirdtool(
        dir, "ok",
        "block type=1 address=0x100 hex=" + std::string(13 * 2, 'a') + " stamp=0x01020304\n");
    ASSERT_EQ(built.exitCode, 0) << built.err;
    BirdFile bird(dir.file("ok.bird").c_str());
    ASSERT_EQ(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE).size(), 1u);
    EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0]),
              (Bytes{'Z', 'V', 'B', 'U', 'I', 'L', 'D', '=', 1, 2, 3, 4, 0xAA}));

    for (const char* line : {"block type=1 hex=00112233445566778899aa stamp=5\n",
                             "block type=0 random=1 size=64 stamp=5\n"}) {
        zvtest::RunResult refused = buildWithBirdtool(dir, "bad", line);
        EXPECT_EQ(refused.exitCode, 1) << line;
        EXPECT_NE(refused.err.find("stamp"), std::string::npos) << refused.err;
    }
}

TEST(BirdtoolStamp, WritesTheVersionMarkerAfterTheBuildMarker) {
    zvtest::TempDir dir;
    zvtest::RunResult built =
        buildWithBirdtool(dir, "ok",
                          "block type=1 address=0x100 hex=" + std::string(26 * 2, 'a') +
                              " stamp=7 stamp-version=2.13.1\n");
    ASSERT_EQ(built.exitCode, 0) << built.err;
    BirdFile bird(dir.file("ok.bird").c_str());
    ASSERT_EQ(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE).size(), 1u);
    EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0]),
              concat(concat({'Z', 'V', 'B', 'U', 'I', 'L', 'D', '='}, bigEndian(7, 4)),
                     {'Z', 'V', 'V', 'E', 'R', 'S', 'I', 'O', 'N', '=', 2, 13, 1, 0xAA}));

    for (const std::string& bad : {"hex=" + std::string(24 * 2, 'a') + " stamp-version=1.2.3",
                                   "hex=" + std::string(26 * 2, 'a') + " stamp-version=1.2",
                                   "hex=" + std::string(26 * 2, 'a') + " stamp-version=1.2.3.4",
                                   "hex=" + std::string(26 * 2, 'a') + " stamp-version=1.256.3"}) {
        zvtest::RunResult refused = buildWithBirdtool(dir, "bad", "block type=1 " + bad + "\n");
        EXPECT_EQ(refused.exitCode, 1) << bad;
        EXPECT_NE(refused.err.find("version"), std::string::npos) << refused.err;
    }
}

TEST_F(TcpSimTest, FirmwarePrepareStatusRefusesOnlyTheFirstPreparesAfterLoad) {
    ASSERT_TRUE(start({kModule + ",firmware-prepare-status=11:2"}, "0A0B0C0D"));
    LoaderWire loader(link);
    EXPECT_EQ(loader.prepare(0x10000000), (Bytes{95, 7, 0, 4, 0}));  // a loader block
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    EXPECT_EQ(loader.prepare(0x4000), (Bytes{95, 7, 11, 4, 0}));
    loader.data(pattern(5, 10));
    EXPECT_EQ(loader.write(5), 7);  // the refused PREPARE opened no block
    EXPECT_EQ(loader.prepare(0x4000), (Bytes{95, 7, 11, 4, 0}));
    loader.firmwareBlock(0x4000, pattern(30, 11), 1024, false);
}

TEST_F(TcpSimTest, FirmwareWriteRefusedFailsTheFirstAttemptsAtTheFirstFirmwareBlock) {
    ASSERT_TRUE(start({kModule + ",firmware-write-refused=2"}, "0A0B0C0D"));
    LoaderWire loader(link);
    const Bytes loaderBlock = pattern(40, 12), image = pattern(1500, 13);
    const Bytes firstPiece = slice(image, 0, 1024);
    loader.prepare(0x10000000);
    loader.data(loaderBlock);
    EXPECT_EQ(loader.sum(), byteSum(loaderBlock));
    EXPECT_EQ(loader.ask({95, 2}), (Bytes{95, 2}));
    for (int attempt = 0; attempt < 2; ++attempt) {
        loader.prepare(0x4000);
        loader.data(firstPiece);
        EXPECT_EQ(loader.sum(), byteSum(firstPiece));
        EXPECT_EQ(loader.write(firstPiece.size()), 30) << "attempt " << attempt;
    }
    // The third attempt goes through, piece after piece, and so does the next block.
    loader.firmwareBlock(0x4000, image, 1024, false);
    loader.firmwareBlock(0x5000, image, 1024, false);
}

}  // namespace
