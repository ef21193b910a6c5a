// Discovery of USB modules through the shared libusb context and of modules with their own
// network port through the legacy multicast request.
#include "unix_discovery.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <vector>
#include <libusb-1.0/libusb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "UsbContext.h"
#include "qDebugging.h"
#include "zvusb_driver.h"

namespace {

constexpr size_t kUsbSerialLength = 8;
constexpr int kUsbSerialMax = 32;
constexpr int kReplyTimeoutSeconds = 2;
constexpr int kMaxInterfaces = 50;
// A peer that keeps answering must not hold discovery forever: after this many datagrams the
// search ends as if the network had gone quiet.
constexpr int kMaxReplies = 1024;
constexpr uint8_t kRequestCode = 1;

bool parseHexSerial(const char* text, size_t length, uint32_t* serial) {
    if (text == nullptr || length != kUsbSerialLength) {
        return false;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else {
            return false;
        }
        value = (value << 4) | digit;
    }
    *serial = value;
    return true;
}

uint32_t littleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The linkSpec of one opened USB device, or null when its serial-number string is unusable.
linkSpec* describeUsbDevice(libusb_device_handle* handle, const libusb_device_descriptor& info) {
    if (info.iSerialNumber == 0) {
        return nullptr;
    }
    unsigned char text[kUsbSerialMax + 1] = {};
    int length = libusb_get_string_descriptor_ascii(handle, info.iSerialNumber, text, sizeof(text));
    if (length < 0) {
        qDebug_Print(qDEBUG_DISCOVERY, "USB serial number unreadable: %s\n",
                     libusb_error_name(length));
        return nullptr;
    }
    return qDiscovery_CreateUSBSpec(reinterpret_cast<const char*>(text),
                                    static_cast<size_t>(length), info.idProduct);
}

// Offers one USB device to the callback. Returns false when the callback wants no more.
bool offerUsbDevice(libusb_device* device, qDiscoveryCallback callback, void* reference,
                    int* count) {
    libusb_device_handle* handle = nullptr;
    int opened = libusb_open(device, &handle);
    if (opened != LIBUSB_SUCCESS) {
        qDebug_Print(qDEBUG_DISCOVERY, "USB module not opened: %s\n", libusb_error_name(opened));
        return true;
    }
    bool more = true;
    libusb_device_descriptor info;
    if (libusb_get_device_descriptor(device, &info) == LIBUSB_SUCCESS) {
        linkSpec* spec = describeUsbDevice(handle, info);
        if (spec != nullptr) {
            bool found = false;
            more = callback(spec, &found, reference);
            if (found) {
                ++(*count);
            }
            qLinkSpec_Destroy(&spec);
        }
    }
    libusb_close(handle);
    return more;
}

// Offers every module on the context's bus to the callback; how many it took.
int enumerateUsbOn(libusb_context* context, qDiscoveryCallback callback, void* reference) {
    libusb_device** devices = nullptr;
    ssize_t listed = libusb_get_device_list(context, &devices);
    if (listed < 0) {
        qDebug_Print(qDEBUG_DISCOVERY, "USB device list failed: %s\n",
                     libusb_error_name(static_cast<int>(listed)));
        return 0;
    }
    int count = 0;
    for (ssize_t i = 0; i < listed; ++i) {
        if (is_zendrival_device(devices[i]) &&
            !offerUsbDevice(devices[i], callback, reference, &count)) {
            break;
        }
    }
    libusb_free_device_list(devices, 1);
    return count;
}

bool isLoopbackOrAny(uint32_t address) {
    return address == 0 || address == qDISCOVERY_LOCALHOST;
}

int openReplyListener(uint32_t networkInterface) {
    int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (descriptor < 0) {
        return -1;
    }
    int reuse = 1;
    timeval timeout{kReplyTimeoutSeconds, 0};
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr =
        networkInterface == qDISCOVERY_LOCALHOST ? htonl(INADDR_ANY) : networkInterface;
    local.sin_port = htons(qDISCOVERY_TCPIP_REPLY_PORT);
    if (setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0 ||
        setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0 ||
        bind(descriptor, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        qDebug_Print(qDEBUG_DISCOVERY, "Discovery listener failed: %s\n", strerror(errno));
        close(descriptor);
        return -1;
    }
    return descriptor;
}

// One request through one interface (0: the one the routing table picks).
bool sendRequest(uint32_t interface) {
    int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (descriptor < 0) {
        return false;
    }
    int reuse = 1;
    in_addr outgoing{};
    outgoing.s_addr = interface;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(qDISCOVERY_TCPIP_REQUEST_PORT);
    inet_pton(AF_INET, qDISCOVERY_TCPIP_GROUP, &group.sin_addr);
    uint8_t request[qDISCOVERY_TCPIP_MESSAGE_SIZE] = {kRequestCode};
    bool sent =
        setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0 &&
        setsockopt(descriptor, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) == 0 &&
        sendto(descriptor, request, sizeof(request), MSG_NOSIGNAL,
               reinterpret_cast<sockaddr*>(&group),
               sizeof(group)) == static_cast<ssize_t>(sizeof(request));
    if (!sent) {
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &outgoing, text, sizeof(text));
        qDebug_Print(qDEBUG_DISCOVERY, "Discovery request through %s failed: %s\n", text,
                     strerror(errno));
    }
    close(descriptor);
    return sent;
}

// True when at least one request went out.
bool sendRequests(uint32_t networkInterface) {
    if (!isLoopbackOrAny(networkInterface)) {
        return sendRequest(networkInterface);
    }
    uint32_t interfaces[kMaxInterfaces];
    int count = qDiscovery_ReadIPv4Interfaces(interfaces, kMaxInterfaces);
    if (count < 0) {
        return sendRequest(networkInterface);
    }
    bool any = false;
    for (int i = 0; i < count; ++i) {
        if (!isLoopbackOrAny(interfaces[i]) && sendRequest(interfaces[i])) {
            any = true;
        }
    }
    return any;
}

bool alreadyOffered(const std::vector<linkSpec>& offered, const linkSpec& spec) {
    for (const linkSpec& seen : offered) {
        if (_isNewSpec(&seen, &spec)) {
            return true;
        }
    }
    return false;
}

// Hands each reply to the callback until the network is quiet for the time-out. A module hears
// the request once per interface it went out on and answers each time; it is offered once.
int collectReplies(int listener, qDiscoveryCallback callback, void* reference) {
    int count = 0;
    std::vector<linkSpec> offered;
    for (int replies = 0; replies < kMaxReplies; ++replies) {
        // One byte more than a reply, so that a longer datagram is not taken for one.
        uint8_t reply[qDISCOVERY_TCPIP_MESSAGE_SIZE + 1];
        sockaddr_in sender{};
        socklen_t senderSize = sizeof(sender);
        ssize_t received = recvfrom(listener, reply, sizeof(reply), 0,
                                    reinterpret_cast<sockaddr*>(&sender), &senderSize);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        linkSpec* spec = qDiscovery_CreateTCPIPSpec(reply, static_cast<size_t>(received),
                                                    sender.sin_addr.s_addr);
        if (spec == nullptr) {
            qDebug_Print(qDEBUG_DISCOVERY, "Discovery reply of %zd bytes ignored\n", received);
            continue;
        }
        if (alreadyOffered(offered, *spec)) {
            qLinkSpec_Destroy(&spec);
            continue;
        }
        offered.push_back(*spec);
        bool found = false;
        bool more = callback(spec, &found, reference);
        qLinkSpec_Destroy(&spec);
        if (found) {
            ++count;
        }
        if (!more) {
            break;
        }
    }
    return count;
}

}  // namespace

