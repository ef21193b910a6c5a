// A module built on an i.MX chip whose firmware does not start: it sits in the chip's boot ROM,
// which answers the Serial Download Protocol on its port. The host writes the recovery loader
// into RAM and jumps to it; the loader then enumerates on the emulated USB bus as a module
// (serial 0xDEADDEAD unless told otherwise) whose upgrade loader runs at once and which knows the
// chip's unique identifier. A system reset sends the chip back to its ROM; new firmware committed
// through the loader makes it come back as the module itself, running that firmware.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "PacketLog.h"
#include "RomPort.h"
#include "SdpRom.h"
#include "SimConfig.h"
#include "SimModule.h"
#include "UsbBus.h"
#include "UsbLink.h"

namespace modulesim {

class ImxChip {
  public:
    // firmware: the module as its own firmware presents it once that runs.
    ImxChip(EventLoop& loop, SimModule& firmware, int defaultLatencyMs, const PacketLog& log,
            UsbBus& bus, int usbPort);
    ~ImxChip();
    ImxChip(const ImxChip&) = delete;
    ImxChip& operator=(const ImxChip&) = delete;

    bool open(std::string& error);
    // "imx-rom SERIAL /dev/pts/N" (or "imx-rom-hid SERIAL /dev/hidrawN").
    void describe(std::vector<std::string>& lines) const;

  private:
    enum class Phase { Rom, LoaderStarting, Loader, Firmware, Hung };

    static ModuleConfig loaderConfigFor(const ModuleConfig& chip);
    void romBytes(const uint8_t* bytes, size_t count);
    void armIdleTimer();
    void recordWrite(const RamWrite& write);
    void jump(uint32_t address);
    void loaderRuns();
    void loaderRestarts();
    void firmwareRuns();
    void note(const std::string& text) const { log_.note(firmware_.serial(), text); }

    EventLoop& loop_;
    SimModule& firmware_;
    const PacketLog& log_;
    const ModuleConfig loaderConfig_;
    SimModule loader_;
    SdpRom rom_;
    std::unique_ptr<RomPort> port_;
    std::unique_ptr<UsbLink> loaderLink_;
    std::unique_ptr<UsbLink> firmwareLink_;
    Phase phase_ = Phase::Rom;
    EventLoop::TimerId idleTimer_ = 0;
    EventLoop::TimerId startTimer_ = 0;
};

}  // namespace modulesim
