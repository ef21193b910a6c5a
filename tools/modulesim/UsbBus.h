// The emulated USB bus (umockdev): sysfs entries and usbfs device nodes under a private root
// directory, where programs started with libumockdev-preload and UMOCKDEV_DIR set to that
// directory find them with the real libusb. One per simulator process.
#pragma once

#include <umockdev.h>

#include <optional>
#include <string>
#include <vector>

#include "UsbGadget.h"

namespace modulesim {

class UsbBus {
  public:
    UsbBus() = default;
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    bool open(std::string& error);
    // Removes the root directory; devices plugged later are refused.
    void shutdown();
    const std::string& rootDir() const { return root_; }

    struct Plugged {
        std::string sysPath;
        std::string node;  // /dev/bus/usb/001/DDD as the programs see it
    };
    // Announces the gadget's device at the given hub port under a fresh device number, as a
    // real device gets on every enumeration.
    bool plug(UsbGadget& gadget, const UsbIdentity& identity, int port, Plugged& plugged,
              std::string& error);
    void unplug(const Plugged& plugged);

    // What sysfs and udev tell of a device on the bus.
    struct DeviceEntry {
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        std::optional<std::string> bcdDevice;
        std::optional<std::string> serialText;
        std::string manufacturer;
        std::string product;
        std::string productProperty;  // udev's PRODUCT, vendor/product/release
        bool highSpeed = false;
    };
    // Adds the device at a hub port under its device number; its sysfs path, or "" when
    // umockdev refused it.
    std::string addUsbDevice(int port, int number, const DeviceEntry& entry);

    // Devices of other kinds (a HID device and its hidraw node), built up piece by piece.
    // The sysfs path of the new device, or "" when umockdev refused it. attributes and
    // properties alternate names and values; parent "" puts the device at the top.
    std::string addDevice(const char* subsystem, const std::string& name, const std::string& parent,
                          std::vector<std::string> attributes, std::vector<std::string> properties);
    void setBinaryAttribute(const std::string& sysPath, const char* name,
                            const std::vector<uint8_t>& value);
    // A device node (/dev/...) whose requests go to handler.
    bool attachNode(const std::string& node, UMockdevIoctlBase* handler, std::string& error);
    void announce(const std::string& sysPath, const char* action);
    void removeDevice(const std::string& sysPath, const std::string& node);
    int takeDeviceNumber();

  private:
    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    int nextDeviceNumber_ = 2;  // 1 is the root hub's
};

}  // namespace modulesim
