// The firmware upgrade command set (command 95) as the module's upgrade loader answers it.
//
// The host starts the loader (INIT), sends the loader's own blocks into RAM (PREPARE, DATA...,
// SUM), runs it (LOAD), then sends each firmware block in pieces: PREPARE once per block, then
// per piece DATA... (or one byte sequence of UEI option 10), SUM and WRITE, which puts the piece
// into flash. REBOOT commits what was written and restarts the module into it.
#pragma once

#include <cstdint>
#include <vector>

#include "FlashModel.h"
#include "Outcome.h"
#include "SimConfig.h"
#include "Uei.h"

namespace modulesim {

// What firmware just committed announces about itself in its image.
struct FirmwareStamps {
    bool hasBuild = false;
    uint32_t build = 0;
    bool hasVersion = false;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t patch = 0;
};

class UpgradeLoader {
  public:
    explicit UpgradeLoader(const LoaderKnobs& knobs)
        : knobs_(knobs), running_(knobs.loaderFromStart) {}

    void handle(const Packet& request, uint8_t address, Outcome& outcome);
    bool takesUeiData() const { return !knobs_.noUeiData; }
    bool running() const { return running_; }
    // REBOOT committed new firmware, and the coming restart boots into it.
    bool bootsNewFirmware() const { return committed_; }

    // The host went away: a block it was sending will not be finished. The loader itself keeps
    // running; it lives in the module, not in the connection.
    void abandonBlock();
    // The module restarts. What the firmware it now runs announces, when that firmware was just
    // committed; nothing otherwise.
    FirmwareStamps restart();

  private:
    enum class Boot { Firmware, Loader };

    void init(uint8_t address, Outcome& outcome);
    void prepare(const Packet& request, uint8_t address, Outcome& outcome);
    void data(const Packet& request, uint8_t address, Outcome& outcome);
    void sum(uint8_t address, Outcome& outcome);
    void write(const Packet& request, uint8_t address, Outcome& outcome);
    void load(uint8_t address, Outcome& outcome);
    void reboot(Outcome& outcome);
    void ueiData(const Packet& request, uint8_t address, Outcome& outcome);
    uint8_t writeStatus(uint32_t length) const;
    void takePiece(const uint8_t* bytes, size_t count);
    void commit();
    // Every reply of command 95 goes through here, so drop-reply can count them.
    void reply(Outcome& outcome, Packet packet);

    const LoaderKnobs& knobs_;
    bool running_;                // LOAD was answered: the loader, not the firmware, runs
    bool committed_ = false;      // REBOOT committed what was written; cleared by the restart
    bool wroteFirmware_ = false;  // a WRITE since LOAD, so REBOOT has something to commit
    Boot nextBoot_ = Boot::Firmware;
    FirmwareStamps pendingStamps_;  // of the image just committed

    bool blockOpen_ = false;  // a PREPARE was accepted
    uint32_t blockAddress_ = 0;
    uint64_t writeOffset_ = 0;  // where the next WRITE goes, from the block address
    uint32_t sum_ = 0;          // of every byte since PREPARE or the last WRITE
    std::vector<uint8_t> piece_;
    BytesCollector collector_;
    FlashModel flash_;

    // Counters for the fault knobs; they run for the life of the simulator.
    uint64_t repliesSent_ = 0;
    uint64_t dataReceived_ = 0;
    uint64_t sumsAnswered_ = 0;

    // The firmware-only fault knobs: PREPAREs after LOAD, and attempts at the first firmware
    // block (each starts with a PREPARE of its address).
    uint8_t firmwarePrepareStatus();
    bool refusesFirmwareWrite() const;
    uint64_t firmwarePrepares_ = 0;
    bool sawFirmwareBlock_ = false;
    uint32_t firstFirmwareAddress_ = 0;
    uint64_t firstBlockAttempts_ = 0;
};

}  // namespace modulesim
