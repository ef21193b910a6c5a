#include "UsbLink.h"

#include <cstdio>

namespace modulesim {

namespace {

// The acknowledgement of a restart request leaves before the device drops off the bus.
constexpr int kRebootAfterAckMs = 100;

UsbIdentity identityOf(const ModuleConfig& config) {
    UsbIdentity identity;
    char serial[9];
    snprintf(serial, sizeof serial, "%08X", config.serial);
    identity.serialText = config.usb.hasSerialText ? config.usb.serialText : serial;
    identity.productId =
        static_cast<uint16_t>(config.usb.productId >= 0 ? config.usb.productId : config.model);
    identity.productName = "Zendrival module";
    identity.maxPacket = config.usb.maxPacket;
    return identity;
}

}  // namespace

UsbLink::UsbLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log,
                 UsbBus& bus, int port)
    // The simulator holds both ends of the pair, so the channel only ends when something broke.
    : HostLink(loop, front, defaultLatencyMs, log, {"usb channel failed", true}),
      bus_(bus),
      port_(port),
      identity_(identityOf(front.config())) {}

UsbLink::~UsbLink() {
    loop_.cancel(rebootTimer_);
    unplug();
}

bool UsbLink::open(std::string& error) {
    return plugIn(error);
}

bool UsbLink::plugIn(std::string& error) {
    if (gadget_ != nullptr) {
        return true;
    }
    auto gadget =
        std::make_unique<UsbGadget>(front_.serial(), identity_, front_.config().usb, log_);
    if (!gadget->open(error) || !bus_.plug(*gadget, identity_, port_, plugged_, error)) {
        return false;
    }
    gadget_ = std::move(gadget);
    setChannel(gadget_->moduleFd());
    log_.note(front_.serial(), "usb plugged in at " + plugged_.node);
    return true;
}

void UsbLink::unplug() {
    if (gadget_ == nullptr) {
        return;
    }
    endSession();
    clearChannel();
    gadget_->unplug();
    bus_.unplug(plugged_);
    plugged_ = UsbBus::Plugged();
    retired_.push_back(std::move(gadget_));
    log_.note(front_.serial(), "usb unplugged");
}

void UsbLink::describe(std::vector<std::string>& lines) const {
    char serial[9];
    snprintf(serial, sizeof serial, "%08X", front_.serial());
    lines.push_back(std::string("usb ") + serial + " " + plugged_.node);
}

void UsbLink::dropHost() {
    unplug();  // like a module pulled from its port: it does not come back
}

void UsbLink::rebootFront() {
    if (rebootTimer_ != 0) {
        return;
    }
    rebootTimer_ = loop_.after(kRebootAfterAckMs + latencyFor(front_), [this]() {
        unplug();
        if (restartHandler_) {
            rebootTimer_ = 0;
            restartHandler_();
            return;
        }
        front_.reboot(EventLoop::nowMs());
        rebootTimer_ = loop_.after(front_.config().rebootMs, [this]() {
            rebootTimer_ = 0;
            std::string error;
            if (!plugIn(error)) {
                fprintf(stderr, "modulesim: %08X stays away after its restart: %s\n",
                        front_.serial(), error.c_str());
            }
        });
    });
}

void UsbLink::sessionChanging() {
    if (gadget_ != nullptr) {
        gadget_->dropUnread();
    }
}

}  // namespace modulesim
