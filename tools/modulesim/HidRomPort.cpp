// The i.MX boot ROM as a USB HID device on the emulated bus: a usb_device with one HID interface,
// its hid device (HID_ID 0003:00001FC9:00000130) and a hidraw node, which hidapi's hidraw backend
// enumerates and opens. The host's reads and writes on the node come to a handler on umockdev's
// worker thread; it passes each written report to the simulator's thread through a socket pair
// and holds the write until the ROM has dealt with it, so the ROM's answers are waiting by the
// time the host reads.
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "RomPort.h"
#include "UsbBus.h"

namespace modulesim {
class HidRomNode;
}

// The GObject umockdev calls for the hidraw node; it forwards to its HidRomNode.
struct ZvHidHandler {
    UMockdevIoctlBase parent;
    modulesim::HidRomNode* node;
};
struct ZvHidHandlerClass {
    UMockdevIoctlBaseClass parent;
};

G_DEFINE_TYPE(ZvHidHandler, zv_hid_handler, UMOCKDEV_TYPE_IOCTL_BASE)

namespace modulesim {

namespace {

constexpr uint16_t kNxpVendorId = 0x1FC9;
constexpr uint16_t kRomProductId = 0x0130;
constexpr int kHidrawMajor = 241;
constexpr uint8_t kCommandReport = 1;
constexpr uint8_t kDataReport = 2;
constexpr uint8_t kModeReport = 3;
constexpr uint8_t kValueReport = 4;
constexpr size_t kValueReportSize = 64;
constexpr uint8_t kDoneMark = 0xFF;  // after the answers to one report: the ROM is done with it
constexpr int kRomPatienceMs = 2000;
// A read finding nothing waits this long for answers still on their way, as a read on the
// kernel's node blocks until a report comes (the host's own time-out is at least this).
constexpr int kReadPatienceMs = 100;

// Vendor page; report 1 (16 bytes out), 2 (1024 bytes out), 3 (4 bytes in), 4 (64 bytes in).
const std::vector<uint8_t> kReportDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                                //
    0x85, 0x01, 0x19, 0x01, 0x29, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,  //
    0x08, 0x95, 0x10, 0x91, 0x02,                                            //
    0x85, 0x02, 0x19, 0x01, 0x29, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,  //
    0x08, 0x96, 0x00, 0x04, 0x91, 0x02,                                      //
    0x85, 0x03, 0x19, 0x01, 0x29, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,  //
    0x08, 0x95, 0x04, 0x81, 0x02,                                            //
    0x85, 0x04, 0x19, 0x01, 0x29, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,  //
    0x08, 0x95, 0x40, 0x81, 0x02,                                            //
    0xC0};

// Device and configuration descriptors of the ROM: one HID interface, one interrupt IN endpoint.
std::vector<uint8_t> usbDescriptors() {
    std::vector<uint8_t> bytes = {18,   1, 0x00, 0x02, 0, 0, 0, 64, 0xC9, 0x1F, 0x30, 0x01, 0x01,
                                  0x00, 1, 2,    0,    1, 9, 2, 34, 0,    1,    1,    0,    0xC0,
                                  50,   9, 4,    0,    0, 1, 3, 0,  0,    0,    9,    0x21, 0x10,
                                  0x01, 0, 1,    0x22, 0, 0, 7, 5,  0x81, 3,    64,   0,    1};
    bytes[bytes.size() - 11] = static_cast<uint8_t>(kReportDescriptor.size());
    return bytes;
}

std::string text(const char* format, int value) {
    char out[64];
    snprintf(out, sizeof out, format, value);
    return out;
}

}  // namespace

// The node's side, on umockdev's worker thread.
class HidRomNode {
  public:
    explicit HidRomNode(int fd) : fd_(fd) {}
    ~HidRomNode() { close(fd_); }

    gboolean ioctl(UMockdevIoctlClient* client);
    gboolean read(UMockdevIoctlClient* client);
    gboolean write(UMockdevIoctlClient* client);
    // Called from the simulator's thread while this thread may wait in a write: no lock.
    void setGone(bool gone) { gone_ = gone; }
    gboolean readTimedOut();

