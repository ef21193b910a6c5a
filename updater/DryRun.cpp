// What an update learns of its module and file before it sends anything, and the plan a dry run
// ("-n") prints instead of sending: the module, its build, the chosen build and where it came
// from, the file's blocks and bytes, and how long the transfer would take on this link.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "DeviceQueries.h"
#include "UpdaterEntity.h"
#include "Updater.h"
#include "UpdaterStore.h"
#include "autoGen_SystemClass_CPP.h"
#include "qDefs.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
// Read-only requests timed for the round trip; the median keeps one slow answer out.
constexpr int ROUND_TRIP_SAMPLES = 5;
// Per block beyond its data packets: PREPARE and the sums' check, and WRITE for firmware.
constexpr unsigned EXCHANGES_PER_BLOCK = 3;
// LOAD's start, the loader's start and REBOOT.
constexpr unsigned EXCHANGES_PER_UPDATE = 3;
// An LPC bootloader takes flash data uuencoded (4 characters for 3 bytes), in lines with a
// checksum every 20 lines, at 10 bits a character: about 14.7 bits on the line per byte.
constexpr double UUENCODED_BITS_PER_BYTE = 10.0 * 4.0 / 3.0 * 1.1;

const char* linkNameOf(const linkSpec& spec) {
    switch (spec.type) {
        case linkTypeUSB:
            return "USB";
        case linkTypeTCPIP:
            return "TCP";
        default:
            return "other";
    }
}

// Median milliseconds of a read-only request and its reply; 0 when the module did not answer.
double measureRoundTrip(Module& module) {
    SystemClass system;
    system.init(&module, 0);
    std::vector<double> samples;
    for (int i = 0; i < ROUND_TRIP_SAMPLES; ++i) {
        uint32_t serial = 0;
        const auto start = std::chrono::steady_clock::now();
        if (system.getSerialNumber(&serial) != qErrNone) {
            continue;
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        samples.push_back(took.count());
    }
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Exchanges of the transfer in plain data packets, each of which the module answers. "-m" may
// need far fewer, once the module says it takes byte sequences; this is the most it takes.
unsigned estimateExchanges(const BirdFile& file) {
    unsigned exchanges = EXCHANGES_PER_UPDATE;
    for (const BirdBlock& block : file.GetBlocks()) {
        if (block.type != BirdFile::BLOCK_LOADER && block.type != BirdFile::BLOCK_FIRMWARE) {
            continue;
        }
        const unsigned payload = block.length > 4 ? block.length - 4 : 0;
        exchanges += (payload + UpdaterEntity::DATA_PIECE_MAX - 1) / UpdaterEntity::DATA_PIECE_MAX;
        exchanges += EXCHANGES_PER_BLOCK;
    }
    return exchanges;
}

}  // namespace

void Updater::noteModule(Module& target, unsigned routerSerial) {
    if (routerSerial != 0) {
        outcome.link = "I2C";
    } else {
        linkSpec used{};
        target.getLinkSpecifier(&used);
        outcome.link = linkNameOf(used);
    }
}

void Updater::noteBuildBefore(Module& target) {
    // Model and build cost a request each, which only a run that decides or plans by them
    // makes, so that a plain update sends exactly what it always sent.
    if (!dryRun && !skipCurrent) {
        return;
    }
    SystemClass system;
    system.init(&target, 0);
    uint8_t model = 0;
    if (system.getModel(&model) == qErrNone) {
        outcome.model = qDefs_GetModelName(model);
    }
    outcome.buildBefore = _get_build_number(target);
}

void Updater::noteFile(const BirdFile& file) {
    outcome.file = file.GetPath();
    if (!file.FindBlocks(BirdFile::BLOCK_INFO).empty()) {
        outcome.chosenBuild = file.GetBuild();
    }
    outcome.blocks = 0;
    outcome.bytes = 0;
    for (const BirdBlock& block : file.GetBlocks()) {
        if (block.type == BirdFile::BLOCK_LOADER || block.type == BirdFile::BLOCK_FIRMWARE) {
            ++outcome.blocks;
            outcome.bytes += block.length;
        }
    }
}

BirdFile Updater::loadStoredOrGiven(unsigned serial, const std::string& birdFile, unsigned build,
                                    const char* verb) {
    if (!birdFile.empty()) {
        display.message(INFO, "%s from Birdfile: %s", verb, birdFile.c_str());
        return BirdFile(birdFile.c_str());
    }
    display.message(INFO, "%s firmware with build: %u", verb, build);
    UpdaterStore store(storageDirectory.c_str(), true);
    UpdaterStoreItem item;
    if (!store.FindDevice(serial, &item)) {
        throw std::runtime_error("Error reading birdfile");
    }
    return item.ReadBirdFile((std::to_string(build) + ".bird").c_str());
}

bool Updater::storedRecoveryImage(unsigned serial, unsigned build) {
    UpdaterStore store(storageDirectory.c_str(), true);
    UpdaterStoreItem item;
    return store.FindDevice(serial, &item) && storeHolds(item, build);
}

bool Updater::planRecovery(unsigned baud) {
    planBaud = baud;
    if (baud != 0) {
        outcome.estimateSeconds = outcome.bytes * UUENCODED_BITS_PER_BYTE / baud;
    }
    showPlan();
    outcome.result = UpdateResult::WOULD_UPDATE;
    return true;
}

void Updater::announceDryRun(unsigned serial) {
    if (dryRun && !dryRunAnnounced) {
        dryRunAnnounced = true;
        display.message(INFO, "Dry run: nothing will be written to module %08X or to the store",
                        serial);
    }
}

bool Updater::planUpdate(Module& target, const BirdFile& file) {
    outcome.roundTripMs = measureRoundTrip(target);
    if (!file.GetPath().empty()) {
        outcome.exchanges = estimateExchanges(file);
        outcome.estimateSeconds = outcome.exchanges * outcome.roundTripMs / 1000.0;
    }
    showPlan();
    outcome.result = UpdateResult::WOULD_UPDATE;
    return true;
}

void Updater::showPlan() {
    if (outcome.link == "RECOVER") {
        display.message(INFO, "Module:   %08X through its ROM bootloader", outcome.serial);
    } else {
        display.message(INFO, "Module:   %08X on %s, model %s, build %u", outcome.serial,
                        outcome.link.c_str(), outcome.model.empty() ? "?" : outcome.model.c_str(),
                        outcome.buildBefore);
    }
    display.message(INFO, "Build:    %u from %s", outcome.chosenBuild,
                    BuildSourceText(outcome.source));
    if (outcome.file.empty()) {
        display.message(INFO, "File:     downloaded first; its size is known then");
        return;
    }
    display.message(INFO, "File:     %s, %u blocks, %lu bytes", outcome.file.c_str(),
                    outcome.blocks, outcome.bytes);
    if (outcome.exchanges != 0) {
        display.message(INFO, "Estimate: %u exchanges at %.2f ms: %.1f s", outcome.exchanges,
                        outcome.roundTripMs, outcome.estimateSeconds);
    } else {
        display.message(INFO, "Estimate: %lu bytes at %u baud: %.1f s", outcome.bytes, planBaud,
                        outcome.estimateSeconds);
    }
}
