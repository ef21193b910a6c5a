#include "UsbBus.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace modulesim {

namespace {

constexpr int kBusNumber = 1;
constexpr int kUsbDeviceMajor = 189;
constexpr int kLastDeviceNumber = 127;

std::string formatted(const char* format, int value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

UsbBus::~UsbBus() {
    shutdown();
}

bool UsbBus::open(std::string& error) {
    testbed_ = umockdev_testbed_new();
    if (testbed_ == nullptr) {
        error = "cannot make the emulated USB bus";
        return false;
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    return true;
}

void UsbBus::shutdown() {
    if (testbed_ != nullptr) {
        g_object_unref(testbed_);  // stops umockdev's worker and removes the root directory
        testbed_ = nullptr;
    }
}

bool UsbBus::plug(UsbGadget& gadget, const UsbIdentity& identity, int port, Plugged& plugged,
                  std::string& error) {
    if (testbed_ == nullptr) {
        error = "the emulated USB bus is shut down";
        return false;
    }
    int number = takeDeviceNumber();
    std::string busNode = formatted("bus/usb/%03d/", kBusNumber) + formatted("%03d", number);
    DeviceEntry entry;
    entry.vendorId = kZendrivalVendorId;
    entry.productId = identity.productId;
    entry.serialText = identity.serialText;
    entry.manufacturer = "Zendrival";
    entry.product = identity.productName;
    entry.productProperty =
        formatted("%04x/", kZendrivalVendorId) + formatted("%04x/100", identity.productId);
    entry.highSpeed = identity.maxPacket > 64;
    plugged.sysPath = addUsbDevice(port, number, entry);
    if (plugged.sysPath.empty()) {
        error = "cannot add " + formatted("usb1/1-%d", port) + " to the emulated USB bus";
        return false;
    }
    std::vector<uint8_t> descriptors = gadget.descriptors();
    umockdev_testbed_set_attribute_binary(testbed_, plugged.sysPath.c_str(), "descriptors",
                                          descriptors.data(),
                                          static_cast<gint>(descriptors.size()));

    // usbfs nodes read back the descriptors, as the kernel's do.
    plugged.node = "/dev/" + busNode;
    std::string file = root_ + plugged.node;
    std::string directory = file.substr(0, file.rfind('/'));
    g_mkdir_with_parents(directory.c_str(), 0755);
    if (!g_file_set_contents(file.c_str(), reinterpret_cast<const gchar*>(descriptors.data()),
                             static_cast<gssize>(descriptors.size()), nullptr)) {
        error = "cannot make " + file;
        umockdev_testbed_remove_device(testbed_, plugged.sysPath.c_str());
        return false;
    }
    GError* attachError = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, plugged.node.c_str(), gadget.handler(),
                                       &attachError)) {
        error = "cannot attach to " + plugged.node + ": " +
                (attachError != nullptr ? attachError->message : "unknown error");
        g_clear_error(&attachError);
        unlink(file.c_str());
        umockdev_testbed_remove_device(testbed_, plugged.sysPath.c_str());
        return false;
    }
    // Listeners (libusb's hotplug thread) learn of the device once it is complete.
    umockdev_testbed_uevent(testbed_, plugged.sysPath.c_str(), "add");
    return true;
}

void UsbBus::unplug(const Plugged& plugged) {
    if (testbed_ == nullptr || plugged.sysPath.empty()) {
        return;
    }
    umockdev_testbed_uevent(testbed_, plugged.sysPath.c_str(), "remove");
    unlink((root_ + plugged.node).c_str());
    umockdev_testbed_remove_device(testbed_, plugged.sysPath.c_str());
}

std::string UsbBus::addUsbDevice(int port, int number, const DeviceEntry& entry) {
    const std::string minor = std::to_string(number - 1);
    const std::string busNode = formatted("bus/usb/%03d/", kBusNumber) + formatted("%03d", number);
    // sysfs attributes end in a newline, as the kernel writes them.
    std::vector<std::string> attributes = {"busnum",
                                           std::to_string(kBusNumber) + "\n",
                                           "devnum",
                                           std::to_string(number) + "\n",
                                           "speed",
                                           entry.highSpeed ? "480\n" : "12\n",
                                           "idVendor",
                                           formatted("%04x", entry.vendorId) + "\n",
                                           "idProduct",
                                           formatted("%04x", entry.productId) + "\n",
                                           "bConfigurationValue",
                                           "1\n",
                                           "bNumConfigurations",
                                           "1\n",
                                           "bNumInterfaces",
                                           " 1\n",
                                           "manufacturer",
                                           entry.manufacturer + "\n",
                                           "product",
                                           entry.product + "\n",
                                           "dev",
                                           formatted("%d:", kUsbDeviceMajor) + minor + "\n"};
    for (const auto& [name, value] : {std::make_pair("bcdDevice", entry.bcdDevice),
                                      std::make_pair("serial", entry.serialText)}) {
        if (value) {
            attributes.push_back(name);
            attributes.push_back(*value + "\n");
        }
    }
    std::vector<std::string> properties = {"DEVTYPE", "usb_device",
                                           "DEVNAME", busNode,
                                           "BUSNUM",  formatted("%03d", kBusNumber),
                                           "DEVNUM",  formatted("%03d", number),
                                           "PRODUCT", entry.productProperty,
                                           "MAJOR",   std::to_string(kUsbDeviceMajor),
                                           "MINOR",   minor};
    return addDevice("usb", formatted("usb1/1-%d", port), "", attributes, properties);
}

int UsbBus::takeDeviceNumber() {
    int number = nextDeviceNumber_;
    nextDeviceNumber_ = number == kLastDeviceNumber ? 2 : number + 1;
    return number;
}

std::string UsbBus::addDevice(const char* subsystem, const std::string& name,
                              const std::string& parent, std::vector<std::string> attributes,
                              std::vector<std::string> properties) {
    if (testbed_ == nullptr) {
        return "";
    }
    std::vector<gchar*> attributeTexts;
    for (std::string& text : attributes)
        attributeTexts.push_back(&text[0]);
    attributeTexts.push_back(nullptr);
    std::vector<gchar*> propertyTexts;
    for (std::string& text : properties)
        propertyTexts.push_back(&text[0]);
    propertyTexts.push_back(nullptr);
    gchar* sysPath = umockdev_testbed_add_devicev(testbed_, subsystem, name.c_str(),
                                                  parent.empty() ? nullptr : parent.c_str(),
                                                  attributeTexts.data(), propertyTexts.data());
    if (sysPath == nullptr) {
        return "";
    }
    std::string path = sysPath;
    g_free(sysPath);
    return path;
}

void UsbBus::setBinaryAttribute(const std::string& sysPath, const char* name,
                                const std::vector<uint8_t>& value) {
    if (testbed_ != nullptr) {
        umockdev_testbed_set_attribute_binary(testbed_, sysPath.c_str(), name,
                                              const_cast<guint8*>(value.data()),
                                              static_cast<gint>(value.size()));
    }
}

bool UsbBus::attachNode(const std::string& node, UMockdevIoctlBase* handler, std::string& error) {
    if (testbed_ == nullptr) {
        error = "the emulated USB bus is shut down";
        return false;
    }
    std::string file = root_ + node;
    g_mkdir_with_parents(file.substr(0, file.rfind('/')).c_str(), 0755);
    if (!g_file_set_contents(file.c_str(), "", 0, nullptr)) {
        error = "cannot make " + file;
        return false;
    }
    GError* attachError = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler, &attachError)) {
        error = "cannot attach to " + node + ": " +
                (attachError != nullptr ? attachError->message : "unknown error");
        g_clear_error(&attachError);
        unlink(file.c_str());
        return false;
    }
    return true;
}

void UsbBus::announce(const std::string& sysPath, const char* action) {
    if (testbed_ != nullptr) {
        umockdev_testbed_uevent(testbed_, sysPath.c_str(), action);
    }
}

void UsbBus::removeDevice(const std::string& sysPath, const std::string& node) {
    if (testbed_ == nullptr || sysPath.empty()) {
        return;
    }
    if (!node.empty()) {
        // The node's handler stays attached: a host may still hold it open, and umockdev keeps
        // calling it until the bus shuts down.
        unlink((root_ + node).c_str());
    }
    umockdev_testbed_remove_device(testbed_, sysPath.c_str());
}

}  // namespace modulesim
