// Firmware update throughput through the upgrade exchange (UpdaterEntity -> Link -> engine ->
// TCP) against the module simulator's loader over loopback, plain DATA packets and UEI data with
// pooled packets, side by side with a raw socket ping-pong of one DATA exchange to the same
// simulator. The ideal time of an update is its number of acknowledged exchanges times that round
// trip; the figures are how close each path comes to it. Beside the times, the CPU (user + system,
// all threads of this process) per acknowledged exchange and per KiB flashed, for the library and
// the raw socket.
//
//   bench_update [--kib N] [--latency-ms N] [--rounds N] [--router | --usb]
//                (defaults: 1024 KiB, 0 ms, 3 rounds, the module straight on TCP/IP)
//
// --router updates a module that sits on the I2C bus of a router module, through the router's
// TCP/IP link (the raw socket sends the same packets, addressed to the module behind, on it).
// --usb updates the module 5EED0002 on the emulated USB bus through libusb, and compares it with
// the same exchanges made with plain libusb calls (bench/RawUsbLink.h) in place of the raw socket.
// It starts no simulator: run it under scripts/usb-run with that module plugged in, as
// scripts/bench does (usb-run --module serial=5EED0002,address=2,hb-ms=0,block-size=1024
// build/bench/bench_update --usb).
//
// Run it under scripts/netns-run: the simulator also listens for discovery requests.
#include <memory>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QuietDisplay.h"
#include "RawUsbLink.h"
#include "SimulatedModule.h"
#include "UpdaterEntity.h"
#include "qUEI.h"

using Pelmorax::Zendrival::Module;

namespace {

using bench::Endpoint;
using bench::RawLink;
using bench::secondsSince;

// The module updated: straight on TCP/IP or USB at kAddress, or behind the router at
// kBehindAddress.
constexpr uint32_t kSerial = 0x5EED0002;
constexpr uint8_t kAddress = 2;
constexpr uint32_t kRouterSerial = 0x5EED0003;
constexpr uint8_t kRouterAddress = 2;
constexpr uint8_t kBehindAddress = 8;
constexpr uint16_t kBlockSize = 1024;  // the simulator's piece size

enum class Path { Tcp, Router, Usb };

// How the module is reached: along which path, at which bus address, and (over TCP/IP) where the
// simulator listens.
struct Target {
    Path path = Path::Tcp;
    uint8_t address = kAddress;
    Endpoint endpoint;
};

std::vector<uint8_t> packet(uint8_t address, std::initializer_list<uint8_t> data) {
    std::vector<uint8_t> bytes = {address, static_cast<uint8_t>(data.size())};
    bytes.insert(bytes.end(), data);
    return bytes;
}

// A measured stretch: wall and CPU seconds; seconds negative on failure.
struct Measured {
    double seconds = -1;
    double cpuSeconds = 0;
};

// One DATA exchange of 26 bytes on a raw link (a socket, or libusb over USB), count times; the
// mean of one.
template <class Link>
Measured rawDataRoundTrip(Link& link, uint8_t address, int count) {
    Measured mean;
    std::vector<uint8_t> reply;
    if (!link.ok() || !link.exchange(packet(address, {95, 3, 0, 0, 0, 0x80, 0}), reply))
        return mean;
    std::vector<uint8_t> data = {address, 28, 95, 1};
    data.resize(30, 0x5A);
    bench::CpuMeter cpu;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!link.exchange(data, reply) || reply.size() < 3 || reply[2] != 26)
            return mean;
    }
    mean.seconds = secondsSince(start) / count;
    mean.cpuSeconds = cpu.seconds() / count;
    return mean;
}

