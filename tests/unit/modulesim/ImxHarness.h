// An i.MX chip in the module simulator, reached as a host reaches it: Serial Download Protocol
// bytes on the ROM's pseudo-terminal, and, once the recovery loader runs, the device library
// over the emulated USB bus. The library only sees that bus from a process that has umockdev's
// preload from its start, so those steps run in a fresh copy of this test program (a probe).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "SimHarness.h"
#include "TestSupport.h"

namespace imxtest {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kWriteFile = 0x0404;
constexpr uint16_t kErrorStatus = 0x0505;
constexpr uint16_t kJumpAddress = 0x0B0B;
constexpr uint32_t kLoadAddress = 0x20000000;
constexpr uint32_t kStartAddress = 0x20000400;

// A 16-byte command, every field big-endian.
Bytes sdpCommand(uint16_t type, uint32_t address = 0, uint8_t format = 0, uint32_t count = 0);
// The answer words as the UART carries them: four little-endian bytes each.
Bytes answerBytes(const std::vector<uint32_t>& words);
Bytes pattern(size_t count, uint32_t seed);

// The simulator with one i.MX module, its ROM terminal and its log.
class ImxSim {
  public:
    ImxSim();
    ~ImxSim();

    // Starts modulesim with "--module DESCRIPTION" (the attachment included); false with the
    // reason when it did not come up.
    bool start(const std::string& description, std::string* why);
    const std::string& romPath() const { return romPath_; }
    const std::string& usbRoot() const { return usbRoot_; }
    std::string file(const std::string& name) const { return scratch_.file(name); }

    // The ROM terminal, opened raw as a host opens a serial port.
    bool openRom();
    void send(const Bytes& bytes);
    // Up to count bytes, whatever arrived within timeoutMs.
    Bytes receive(size_t count, int timeoutMs = simtest::kReplyWaitMs);
    // True when nothing arrives within ms milliseconds.
    bool quietFor(int ms);

    // Waits (up to timeoutMs) until the simulator's log holds a line ending in text.
    bool awaitNote(const std::string& text, int timeoutMs = 10000) const;
    size_t countNotes(const std::string& text) const;

    // Writes bytes to address (in 1024-byte pieces, as a host does), and returns the answer.
    Bytes writeFile(uint32_t address, const Bytes& bytes);
    // A loader written and started: true once the loader runs on the USB bus under serial.
    bool loadAndStart(const Bytes& loader, const std::string& serial = "DEADDEAD");

  private:
    zvtest::TempDir scratch_;
    std::unique_ptr<zvtest::BackgroundProgram> program_;
    std::string romPath_;
    std::string usbRoot_;
    int rom_ = -1;
};

// Runs probe NAME of ImxLoaderProbe in a copy of this program beside the simulator's USB bus,
// with ZV_IMX_PROBE_ARG set to argument; the probe writes what it found to the returned text.
// *passed tells whether the probe's own checks held.
std::string runProbe(const ImxSim& sim, const std::string& name, const std::string& argument,
                     bool* passed);

// In a probe: its argument, and where its findings go. Empty when this is no probe run.
std::string probeArgument();
void probeReport(const std::string& text);

}  // namespace imxtest