  private:
    void takeAnswers(int waitMs);
    void answerPendingRead(int error);
    static bool deliver(UMockdevIoctlClient* client, std::vector<uint8_t>& report);
    long describe(UMockdevIoctlClient* client, unsigned long request, int& error);

    int fd_;
    std::mutex mutex_;
    std::deque<std::vector<uint8_t>> reports_;
    std::atomic<bool> gone_{false};
    // A read that found nothing waits, as on the kernel's node, until a report comes or a
    // short while has passed; meanwhile this thread goes on with the host's next request.
    UMockdevIoctlClient* pendingRead_ = nullptr;
    GSource* readTimer_ = nullptr;
};

void HidRomNode::takeAnswers(int waitMs) {
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1) {
            return;  // the ROM took too long: what it says later is read later
        }
        uint8_t buffer[kValueReportSize + 2];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0 || (n == 1 && buffer[0] == kDoneMark)) {
            return;
        }
        reports_.emplace_back(buffer, buffer + n);
    }
}

gboolean HidRomNode::write(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    if (gone_ || data == nullptr) {
        umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EFAULT);
        return TRUE;
    }
    ssize_t sent = send(fd_, data->data, static_cast<size_t>(data->data_len), MSG_NOSIGNAL);
    if (sent < 0) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    takeAnswers(kRomPatienceMs);
    umockdev_ioctl_client_complete(client, data->data_len, 0);
    answerPendingRead(EAGAIN);
    return TRUE;
}

bool HidRomNode::deliver(UMockdevIoctlClient* client, std::vector<uint8_t>& report) {
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    if (data == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return false;
    }
    size_t count = std::min(report.size(), static_cast<size_t>(data->data_len));
    memcpy(data->data, report.data(), count);
    umockdev_ioctl_client_complete(client, static_cast<long>(count), 0);
    return true;
}

void HidRomNode::answerPendingRead(int error) {
    if (pendingRead_ == nullptr) {
        return;
    }
    if (!reports_.empty()) {
        deliver(pendingRead_, reports_.front());
        reports_.pop_front();
    } else {
        umockdev_ioctl_client_complete(pendingRead_, -1, error);
    }
    g_object_unref(pendingRead_);
    pendingRead_ = nullptr;
    if (readTimer_ != nullptr) {
        g_source_destroy(readTimer_);
        g_source_unref(readTimer_);
        readTimer_ = nullptr;
    }
}

static gboolean zvHidReadTimedOut(gpointer node) {
    return static_cast<modulesim::HidRomNode*>(node)->readTimedOut();
}

gboolean HidRomNode::readTimedOut() {
    std::lock_guard<std::mutex> lock(mutex_);
    takeAnswers(0);
    answerPendingRead(gone_ ? ENODEV : EAGAIN);
    return G_SOURCE_REMOVE;
}

gboolean HidRomNode::read(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    takeAnswers(0);
    if (!reports_.empty()) {
        deliver(client, reports_.front());
        reports_.pop_front();
        return TRUE;
    }
    if (gone_ || pendingRead_ != nullptr) {
        // Answers the ROM gave before it left the bus can still be read; then the node is dead.
        umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
        return TRUE;
    }
    pendingRead_ = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    readTimer_ = g_timeout_source_new(kReadPatienceMs);
    g_source_set_callback(readTimer_, zvHidReadTimedOut, this, nullptr);
    g_source_attach(readTimer_, g_main_context_get_thread_default());
    return TRUE;
}

long HidRomNode::describe(UMockdevIoctlClient* client, unsigned long request, int& error) {
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* record = argument != nullptr && size > 0
                                    ? umockdev_ioctl_data_resolve(argument, 0, size, nullptr)
                                    : nullptr;
    if (record == nullptr) {
        error = EFAULT;
        return -1;
    }
    long result = 0;
    if (request == HIDIOCGRDESCSIZE) {
        int descriptorSize = static_cast<int>(kReportDescriptor.size());
        memcpy(record->data, &descriptorSize, sizeof descriptorSize);
    } else if (request == HIDIOCGRDESC) {
        auto* descriptor = reinterpret_cast<hidraw_report_descriptor*>(record->data);
        descriptor->size = static_cast<uint32_t>(kReportDescriptor.size());
        memcpy(descriptor->value, kReportDescriptor.data(), kReportDescriptor.size());
    } else if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = 3;  // USB
        info.vendor = static_cast<int16_t>(kNxpVendorId);
        info.product = static_cast<int16_t>(kRomProductId);
        memcpy(record->data, &info, sizeof info);
    } else {
        const char name[] = "i.MX serial download";
        size_t count = std::min(size, sizeof name);
        memcpy(record->data, name, count);
        result = static_cast<long>(count);
    }
    g_object_unref(record);
    return result;
}