linkSpec* qDiscovery_CreateUSBSpec(const char* serialText, size_t length, uint16_t productId) {
    uint32_t serial = 0;
    if (!parseHexSerial(serialText, length, &serial)) {
        return nullptr;
    }
    linkSpec* spec = qLinkSpec_Create(linkTypeUSB);
    if (spec != nullptr) {
        spec->serialNumber = serial;
        spec->model = productId & 0xFF;
        spec->usbId = serial;
    }
    return spec;
}

linkSpec* qDiscovery_CreateTCPIPSpec(const uint8_t* reply, size_t length, uint32_t sender) {
    if (reply == nullptr || length != qDISCOVERY_TCPIP_MESSAGE_SIZE) {
        return nullptr;
    }
    linkSpec* spec = qLinkSpec_Create(linkTypeTCPIP);
    if (spec != nullptr) {
        spec->serialNumber = littleEndian32(reply + 4);
        spec->routerSerialNumber = spec->serialNumber;
        spec->module = reply[1];
        spec->router = reply[1];
        spec->model = reply[12];
        spec->port = static_cast<uint32_t>(reply[2]) | static_cast<uint32_t>(reply[3]) << 8;
        spec->ipAddress = sender;
    }
    return spec;
}

int qDiscovery_Enumerate_USBModules(qDiscoveryCallback callback, void* reference) {
    if (callback == nullptr) {
        return 0;
    }
    // Held for the whole listing: a callback may end the context meanwhile.
    libusb_context* context = Zendrival_libusb_acquire();
    if (context == nullptr) {
        return 0;
    }
    int count = enumerateUsbOn(context, callback, reference);
    Zendrival_libusb_release(context);
    return count;
}

int qDiscovery_Enumerate_TCPIPModules(qDiscoveryCallback callback, void* reference,
                                      uint32_t networkInterface) {
    if (callback == nullptr) {
        return 0;
    }
    int listener = openReplyListener(networkInterface);
    if (listener < 0) {
        return 0;
    }
    int count = 0;
    if (sendRequests(networkInterface)) {
        count = collectReplies(listener, callback, reference);
    }
    close(listener);
    return count;
}
