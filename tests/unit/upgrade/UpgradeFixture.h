// A simulated module with its upgrade loader, connected over TCP/IP as the updater connects, and
// the tools to watch what crossed the link: the packet log, the diagnostic log and the flash the
// simulator wrote.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "Module.h"
#include "TestSupport.h"
#include "UpdaterDisplayInterface.h"

namespace upgradetest {

constexpr uint32_t kSerial = 0x40F5849A;

// What an operation showed the user.
class RecordingDisplay : public UpdaterDisplayInterface {
  public:
    void display_progress(bool start) override { (start ? progressStarts : progressEnds)++; }
    void update_progress(double fraction, const char*) override { fractions.push_back(fraction); }
    void update_spinner(bool active, const char*) override { (active ? spins : spinStops)++; }
    void info_message(const char* text) override { infos.emplace_back(text); }
    void error_message(const char* text) override { errors.emplace_back(text); }

    int progressStarts = 0, progressEnds = 0, spins = 0, spinStops = 0;
    std::vector<double> fractions;
    std::vector<std::string> infos, errors;
};

// One packet the host sent, as the packet log recorded it: command, sub-command, data length.
struct SentPacket {
    int command = 0;
    int sub = 0;
    int dataLength = 0;  // data bytes after the command byte
    std::vector<int> data;
};

class UpgradeTest : public ::testing::Test {
  protected:
    void TearDown() override;

    // The simulated module's --module description with these extra keys.
    std::string moduleDescription(const std::string& keys = "") const;
    // Starts the simulator with these extra module keys and connects; false when it could not.
    void startModule(const std::string& keys = "");
    // A block payload: the load address, then length bytes of a repeatable pattern.
    static std::vector<uint8_t> block(uint32_t address, size_t length, uint8_t seed = 1);
    // Turns on the host's packet log and the diagnostic log of the upgrade exchange.
    void watch();
    // The upgrade packets the host sent since watch(), once the log holds at least minimum.
    std::vector<SentPacket> sentUpgradePackets(size_t minimum);
    std::string diagnosticLog();
    std::string flashImage() { return zvtest::readFile(dir.file("flash.bin")); }

    zvtest::TempDir dir;
    std::unique_ptr<zvtest::BackgroundProgram> sim;
    Pelmorax::Zendrival::Module module{2, 0};
    RecordingDisplay display;
    FILE* logFile = nullptr;
};

}  // namespace upgradetest
