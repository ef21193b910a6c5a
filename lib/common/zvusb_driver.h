// USB device layer under the USB stream: reaches one module either through the module maker's
// kernel driver node ("/dev/zendrival.<serial>") or through libusb on the shared context.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <libusb-1.0/libusb.h>

#include "qError.h"

// USB vendor id under which the module maker's modules enumerate.
#define ZENDRIVAL_USB_VENDOR_ID 0x2B7E
// A product id with this bit set is not a module (the maker's other USB products).
#define ZENDRIVAL_USB_PRODUCT_NOT_MODULE 0x8000

#define ZVUSB_CHECK 0xDEAD
#define ZVUSB_SERIAL_TEXT_SIZE 256
#define ZVUSB_RECEIVE_BUFFER_SIZE 1024
// Consecutive I/O errors tolerated before the device is given up.
#define ZVUSB_TOLERATED_IO_ERRORS 4

// The module's vendor interface.
#define ZVUSB_INTERFACE_CLASS 0xFF
#define ZVUSB_INTERFACE_SUBCLASS 0x88
#define ZVUSB_INTERFACE_PROTOCOL 0x10

enum zvusbMode { ZVUSB_MODE_KERNEL = 0, ZVUSB_MODE_LIBUSB = 1 };

enum zvusbState {
    ZVUSB_STATE_NONE = 0,
    ZVUSB_STATE_CREATED = 1,
    ZVUSB_STATE_CLOSED = 2,
    ZVUSB_STATE_OPENED = 3,
    ZVUSB_STATE_READY = 4,
    ZVUSB_STATE_FAILED = 5,
};

struct zvusb {
    uint16_t check;
    uint32_t mode;
    char serialText[ZVUSB_SERIAL_TEXT_SIZE];
    int descriptor;
    libusb_device_handle* handle;
    // libusb mode: the shared context's use this device holds while its handle is open.
    libusb_context* context;
    // libusb mode: the bulk IN transfer into transferBuffer. It stays submitted from one get to
    // the next until the module answers, and is submitted again as soon as its bytes have been
    // moved to receiveBuffer, so that a read is under way before the next request goes out.
    libusb_transfer* inTransfer;
    uint8_t transferBuffer[ZVUSB_RECEIVE_BUFFER_SIZE];
    bool inFlight;
    // Set by the transfer's callback on whichever thread handles libusb's events (this device's
    // reader, another link's reader, a writer inside a synchronous transfer); read atomically.
    int inCompleted;
    // Read by the link's reader and writer threads alike; the error filter moves it to failed.
    std::atomic<uint32_t> state;
    uint8_t interfaceNumber;
    uint8_t outEndpoint;
    uint8_t inEndpoint;
    uint8_t receiveBuffer[ZVUSB_RECEIVE_BUFFER_SIZE];
    int available;
    uint8_t* readPosition;
    std::atomic<uint8_t> errorCount;
    uint16_t inMaxPacket;
    uint16_t outMaxPacket;
};

// A new device record in state created; libusb mode also makes the shared libusb context. Null
// when memory runs out or libusb cannot start.
zvusb* zvusb_create_usb(bool useLibusb);
// Closes whatever is open, frees the record and clears the caller's pointer. A transfer still in
// flight is cancelled first, and the record is freed only after libusb has finished with it.
qErr zvusb_destroy(zvusb** device);

// True when the kernel driver node of the module with this serial number exists.
bool zvusb_is_kernel_driver_installed(uint32_t serialNumber);
// Directory searched for kernel driver nodes: "/dev" in the product. Tests point it at a
// directory of their own; null restores "/dev".
void zvusb_set_kernel_node_directory(const char* directory);

// Each dispatches on the device's mode.
qErr zvusb_open_zendrival_device(zvusb* device, const char* serialText);
qErr zvusb_write_to_device(zvusb* device, const uint8_t* bytes, size_t length);
// A get waits at most qSTREAM_IDLE_WAIT_MS for a byte in either mode; libusb mode leaves its
// transfer in flight when none came, for the next get to pick up.
qErr zvusb_get_from_device(zvusb* device, uint8_t* byte);
qErr zvusb_close_zendrival_device(zvusb* device);

// Mode-specific variants; called on a device of the other mode they give qErrMode.
qErr zvusb_open_zendrival_USBlib_device(zvusb* device, const char* serialText);
qErr zvusb_open_zendrival_kernel_device(zvusb* device, const char* serialText);
qErr zvusb_write_to_USBlib_device(zvusb* device, const uint8_t* bytes, size_t length);
qErr zvusb_write_to_kernel_device(zvusb* device, const uint8_t* bytes, size_t length);
qErr zvusb_get_from_USBlib_device(zvusb* device, uint8_t* byte);
qErr zvusb_get_from_kernel_device(zvusb* device, uint8_t* byte);
qErr zvusb_close_zendrival_USBlib_device(zvusb* device);
qErr zvusb_close_zendrival_kernel_device(zvusb* device);

// True for a USB device with the module maker's vendor id and a module product id.
bool is_zendrival_device(libusb_device* device);
bool zvusb_is_zendrival_id(uint16_t vendorId, uint16_t productId);

// Size of the next bulk OUT transfer: at most one maximum packet, except that a piece of exactly
// 512 bytes goes out as 511 (the rest follows in the next piece). A full high-speed packet would
// leave the transfer open until a zero-length packet, which the module firmware does not expect.
size_t zvusb_out_piece_size(size_t remaining, uint16_t outMaxPacket);
// Error tolerance of the libusb mode: the first four consecutive qErrIO results are reported as
// qErrNone, the fifth moves the device to failed and is reported as qErrIO, as is every later
// one. Any other result clears the count and passes unchanged. A failed device stays failed:
// its transfers give qErrIO without passing through here.
qErr zvusb_tolerate_error(zvusb* device, qErr result);
// The same rule for reads, except that a tolerated error reads as "no byte yet" (qErrNotReady):
// reporting success would hand out a byte that never arrived.
qErr zvusb_tolerate_read_error(zvusb* device, qErr result);
