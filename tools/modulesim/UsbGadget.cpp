#include "UsbGadget.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

// The GObject that umockdev calls: a usbfs handler that forwards to its UsbGadget.
struct ZvUsbHandler {
    UMockdevIoctlBase parent;
    modulesim::UsbGadget* gadget;
};
struct ZvUsbHandlerClass {
    UMockdevIoctlBaseClass parent;
};

G_DEFINE_TYPE(ZvUsbHandler, zv_usb_handler, UMOCKDEV_TYPE_IOCTL_BASE)

static gboolean zvUsbHandleIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    return reinterpret_cast<ZvUsbHandler*>(base)->gadget->handleIoctl(client);
}

static void zvUsbClientVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    reinterpret_cast<ZvUsbHandler*>(base)->gadget->clientVanished(client);
}

static void zv_usb_handler_class_init(ZvUsbHandlerClass* handlerClass) {
    handlerClass->parent.handle_ioctl = zvUsbHandleIoctl;
    handlerClass->parent.client_vanished = zvUsbClientVanished;
}

static void zv_usb_handler_init(ZvUsbHandler* handler) {
    handler->gadget = nullptr;
}

namespace modulesim {

namespace {

constexpr uint8_t kOutEndpoint = 0x01;
constexpr uint8_t kInEndpoint = 0x81;
constexpr uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
// How long a bulk OUT may wait for the simulator to take its bytes before it fails.
constexpr int kOutWaitMs = 1000;

void putLittle16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// The argument of a request that passes a pointer to a record of the request's size.
UMockdevIoctlData* pointedRecord(UMockdevIoctlClient* client, size_t size) {
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    if (argument == nullptr || size == 0) {
        return nullptr;
    }
    return umockdev_ioctl_data_resolve(argument, 0, size, nullptr);
}

bool readUint32(UMockdevIoctlClient* client, uint32_t& value) {
    UMockdevIoctlData* record = pointedRecord(client, sizeof value);
    if (record == nullptr) {
        return false;
    }
    memcpy(&value, record->data, sizeof value);
    g_object_unref(record);
    return true;
}

}  // namespace

UsbGadget::UsbGadget(uint32_t serial, const UsbIdentity& identity, const UsbKnobs& knobs,
                     const PacketLog& log)
    : serial_(serial), identity_(identity), knobs_(knobs), log_(log) {
    inErrorsLeft_ = knobs.inErrors;
}

UsbGadget::~UsbGadget() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Urb& urb : urbs_) {
        releaseUrb(urb);
    }
    urbs_.clear();
    if (handler_ != nullptr) {
        g_object_unref(handler_);
    }
    if (moduleFd_ >= 0) {
        close(moduleFd_);
    }
    if (hostFd_ >= 0) {
        close(hostFd_);
    }
}

bool UsbGadget::open(std::string& error) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::string("cannot make a socket pair: ") + strerror(errno);
        return false;
    }
    moduleFd_ = pair[0];
    hostFd_ = pair[1];
    auto* handler = static_cast<ZvUsbHandler*>(g_object_new(zv_usb_handler_get_type(), nullptr));
    handler->gadget = this;
    handler_ = &handler->parent;
    return true;
}

