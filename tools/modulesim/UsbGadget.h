// One module as a device on the emulated USB bus: its descriptors and strings, and the usbfs
// requests a host's libusb makes on its device node (claiming the interface, control and bulk
// transfers, clearing a halt), answered the way the kernel answers them for a real device.
//
// umockdev hands every request to a handler on its own worker thread. Bulk OUT bytes go into
// one end of a socket pair and bulk IN transfers are filled from it; the simulator's event loop
// holds the other end as the module's byte channel, so the module itself never sees a thread.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "PacketLog.h"
#include "SimConfig.h"

namespace modulesim {

// The maker's USB vendor id; its modules enumerate under it.
constexpr uint16_t kZendrivalVendorId = 0x2B7E;

struct UsbIdentity {
    uint16_t productId = 0;
    std::string serialText;
    std::string productName;
    uint16_t maxPacket = 512;
};

class UsbGadget {
  public:
    UsbGadget(uint32_t serial, const UsbIdentity& identity, const UsbKnobs& knobs,
              const PacketLog& log);
    ~UsbGadget();
    UsbGadget(const UsbGadget&) = delete;
    UsbGadget& operator=(const UsbGadget&) = delete;

    bool open(std::string& error);
    // The simulator's end of the byte channel.
    int moduleFd() const { return moduleFd_; }
    // The umockdev handler to attach to the device node.
    UMockdevIoctlBase* handler() const { return handler_; }
    // What the sysfs "descriptors" attribute and the node hold: device then configuration.
    std::vector<uint8_t> descriptors() const;

    // The device left the bus: every request on a node still open fails as on a real unplug.
    void unplug() { gone_ = true; }
    // Bytes the module sent that no host has read yet are dropped, before anything the module
    // sends next.
    void dropUnread();

    // Called on umockdev's worker thread.
    bool handleIoctl(UMockdevIoctlClient* client);
    void clientVanished(UMockdevIoctlClient* client);

  private:
    struct Urb {
        UMockdevIoctlClient* client;
        UMockdevIoctlData* urb;     // the host's usbdevfs_urb
        UMockdevIoctlData* buffer;  // its data buffer (null for a zero-length transfer)
        bool done = false;
        int status = 0;
        int actualLength = 0;
    };

    long submit(UMockdevIoctlClient* client, UMockdevIoctlData* urbData, int& error);
    void control(Urb& urb);
    void bulkOut(Urb& urb);
    bool fillBulkIn(Urb& urb);
    long reap(UMockdevIoctlClient* client, UMockdevIoctlData* slot, int& error);
    long discard(UMockdevIoctlClient* client, unsigned long urbAddress, int& error);
    long claim(UMockdevIoctlClient* client, uint32_t interfaceNumber, int& error);
    void releaseUrb(Urb& urb);
    void drainUnread();
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;

    uint32_t serial_;
    UsbIdentity identity_;
    UsbKnobs knobs_;
    const PacketLog& log_;
    UMockdevIoctlBase* handler_ = nullptr;
    int moduleFd_ = -1;
    int hostFd_ = -1;  // the worker thread's end
    std::atomic<bool> gone_{false};

    std::mutex mutex_;
    std::list<Urb> urbs_;
    UMockdevIoctlClient* owner_ = nullptr;  // the client that claimed the interface
    bool outHalted_ = false;
    uint32_t outTransfers_ = 0;
    uint32_t inErrorsLeft_ = 0;
};

}  // namespace modulesim
