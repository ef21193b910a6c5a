#include "unix_streamusb.h"

#include <cstdio>
#include <new>

#include "zvusb_driver.h"

namespace {

struct UsbRecord {
    uint16_t check;
    uint32_t serialNumber;
    zvusb* device;
};

zvusb* deviceOf(void* reference) {
    UsbRecord* record = static_cast<UsbRecord*>(reference);
    return record != nullptr && record->check == qUSBSTREAM_CHECK ? record->device : nullptr;
}

qErr usbGet(uint8_t* byte, void* reference) {
    zvusb* device = deviceOf(reference);
    return device != nullptr ? zvusb_get_from_device(device, byte) : qErrParam;
}

qErr usbWrite(const uint8_t* bytes, size_t length, void* reference) {
    zvusb* device = deviceOf(reference);
    return device != nullptr ? zvusb_write_to_device(device, bytes, length) : qErrParam;
}

qErr usbPut(uint8_t byte, void* reference) {
    return usbWrite(&byte, 1, reference);
}

qErr usbDelete(void* reference) {
    zvusb* device = deviceOf(reference);
    if (device == nullptr) {
        return qErrParam;
    }
    UsbRecord* record = static_cast<UsbRecord*>(reference);
    qErr err = zvusb_close_zendrival_device(device);
    zvusb_destroy(&record->device);
    record->check = 0;
    delete record;
    return err;
}

}  // namespace

qErr qStream_CreateUSB(uint32_t serialNumber, qStream** stream) {
    if (serialNumber == 0 || stream == nullptr) {
        return qErrParam;
    }
    char serialText[16];
    snprintf(serialText, sizeof serialText, "%08X", serialNumber);
    bool kernelMode = zvusb_is_kernel_driver_installed(serialNumber);
    zvusb* device = zvusb_create_usb(!kernelMode);
    if (device == nullptr) {
        return qErrResource;
    }
    qErr err = zvusb_open_zendrival_device(device, serialText);
    if (err != qErrNone) {
        zvusb_destroy(&device);
        return err;
    }
    UsbRecord* record = new (std::nothrow) UsbRecord{qUSBSTREAM_CHECK, serialNumber, device};
    if (record == nullptr) {
        zvusb_close_zendrival_device(device);
        zvusb_destroy(&device);
        return qErrMemory;
    }
    if (!qStream_CreateOwning(usbGet, usbPut, usbWrite, usbDelete, record, stream)) {
        return qErrMemory;
    }
    // The kernel driver's node is read like any descriptor, and a libusb get waits as briefly,
    // its transfer going on meanwhile: a caller awaiting a reply may read it itself.
    (*stream)->getWaitMs = qSTREAM_IDLE_WAIT_MS;
    return qErrNone;
}
