// Firmware update throughput through the upgrade exchange (UpdaterEntity -> Link -> engine ->
// TCP) against the module simulator's loader over loopback, plain DATA packets and UEI data with
// pooled packets, side by side with a raw socket ping-pong of one DATA exchange to the same
// simulator. The ideal time of an update is its number of acknowledged exchanges times that round
// trip; the figures are how close each path comes to it.
//
//   bench_update [--kib N] [--latency-ms N] [--rounds N]   (defaults: 1024 KiB, 0 ms, 3 rounds)
//
// Run it under scripts/netns-run: the simulator also listens for discovery requests.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QuietDisplay.h"
#include "SimulatedModule.h"
#include "UpdaterEntity.h"
#include "qUEI.h"

using Pelmorax::Zendrival::Module;

namespace {

using bench::Endpoint;
using bench::RawLink;
using bench::secondsSince;

constexpr uint32_t kSerial = 0x5EED0002;
constexpr uint8_t kAddress = 2;
constexpr uint16_t kBlockSize = 1024;  // the simulator's piece size

std::vector<uint8_t> packet(std::initializer_list<uint8_t> data) {
    std::vector<uint8_t> bytes = {kAddress, static_cast<uint8_t>(data.size())};
    bytes.insert(bytes.end(), data);
    return bytes;
}

// Mean seconds of one DATA exchange of 26 bytes on a raw socket; negative on failure.
double rawDataRoundTrip(const Endpoint& endpoint, int count) {
    RawLink link(endpoint);
    std::vector<uint8_t> reply;
    if (!link.ok() || !link.exchange(packet({95, 3, 0, 0, 0, 0x80, 0}), reply))
        return -1;
    std::vector<uint8_t> data = {kAddress, 28, 95, 1};
    data.resize(30, 0x5A);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!link.exchange(data, reply) || reply.size() < 3 || reply[2] != 26)
            return -1;
    }
    return secondsSince(start) / count;
}

// The pieces of one piece of image as the wire carries them: DATA packets of 26 bytes each
// awaiting their reply, or one UEI byte sequence (24 bytes a packet) in one write.
bool rawPiece(RawLink& link, const uint8_t* bytes, size_t length, bool useUEI) {
    std::vector<uint8_t> reply;
    if (!useUEI) {
        for (size_t done = 0; done < length; done += 26) {
            size_t n = std::min<size_t>(26, length - done);
            std::vector<uint8_t> data = {kAddress, static_cast<uint8_t>(n + 2), 95, 1};
            data.insert(data.end(), bytes + done, bytes + done + n);
            if (!link.exchange(data, reply) || reply.size() < 3 || reply[2] != n)
                return false;
        }
        return true;
    }
    std::vector<uint8_t> wire;
    uint8_t sequence = 0;
    for (size_t done = 0; done < length; done += qUEI_BYTES_PER_PACKET, ++sequence) {
        size_t n = std::min<size_t>(qUEI_BYTES_PER_PACKET, length - done);
        bool more = done + n < length;
        wire.insert(wire.end(), {kAddress, static_cast<uint8_t>(n + 4), 95, qUEI_OPTION_SET | 10,
                                 qUEI_INDEX_REQUEST});
        wire.insert(wire.end(), bytes + done, bytes + done + n);
        wire.push_back((more ? qUEI_BYTES_CONTINUE : 0) | (sequence & qUEI_BYTES_SEQUENCE_MASK));
    }
    return link.send(wire) && link.receive(reply);
}

// The same firmware block as the library sends it, on a raw socket; seconds, negative on failure.
double rawTransfer(const Endpoint& endpoint, const std::vector<uint8_t>& block, bool useUEI) {
    RawLink link(endpoint);
    std::vector<uint8_t> reply;
    auto start = std::chrono::steady_clock::now();
    if (!link.ok() ||
        !link.exchange(packet({95, 3, 0, block[0], block[1], block[2], block[3]}), reply))
        return -1;
    for (size_t done = 4; done < block.size(); done += kBlockSize) {
        size_t piece = std::min<size_t>(kBlockSize, block.size() - done);
        if (!rawPiece(link, block.data() + done, piece, useUEI) ||
            !link.exchange(packet({95, 4}), reply) ||
            !link.exchange(packet({95, 5, uint8_t(piece >> 8), uint8_t(piece)}), reply))
            return -1;
    }
    return secondsSince(start);
}

struct Transfer {
    double seconds = -1;
    unsigned long exchanges = 0;  // acknowledged request/reply pairs of the firmware block
};