std::vector<uint8_t> UsbGadget::descriptors() const {
    std::vector<uint8_t> out = {18, 1, 0x00, 0x02, 0, 0, 0, 64};  // USB 2.0, control packet 64
    putLittle16(out, kZendrivalVendorId);
    putLittle16(out, identity_.productId);
    putLittle16(out, 0x0100);
    out.insert(out.end(), {1, 2, 3, 1});  // manufacturer, product, serial strings; 1 config
    // One configuration with the vendor interface and its two bulk endpoints.
    out.insert(out.end(), {9, 2, 32, 0, 1, 1, 0, 0x80, 50});
    out.insert(out.end(), {9, 4, 0, 0, 2, 0xFF, 0x88, 0x10, 0});
    for (uint8_t endpoint : {kOutEndpoint, kInEndpoint}) {
        out.insert(out.end(), {7, 5, endpoint, 0x02});
        putLittle16(out, identity_.maxPacket);
        out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> UsbGadget::stringDescriptor(uint8_t index) const {
    if (index == 0) {
        return {4, 3, 0x09, 0x04};  // English (United States)
    }
    const std::string& text = index == 1   ? std::string("Zendrival")
                              : index == 2 ? identity_.productName
                                           : identity_.serialText;
    if (index > 3) {
        return {};
    }
    std::vector<uint8_t> out = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

bool UsbGadget::handleIoctl(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned long request = umockdev_ioctl_client_get_request(client);
    int error = 0;
    long result = 0;
    uint32_t value = 0;
    if (gone_ && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY) {
        result = -1;
        error = ENODEV;
    } else if (request == USBDEVFS_GET_CAPABILITIES) {
        UMockdevIoctlData* record = pointedRecord(client, sizeof kCapabilities);
        if (record != nullptr) {
            memcpy(record->data, &kCapabilities, sizeof kCapabilities);
            g_object_unref(record);
        }
    } else if (request == USBDEVFS_SUBMITURB) {
        result = submit(client, pointedRecord(client, sizeof(usbdevfs_urb)), error);
    } else if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        UMockdevIoctlData* slot = pointedRecord(client, sizeof(void*));
        result = reap(client, slot, error);
        if (slot != nullptr) {
            g_object_unref(slot);
        }
    } else if (request == USBDEVFS_DISCARDURB) {
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        unsigned long address = 0;
        if (argument != nullptr && argument->data_len >= static_cast<int>(sizeof address)) {
            memcpy(&address, argument->data, sizeof address);
        }
        result = discard(client, address, error);
    } else if (request == USBDEVFS_CLAIMINTERFACE) {
        result = readUint32(client, value) ? claim(client, value, error) : (error = EFAULT, -1);
    } else if (request == USBDEVFS_RELEASEINTERFACE) {
        if (owner_ == client) {
            owner_ = nullptr;
        }
    } else if (request == USBDEVFS_CLEAR_HALT) {
        if (readUint32(client, value) && value == kOutEndpoint && outHalted_) {
            outHalted_ = false;
            log_.note(serial_, "usb OUT halt cleared");
        }
    } else if (request == USBDEVFS_GETDRIVER || request == USBDEVFS_IOCTL) {
        result = -1;
        error = ENODATA;  // no kernel driver is bound to the vendor interface
    } else if (request != USBDEVFS_RESETEP && request != USBDEVFS_SETINTERFACE &&
               request != USBDEVFS_SETCONFIGURATION && request != USBDEVFS_RESET) {
        result = -1;
        error = ENOTTY;
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

long UsbGadget::submit(UMockdevIoctlClient* client, UMockdevIoctlData* urbData, int& error) {
    if (urbData == nullptr) {
        error = EFAULT;
        return -1;
    }
    auto* request = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    UMockdevIoctlData* buffer = nullptr;
    if (request->buffer_length > 0) {
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                             static_cast<size_t>(request->buffer_length), nullptr);
        if (buffer == nullptr) {
            g_object_unref(urbData);
            error = EFAULT;
            return -1;
        }
    }
    Urb urb{client, urbData, buffer};
    bool known = (request->type == USBDEVFS_URB_TYPE_CONTROL && request->endpoint == 0) ||
                 (request->type == USBDEVFS_URB_TYPE_BULK &&
                  (request->endpoint == kOutEndpoint || request->endpoint == kInEndpoint));
    if (!known) {
        releaseUrb(urb);
        error = ENOENT;  // no such endpoint
        return -1;
    }
    if (request->type == USBDEVFS_URB_TYPE_CONTROL) {
        control(urb);
    } else if (request->endpoint == kOutEndpoint) {
        bulkOut(urb);
    }
    urbs_.push_back(urb);
    return 0;
}

void UsbGadget::control(Urb& urb) {
    urb.done = true;
    if (urb.buffer == nullptr || urb.buffer->data_len < 8) {
        urb.status = -EPIPE;
        return;
    }
    uint8_t* setup = urb.buffer->data;
    size_t wanted = setup[6] | (setup[7] << 8);
    std::vector<uint8_t> answer;
    if (setup[0] == 0x80 && setup[1] == 6) {  // GET_DESCRIPTOR
        std::vector<uint8_t> all = descriptors();
        if (setup[3] == 1) {
            answer.assign(all.begin(), all.begin() + 18);
        } else if (setup[3] == 2) {
            answer.assign(all.begin() + 18, all.end());
        } else if (setup[3] == 3) {
            answer = stringDescriptor(setup[2]);
        }
        if (answer.empty()) {
            urb.status = -EPIPE;  // the device stalls a request for what it does not have
            return;
        }
    } else if (!(setup[0] == 0x00 && setup[1] == 9) && !(setup[0] == 0x80 && setup[1] == 0)) {
        urb.status = -EPIPE;  // only SET_CONFIGURATION and GET_STATUS besides descriptors
        return;
    } else if (setup[1] == 0) {
        answer = {0, 0};
    }
    size_t room = static_cast<size_t>(urb.buffer->data_len) - 8;
    size_t length = std::min({answer.size(), wanted, room});
    memcpy(setup + 8, answer.data(), length);
    urb.actualLength = static_cast<int>(length);
}

void UsbGadget::bulkOut(Urb& urb) {
    urb.done = true;
    ++outTransfers_;
    if (!outHalted_ && knobs_.stallAt != 0 && outTransfers_ == knobs_.stallAt) {
        outHalted_ = true;
        log_.note(serial_, "usb OUT stalled");
    }
    if (outHalted_) {
        urb.status = -EPIPE;
        return;
    }
    size_t length = urb.buffer == nullptr ? 0 : static_cast<size_t>(urb.buffer->data_len);
    log_.note(serial_, "usb OUT " + std::to_string(length));
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = write(hostFd_, urb.buffer->data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        pollfd wait{hostFd_, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && poll(&wait, 1, kOutWaitMs) > 0) {
            continue;
        }
        break;
    }
    urb.actualLength = static_cast<int>(sent);
    urb.status = sent == length ? 0 : -EPROTO;
}

bool UsbGadget::fillBulkIn(Urb& urb) {
    if (inErrorsLeft_ > 0) {
        --inErrorsLeft_;
        log_.note(serial_, "usb IN error");
        urb.status = -EPROTO;
        urb.done = true;
        return true;
    }
    if (urb.buffer == nullptr) {
        urb.done = true;
        return true;
    }
    ssize_t n = read(hostFd_, urb.buffer->data, static_cast<size_t>(urb.buffer->data_len));
    if (n <= 0) {
        return false;
    }
    urb.actualLength = static_cast<int>(n);
    urb.done = true;
    return true;
}

long UsbGadget::reap(UMockdevIoctlClient* client, UMockdevIoctlData* slot, int& error) {
    if (slot == nullptr) {
        error = EFAULT;
        return -1;
    }
    for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
        if (it->client != client) {
            continue;
        }
        if (!it->done) {
            if (gone_) {
                it->done = true;
                it->status = -ENODEV;
            } else if (!fillBulkIn(*it)) {
                continue;  // an IN transfer still waiting for the module
            }
        }
        auto* request = reinterpret_cast<usbdevfs_urb*>(it->urb->data);
        request->status = it->status;
        request->actual_length = it->actualLength;
        umockdev_ioctl_data_set_ptr(slot, 0, it->urb);
        releaseUrb(*it);
        urbs_.erase(it);
        return 0;
    }
    error = gone_ ? ENODEV : EAGAIN;
    return -1;
}

long UsbGadget::discard(UMockdevIoctlClient* client, unsigned long urbAddress, int& error) {
    for (Urb& urb : urbs_) {
        if (urb.client == client && urb.urb->client_addr == urbAddress) {
            if (urb.done) {
                break;  // already complete: the kernel refuses to discard it
            }
            urb.done = true;
            urb.status = -ENOENT;
            log_.note(serial_, "usb IN cancelled");
            return 0;
        }
    }
    error = EINVAL;
    return -1;
}

long UsbGadget::claim(UMockdevIoctlClient* client, uint32_t interfaceNumber, int& error) {
    if (interfaceNumber != 0) {
        error = ENOENT;
        return -1;
    }
    if (knobs_.claimed || (owner_ != nullptr && owner_ != client)) {
        error = EBUSY;
        return -1;
    }
    if (owner_ != client) {
        owner_ = client;
        drainUnread();  // a new host does not read what the module sent to the last one
    }
    return 0;
}

void UsbGadget::clientVanished(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ == client) {
        owner_ = nullptr;
    }
    for (auto it = urbs_.begin(); it != urbs_.end();) {
        if (it->client == client) {
            releaseUrb(*it);
            it = urbs_.erase(it);
        } else {
            ++it;
        }
    }
}

void UsbGadget::releaseUrb(Urb& urb) {
    if (urb.buffer != nullptr) {
        g_object_unref(urb.buffer);
        urb.buffer = nullptr;
    }
    if (urb.urb != nullptr) {
        g_object_unref(urb.urb);
        urb.urb = nullptr;
    }
}

void UsbGadget::dropUnread() {
    std::lock_guard<std::mutex> lock(mutex_);
    drainUnread();
}

void UsbGadget::drainUnread() {
    uint8_t scratch[1024];
    while (read(hostFd_, scratch, sizeof scratch) > 0) {
    }
}

}  // namespace modulesim
