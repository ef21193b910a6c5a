// A module on the emulated USB bus: the host reaches it through libusb on a usbfs node. A
// restart takes the device off the bus and brings it back under a new device number after the
// module's reboot time, as a real module re-enumerates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HostLink.h"
#include "UsbBus.h"
#include "UsbGadget.h"

namespace modulesim {

class UsbLink : public HostLink {
  public:
    // port: the hub port, which keeps the device's place on the bus across restarts.
    UsbLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log,
            UsbBus& bus, int port);
    ~UsbLink() override;

    bool open(std::string& error) override;
    void describe(std::vector<std::string>& lines) const override;

    // Put on the bus (under a fresh device number) and taken off it by whoever owns the module's
    // life, when it is not always on the bus.
    bool plugIn(std::string& error);
    void unplug();
    bool pluggedIn() const { return gadget_ != nullptr; }
    // With a handler, a restart the module asks for takes it off the bus and hands it to the
    // handler, which decides what the module comes back as; without one it comes back itself.
    void setRestartHandler(std::function<void()> handler) { restartHandler_ = std::move(handler); }

  protected:
    void dropHost() override;
    void rebootFront() override;
    void sessionChanging() override;

  private:
    UsbBus& bus_;
    int port_;
    UsbIdentity identity_;
    std::unique_ptr<UsbGadget> gadget_;
    // Gadgets of earlier enumerations: hosts may still hold their nodes open, and umockdev
    // keeps calling them until the bus shuts down.
    std::vector<std::unique_ptr<UsbGadget>> retired_;
    UsbBus::Plugged plugged_;
    EventLoop::TimerId rebootTimer_ = 0;
    std::function<void()> restartHandler_;
};

}  // namespace modulesim