// Starts the loader, then times one firmware block of the image.
Transfer timeUpdate(const Endpoint& endpoint, const std::vector<uint8_t>& block, bool useUEI) {
    Transfer transfer;
    Module module(kAddress, 0);
    if (!bench::connectDirect(module, endpoint, kSerial)) {
        return transfer;
    }
    UpdaterEntity loader;
    loader.init(&module, 0, true, false);
    std::vector<uint8_t> code(4 + 256, 0x11);
    code[0] = 0x10;
    uint16_t size = 0;
    if (loader.LoaderInit() != qErrNone ||
        loader.TransferPrepare(code.data(), code.size(), 0, size) != qErrNone ||
        loader.LoaderTransfer(code.data(), code.size()) != qErrNone ||
        loader.LoaderStart() != qErrNone) {
        return transfer;
    }
    if (useUEI && (loader.CheckUEIDataSupport() != qErrNone ||
                   loader.CheckPooledPacketsSupport() != qErrNone)) {
        return transfer;
    }
    zvtest::QuietDisplay display;
    auto start = std::chrono::steady_clock::now();
    if (loader.TransferPrepare(block.data(), block.size(), 0, size) != qErrNone || size == 0 ||
        loader.FirmwareTransfer(block.data(), block.size(), size, display) != qErrNone) {
        return transfer;
    }
    transfer.seconds = secondsSince(start);
    const unsigned long image = block.size() - 4;
    const unsigned long pieces = (image + size - 1) / size;
    // Each piece: its data exchanges, SUM and WRITE; one PREPARE for the block.
    unsigned long dataExchanges = useUEI ? pieces : 0;
    if (!useUEI) {
        for (unsigned long left = image; left > 0; left -= std::min<unsigned long>(left, size)) {
            unsigned long piece = std::min<unsigned long>(left, size);
            dataExchanges += (piece + 25) / 26;
        }
    }
    transfer.exchanges = 1 + dataExchanges + 2 * pieces;
    module.disconnect();
    return transfer;
}

struct Options {
    unsigned kib = 1024;
    int latencyMs = 0;
    int rounds = 3;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--kib") == 0)
            options.kib = static_cast<unsigned>(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--latency-ms") == 0)
            options.latencyMs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            options.rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    options.kib = std::max(1u, options.kib);
    return options;
}

void report(const char* name, const Transfer& best, double rtt, double raw, unsigned long bytes) {
    std::printf("  %s\n", name);
    std::printf("    through the library   %8.1f KiB/s  %7.3f s  (%lu acknowledged exchanges)\n",
                bytes / 1024.0 / best.seconds, best.seconds, best.exchanges);
    std::printf("    same bytes, raw socket %7.1f KiB/s  %7.3f s  ratio %.2f\n",
                bytes / 1024.0 / raw, raw, raw / best.seconds);
    std::printf("    exchanges x round trip          %7.3f s  ratio %.2f\n", best.exchanges * rtt,
                best.exchanges * rtt / best.seconds);
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    char module[160];
    std::snprintf(module, sizeof(module),
                  "serial=%08X,address=%u,hb-ms=0,features=0x80000000,block-size=%u,"
                  "latency-ms=%d,tcp=127.0.0.1:0",
                  kSerial, kAddress, kBlockSize, options.latencyMs);
    zvtest::BackgroundProgram sim(zvtest::modulesimBinary(),
                                  {"--duration", "1800", "--module", module});
    Endpoint endpoint;
    if (!bench::simulatorListening(sim, &endpoint))
        return 1;
    const unsigned long bytes = options.kib * 1024ul;
    std::vector<uint8_t> block(4 + bytes);
    block[2] = 0x80;  // load address 0x8000
    for (size_t i = 4; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    }
    const int pingCount = options.latencyMs > 0 ? 200 : 5000;
    double rtt = 1e9, rawPlain = 1e9, rawUEI = 1e9;
    Transfer plain, uei;
    for (int round = 0; round < options.rounds; ++round) {
        double r = rawDataRoundTrip(endpoint, pingCount);
        double rp = rawTransfer(endpoint, block, false);
        double ru = rawTransfer(endpoint, block, true);
        Transfer p = timeUpdate(endpoint, block, false);
        Transfer u = timeUpdate(endpoint, block, true);
        if (r < 0 || rp < 0 || ru < 0 || p.seconds < 0 || u.seconds < 0) {
            std::fprintf(stderr, "an exchange failed\n");
            return 1;
        }
        rtt = std::min(rtt, r);
        rawPlain = std::min(rawPlain, rp);
        rawUEI = std::min(rawUEI, ru);
        if (plain.seconds < 0 || p.seconds < plain.seconds)
            plain = p;
        if (uei.seconds < 0 || u.seconds < uei.seconds)
            uei = u;
    }
    std::printf(
        "Firmware update of %u KiB over loopback TCP, simulator latency %d ms, best of %d\n",
        options.kib, options.latencyMs, options.rounds);
    std::printf("  raw DATA round trip        %8.1f us\n", rtt * 1e6);
    report("plain DATA packets", plain, rtt, rawPlain, bytes);
    report("UEI data, pooled packets", uei, rtt, rawUEI, bytes);
    std::printf("  UEI data / plain speed     %8.2f   (target: at least 5)\n",
                plain.seconds / uei.seconds);
    std::printf("  (target for the ratio of each path to its raw-socket ideal: at least 0.8)\n");
    return 0;
}