gboolean HidRomNode::ioctl(UMockdevIoctlClient* client) {
    unsigned long request = umockdev_ioctl_client_get_request(client);
    int error = 0;
    long result = -1;
    bool known = request == HIDIOCGRDESCSIZE || request == HIDIOCGRDESC ||
                 request == HIDIOCGRAWINFO ||
                 (_IOC_TYPE(request) == 'H' && (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)) ||
                                                _IOC_NR(request) == _IOC_NR(HIDIOCGRAWPHYS(0))));
    if (!known) {
        error = ENOTTY;
    } else {
        result = describe(client, request, error);
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

}  // namespace modulesim

static gboolean zvHidIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    return reinterpret_cast<ZvHidHandler*>(base)->node->ioctl(client);
}
static gboolean zvHidRead(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    return reinterpret_cast<ZvHidHandler*>(base)->node->read(client);
}
static gboolean zvHidWrite(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    return reinterpret_cast<ZvHidHandler*>(base)->node->write(client);
}
static void zv_hid_handler_class_init(ZvHidHandlerClass* handlerClass) {
    handlerClass->parent.handle_ioctl = zvHidIoctl;
    handlerClass->parent.handle_read = zvHidRead;
    handlerClass->parent.handle_write = zvHidWrite;
}
static void zv_hid_handler_init(ZvHidHandler* handler) {
    handler->node = nullptr;
}

namespace modulesim {

namespace {

class HidRomPort : public RomPort {
  public:
    HidRomPort(EventLoop& loop, UsbBus& bus, int usbPort)
        : loop_(loop), bus_(bus), port_(usbPort) {}
    ~HidRomPort() override {
        if (fd_ >= 0) {
            loop_.unwatch(fd_);
            close(fd_);
            close(nodeFd_);
        }
        // umockdev may still call the handlers of nodes a host holds open; they stay until the
        // process ends, their nodes marked gone.
        for (ZvHidHandler* handler : handlers_) {
            handler->node->setGone(true);
        }
    }

    bool open(BytesHandler handler, std::string& error) override {
        handler_ = std::move(handler);
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
            error = std::string("socketpair: ") + strerror(errno);
            return false;
        }
        fd_ = pair[0];
        nodeFd_ = pair[1];
        loop_.watch(fd_, POLLIN, [this](short) { readable(); });
        return plugIn(error);
    }

    std::string where() const override { return node_; }
    std::string kind() const override { return "imx-rom-hid"; }

    void send(const std::vector<SdpRom::Word>& answer) override {
        for (const SdpRom::Word& word : answer) {
            std::vector<uint8_t> report = {word.hab ? kModeReport : kValueReport};
            for (int shift = 0; shift < 32; shift += 8) {
                report.push_back(static_cast<uint8_t>(word.value >> shift));
            }
            if (!word.hab) {
                report.resize(1 + kValueReportSize, 0);
            }
            ::send(fd_, report.data(), report.size(), MSG_NOSIGNAL);
        }
    }

    void romStops() override { unplug(); }
    void romRuns() override {
        std::string error;
        if (!plugIn(error)) {
            fprintf(stderr, "modulesim: the i.MX ROM cannot enumerate: %s\n", error.c_str());
        }
    }

  private:
    void readable() {
        uint8_t buffer[2048];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        if ((buffer[0] == kCommandReport || buffer[0] == kDataReport) && n > 1) {
            handler_(buffer + 1, static_cast<size_t>(n - 1));
        }
        uint8_t done = kDoneMark;
        ::send(fd_, &done, 1, MSG_NOSIGNAL);
    }

    bool plugIn(std::string& error);
    void unplug();