// The pieces of one piece of image as the wire carries them: DATA packets of 26 bytes each
// awaiting their reply, or one UEI byte sequence (24 bytes a packet) in one write.
template <class Link>
bool rawPiece(Link& link, uint8_t address, const uint8_t* bytes, size_t length, bool useUEI) {
    std::vector<uint8_t> reply;
    if (!useUEI) {
        for (size_t done = 0; done < length; done += 26) {
            size_t n = std::min<size_t>(26, length - done);
            std::vector<uint8_t> data = {address, static_cast<uint8_t>(n + 2), 95, 1};
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
        wire.insert(wire.end(), {address, static_cast<uint8_t>(n + 4), 95, qUEI_OPTION_SET | 10,
                                 qUEI_INDEX_REQUEST});
        wire.insert(wire.end(), bytes + done, bytes + done + n);
        wire.push_back((more ? qUEI_BYTES_CONTINUE : 0) | (sequence & qUEI_BYTES_SEQUENCE_MASK));
    }
    return link.send(wire) && link.receive(reply);
}

// The same firmware block as the library sends it, on a raw link: the same acknowledged exchanges
// (PREPARE, then each piece's data, SUM and WRITE).
template <class Link>
Measured rawTransfer(Link& link, uint8_t address, const std::vector<uint8_t>& block, bool useUEI) {
    Measured total;
    std::vector<uint8_t> reply;
    bench::CpuMeter cpu;
    auto start = std::chrono::steady_clock::now();
    if (!link.ok() ||
        !link.exchange(packet(address, {95, 3, 0, block[0], block[1], block[2], block[3]}), reply))
        return total;
    for (size_t done = 4; done < block.size(); done += kBlockSize) {
        size_t piece = std::min<size_t>(kBlockSize, block.size() - done);
        if (!rawPiece(link, address, block.data() + done, piece, useUEI) ||
            !link.exchange(packet(address, {95, 4}), reply) ||
            !link.exchange(packet(address, {95, 5, uint8_t(piece >> 8), uint8_t(piece)}), reply))
            return total;
    }
    total.seconds = secondsSince(start);
    total.cpuSeconds = cpu.seconds();
    return total;
}

// The module under update, connected along the target's path without a link server; behind a
// router, through the router's own connection, which stays up as long as this does.
class Connection {
  public:
    explicit Connection(const Target& target) : module_(target.address, false, 0) {
        connected_ = open(target);
    }
    ~Connection() {
        module_.disconnect();
        if (router_)
            router_->disconnect();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool connected() const { return connected_; }
    Module& module() { return module_; }

  private:
    bool open(const Target& target) {
        switch (target.path) {
            case Path::Tcp:
                return bench::connectDirect(module_, target.endpoint, kSerial);
            case Path::Router:
                router_ = std::make_unique<Module>(kRouterAddress, 0);
                return bench::connectDirect(*router_, target.endpoint, kRouterSerial) &&
                       module_.connectThroughLinkModule(router_.get()) == qErrNone;
            case Path::Usb: {
                Pelmorax::Zendrival::VexnetConfig direct;
                direct.enabled = false;
                direct.fallback = false;
                module_.setConfig(direct);
                return module_.connect(linkTypeUSB, kSerial) == qErrNone;
            }
        }
        return false;
    }

    std::unique_ptr<Module> router_;
    Module module_;
    bool connected_ = false;
};

struct Transfer {
    double seconds = -1;
    double cpuSeconds = 0;
    unsigned long exchanges = 0;  // acknowledged request/reply pairs of the firmware block
};

// Starts the loader, then times one firmware block of the image.
Transfer timeUpdate(const Target& target, const std::vector<uint8_t>& block, bool useUEI) {
    Transfer transfer;
    Connection connection(target);
    if (!connection.connected()) {
        return transfer;
    }
    UpdaterEntity loader;
    loader.init(&connection.module(), 0, true, false);
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
    bench::CpuMeter cpu;
    auto start = std::chrono::steady_clock::now();
    if (loader.TransferPrepare(block.data(), block.size(), 0, size) != qErrNone || size == 0 ||
        loader.FirmwareTransfer(block.data(), block.size(), size, display) != qErrNone) {
        return transfer;
    }
    transfer.seconds = secondsSince(start);
    transfer.cpuSeconds = cpu.seconds();
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
    return transfer;
}

struct Options {
    unsigned kib = 1024;
    int latencyMs = 0;
    int rounds = 3;
    Path path = Path::Tcp;
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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--router") == 0)
            options.path = Path::Router;
        else if (std::strcmp(argv[i], "--usb") == 0)
            options.path = Path::Usb;
    }
    options.kib = std::max(1u, options.kib);
    return options;
}

// The best of each figure over the rounds: on a shared machine the best round is the one least
// disturbed by others.
struct Best {
    double seconds = 1e9;
    double cpuSeconds = 1e9;
    void add(double wall, double cpu) {
        seconds = std::min(seconds, wall);
        cpuSeconds = std::min(cpuSeconds, cpu);
    }
};

struct Figures {
    Best roundTrip;  // one raw DATA exchange
    Best rawPlain, rawUEI, plain, uei;
    unsigned long plainExchanges = 0, ueiExchanges = 0;
};

// rawName says what the raw side is: "raw socket", or "raw libusb" over USB.
void report(const char* name, const char* rawName, const Best& library, const Best& raw,
            unsigned long exchanges, const Best& roundTrip, unsigned long bytes) {
    const double kib = bytes / 1024.0;
    std::printf("  %s\n", name);
    std::printf("    through the library   %8.1f KiB/s  %7.3f s  (%lu acknowledged exchanges)\n",
                kib / library.seconds, library.seconds, exchanges);
    std::printf("    same bytes, %-10s %7.1f KiB/s  %7.3f s  ratio %.2f\n", rawName,
                kib / raw.seconds, raw.seconds, raw.seconds / library.seconds);
    std::printf("    exchanges x round trip          %7.3f s  ratio %.2f\n",
                exchanges * roundTrip.seconds, exchanges * roundTrip.seconds / library.seconds);
    bench::printCpuRow("    ", "exchange", library.cpuSeconds / exchanges,
                       raw.cpuSeconds / exchanges, rawName);
    bench::printCpuRow("    ", "KiB flashed", library.cpuSeconds / kib, raw.cpuSeconds / kib,
                       rawName);
}

// The raw side's measurements, each on a link of its own as the library's are: Link is made from
// linkArguments.
template <class Link, class Arguments>
bool measureRaw(uint8_t address, const std::vector<uint8_t>& block, int pingCount,
                const Arguments& linkArguments, Figures& figures) {
    Measured r, rp, ru;
    {
        Link link(linkArguments);
        r = rawDataRoundTrip(link, address, pingCount);
    }
    {
        Link link(linkArguments);
        rp = rawTransfer(link, address, block, false);
    }
    {
        Link link(linkArguments);
        ru = rawTransfer(link, address, block, true);
    }
    if (r.seconds < 0 || rp.seconds < 0 || ru.seconds < 0)
        return false;
    figures.roundTrip.add(r.seconds, r.cpuSeconds);
    figures.rawPlain.add(rp.seconds, rp.cpuSeconds);
    figures.rawUEI.add(ru.seconds, ru.cpuSeconds);
    return true;
}

// One round of every measurement; false when an exchange failed.
bool measureRound(const Target& target, const std::vector<uint8_t>& block, int pingCount,
                  Figures& figures) {
    const bool rawDone =
        target.path == Path::Usb
            ? measureRaw<bench::RawUsbLink>(target.address, block, pingCount, kSerial, figures)
            : measureRaw<RawLink>(target.address, block, pingCount, target.endpoint, figures);
    if (!rawDone)
        return false;
    Transfer p = timeUpdate(target, block, false);
    Transfer u = timeUpdate(target, block, true);
    if (p.seconds < 0 || u.seconds < 0)
        return false;
    figures.plain.add(p.seconds, p.cpuSeconds);
    figures.uei.add(u.seconds, u.cpuSeconds);
    figures.plainExchanges = p.exchanges;
    figures.ueiExchanges = u.exchanges;
    return true;
}

// The simulator's module descriptions for the path (none for USB: scripts/usb-run plugs it in).
std::vector<std::string> simulatorArguments(const Options& options) {
    char updated[200];
    std::snprintf(updated, sizeof(updated),
                  "serial=%08X,address=%u,hb-ms=0,features=0x80000000,block-size=%u,latency-ms=%d",
                  kSerial, options.path == Path::Router ? kBehindAddress : kAddress, kBlockSize,
                  options.latencyMs);
    if (options.path == Path::Router) {
        char router[120], behind[40];
        std::snprintf(router, sizeof(router), "serial=%08X,address=%u,hb-ms=0,tcp=127.0.0.1:0",
                      kRouterSerial, kRouterAddress);
        std::snprintf(behind, sizeof(behind), ",behind=%08X", kRouterSerial);
        return {"--duration", "1800",     "--module",
                router,       "--module", updated + std::string(behind)};
    }
    return {"--duration", "1800", "--module", updated + std::string(",tcp=127.0.0.1:0")};
}

const char* pathName(Path path) {
    switch (path) {
        case Path::Tcp:
            return "over loopback TCP";
        case Path::Router:
            return "through a router module over loopback TCP";
        case Path::Usb:
            return "over the emulated USB bus";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    Target target;
    target.path = options.path;
    target.address = options.path == Path::Router ? kBehindAddress : kAddress;
    std::unique_ptr<zvtest::BackgroundProgram> sim;
    if (options.path == Path::Usb) {
        if (std::getenv("UMOCKDEV_DIR") == nullptr) {
            std::fprintf(stderr,
                         "--usb needs the emulated USB bus: run it under scripts/usb-run --module "
                         "serial=%08X,address=%u,hb-ms=0,block-size=%u\n",
                         kSerial, kAddress, kBlockSize);
            return 1;
        }
    } else {
        sim = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(),
                                                          simulatorArguments(options));
        if (!bench::simulatorListening(*sim, &target.endpoint))
            return 1;
    }
    const unsigned long bytes = options.kib * 1024ul;
    std::vector<uint8_t> block(4 + bytes);
    block[2] = 0x80;  // load address 0x8000
    for (size_t i = 4; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    }
    const int pingCount = options.latencyMs > 0 ? 200 : 5000;
    Figures figures;
    for (int round = 0; round < options.rounds; ++round) {
        if (!measureRound(target, block, pingCount, figures)) {
            std::fprintf(stderr, "an exchange failed\n");
            return 1;
        }
    }
    std::printf("Firmware update of %u KiB %s, simulator latency %d ms, best of %d\n", options.kib,
                pathName(options.path), options.latencyMs, options.rounds);
    const char* rawName = options.path == Path::Usb ? "raw libusb" : "raw socket";
    std::printf("  raw DATA round trip        %8.1f us\n", figures.roundTrip.seconds * 1e6);
    report("plain DATA packets", rawName, figures.plain, figures.rawPlain, figures.plainExchanges,
           figures.roundTrip, bytes);
    report("UEI data, pooled packets", rawName, figures.uei, figures.rawUEI, figures.ueiExchanges,
           figures.roundTrip, bytes);
    std::printf("  UEI data / plain speed     %8.2f   (target: at least 5)\n",
                figures.plain.seconds / figures.uei.seconds);
    if (options.path == Path::Usb) {
        std::printf("  (target for the ratio to raw libusb: at least 0.90)\n");
        // umockdev's preload hands every USB request of this process to the simulator over a
        // socket, so that work is in this process's CPU too, which a real bus does not cost.
        std::printf("  (the emulated bus's forwarding of each USB request is in both CPU times)\n");
    } else if (options.latencyMs == 0) {
        std::printf(
            "  (targets for the ratio to the raw socket: plain DATA at least 0.90, UEI data "
            "at least 0.85)\n");
    } else {
        // With latency the module's wait dominates, and the library should add next to nothing.
        std::printf("  (target for the ratio of each path to the raw socket: at least 0.97)\n");
    }
    return 0;
}