    EventLoop& loop_;
    UsbBus& bus_;
    int port_;
    int fd_ = -1;
    int nodeFd_ = -1;  // handed to each node in turn; they share one line to the ROM
    BytesHandler handler_;
    std::vector<ZvHidHandler*> handlers_;
    std::vector<std::string> sysPaths_;  // of the device now on the bus, top first
    std::string node_;
    int nextHidraw_ = 0;
};

bool HidRomPort::plugIn(std::string& error) {
    int number = bus_.takeDeviceNumber();
    std::string hidraw = "hidraw" + std::to_string(nextHidraw_);
    UsbBus::DeviceEntry entry;
    entry.vendorId = 0x1FC9;
    entry.productId = 0x0130;
    entry.bcdDevice = "0001";
    entry.manufacturer = "NXP";
    entry.product = "i.MX serial download";
    entry.productProperty = "1fc9/130/1";
    std::string usb = bus_.addUsbDevice(port_, number, entry);
    if (usb.empty()) {
        error = "cannot add the i.MX ROM to the emulated USB bus";
        return false;
    }
    bus_.setBinaryAttribute(usb, "descriptors", usbDescriptors());
    std::string interface =
        bus_.addDevice("usb", text("1-%d:1.0", port_), usb,
                       {"bInterfaceNumber", "00\n", "bInterfaceClass", "03\n", "bInterfaceSubClass",
                        "00\n", "bInterfaceProtocol", "00\n", "bNumEndpoints", "01\n"},
                       {"DEVTYPE", "usb_interface", "INTERFACE", "3/0/0", "PRODUCT", "1fc9/130/1"});
    std::string hid =
        bus_.addDevice("hid", text("0003:1FC9:0130.%04X", nextHidraw_ + 1), interface, {},
                       {"HID_ID", "0003:00001FC9:00000130", "HID_NAME", "NXP i.MX serial download",
                        "HID_PHYS", text("usb-0000:00:00.0-%d/input0", port_), "HID_UNIQ", "",
                        "MODALIAS", "hid:b0003g0001v00001FC9p00000130"});
    if (interface.empty() || hid.empty()) {
        error = "cannot add the i.MX ROM's HID interface";
        return false;
    }
    bus_.setBinaryAttribute(hid, "report_descriptor", kReportDescriptor);
    std::string raw =
        bus_.addDevice("hidraw", "hidraw/" + hidraw, hid,
                       {"dev", text("%d:", kHidrawMajor) + std::to_string(nextHidraw_) + "\n"},
                       {"DEVNAME", hidraw, "MAJOR", std::to_string(kHidrawMajor), "MINOR",
                        std::to_string(nextHidraw_)});
    // As in the kernel's sysfs, the node's "device" leads to the hid device; hidapi reads the
    // ids there before anything else.
    if (!raw.empty() && symlink("../..", (bus_.rootDir() + raw + "/device").c_str()) != 0 &&
        errno != EEXIST) {
        error = "cannot link " + raw + "/device: " + strerror(errno);
        return false;
    }
    auto* handler = static_cast<ZvHidHandler*>(g_object_new(zv_hid_handler_get_type(), nullptr));
    handler->node = new HidRomNode(dup(nodeFd_));
    handlers_.push_back(handler);
    if (raw.empty() || !bus_.attachNode("/dev/" + hidraw, &handler->parent, error)) {
        return false;
    }
    sysPaths_ = {usb, interface, hid, raw};
    node_ = "/dev/" + hidraw;
    ++nextHidraw_;
    for (const std::string& path : sysPaths_) {
        bus_.announce(path, "add");
    }
    return true;
}

void HidRomPort::unplug() {
    if (sysPaths_.empty()) {
        return;
    }
    handlers_.back()->node->setGone(true);
    for (auto it = sysPaths_.rbegin(); it != sysPaths_.rend(); ++it) {
        bus_.announce(*it, "remove");
    }
    for (auto it = sysPaths_.rbegin(); it != sysPaths_.rend(); ++it) {
        bus_.removeDevice(*it, *it == sysPaths_.back() ? node_ : "");
    }
    sysPaths_.clear();
}

}  // namespace

std::unique_ptr<RomPort> makeHidRomPort(EventLoop& loop, UsbBus& bus, int usbPort) {
    return std::make_unique<HidRomPort>(loop, bus, usbPort);
}

}  // namespace modulesim
