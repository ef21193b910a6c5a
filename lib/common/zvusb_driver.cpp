#include "zvusb_driver.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "UsbContext.h"
#include "qStreamDescriptor.h"
#include "qStreamForCaller.h"

namespace {

constexpr unsigned kOutTimeoutMs = 50;
// A get waits this long for the module, as a get over a descriptor does, so that a caller awaiting
// a reply may read it itself. The transfer goes on after the get gives up: no answer is lost.
constexpr unsigned kInWaitMs = qSTREAM_IDLE_WAIT_MS;
// How long closing waits for libusb to give a cancelled IN transfer back. usbfs gives it back at
// once, even for a device that left the bus; this only bounds a bus that never does.
constexpr unsigned kCancelPatienceMs = 2000;
constexpr int kMaxOutFailures = 10;
constexpr int kMaxKernelWriteCalls = 1000;
// A hostile descriptor may announce a zero packet size; fall back to the full-speed bulk size.
constexpr uint16_t kFallbackPacketSize = 64;
constexpr size_t kHighSpeedPacket = 512;

const char kDefaultNodeDirectory[] = "/dev";

std::mutex& nodeDirectoryLock() {
    static std::mutex lock;
    return lock;
}

std::string& nodeDirectory() {
    static std::string directory = kDefaultNodeDirectory;
    return directory;
}

std::string kernelNodePath(const char* serialText) {
    std::lock_guard<std::mutex> guard(nodeDirectoryLock());
    return nodeDirectory() + "/zendrival." + serialText;
}

bool validDevice(const zvusb* device) {
    return device != nullptr && device->check == ZVUSB_CHECK;
}

// What every entry point of one mode checks first: qErrParam for an invalid device or unusable
// arguments, qErrMode for a device of the other mode.
qErr entryCheck(const zvusb* device, uint32_t mode, bool argumentsUsable) {
    if (!validDevice(device) || !argumentsUsable) {
        return qErrParam;
    }
    return device->mode == mode ? qErrNone : qErrMode;
}

bool serialTextUsable(const char* serialText) {
    return serialText != nullptr &&
           strnlen(serialText, ZVUSB_SERIAL_TEXT_SIZE) < ZVUSB_SERIAL_TEXT_SIZE;
}

void rememberSerial(zvusb* device, const char* serialText) {
    strncpy(device->serialText, serialText, ZVUSB_SERIAL_TEXT_SIZE - 1);
    device->serialText[ZVUSB_SERIAL_TEXT_SIZE - 1] = '\0';
}

// Result of a transfer attempted in a state that cannot transfer; qErrNone when ready.
qErr stateError(const zvusb* device) {
    switch (device->state.load()) {
        case ZVUSB_STATE_READY:
            return qErrNone;
        case ZVUSB_STATE_CLOSED:
            return qErrConnection;
        case ZVUSB_STATE_CREATED:
        case ZVUSB_STATE_OPENED:
            return qErrNotReady;
        case ZVUSB_STATE_FAILED:
            return qErrIO;
        default:
            return qErrResource;
    }
}

// --- The IN transfer ----------------------------------------------------------------------------

void LIBUSB_CALL onInTransferDone(libusb_transfer* transfer) {
    __atomic_store_n(static_cast<int*>(transfer->user_data), 1, __ATOMIC_RELEASE);
}

bool inTransferFinished(const zvusb* device) {
    return __atomic_load_n(&device->inCompleted, __ATOMIC_ACQUIRE) != 0;
}

// Handles libusb's events until the IN transfer's callback has run or ms have passed. The thread
// that handles the completion may be another one (libusb lets one thread at a time handle a
// context's events, and the others wait for it): the flag its callback sets ends the wait either
// way.
void awaitInTransfer(zvusb* device, unsigned ms) {
    using namespace std::chrono;
    const steady_clock::time_point deadline = steady_clock::now() + milliseconds(ms);
    while (!inTransferFinished(device)) {
        const auto left = duration_cast<microseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) {
            return;
        }
        timeval wait = {static_cast<time_t>(left / 1000000),
                        static_cast<suseconds_t>(left % 1000000)};
        libusb_handle_events_timeout_completed(device->context, &wait, &device->inCompleted);
    }
}

// No timeout: the transfer waits for the module as long as it takes, across gets.
qErr submitInTransfer(zvusb* device) {
    libusb_fill_bulk_transfer(device->inTransfer, device->handle, device->inEndpoint,
                              device->transferBuffer, ZVUSB_RECEIVE_BUFFER_SIZE, onInTransferDone,
                              &device->inCompleted, 0);
    __atomic_store_n(&device->inCompleted, 0, __ATOMIC_RELAXED);
    if (libusb_submit_transfer(device->inTransfer) != LIBUSB_SUCCESS) {
        return qErrIO;
    }
    device->inFlight = true;
    return qErrNone;
}

// The finished transfer's bytes become the receive buffer, and the transfer goes out again at
// once: the module's next answer then finds a read waiting, as it would a reader thread's (should
// that submit fail, the next get's does and reports it). A stall is cleared and reads as no byte
// yet, as does a transfer that brought none.
qErr takeInTransfer(zvusb* device) {
    device->inFlight = false;
    const libusb_transfer* transfer = device->inTransfer;
    switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            if (transfer->actual_length <= 0) {
                return qErrNotReady;
            }
            device->available = transfer->actual_length > ZVUSB_RECEIVE_BUFFER_SIZE
                                    ? ZVUSB_RECEIVE_BUFFER_SIZE
                                    : transfer->actual_length;
            memcpy(device->receiveBuffer, device->transferBuffer,
                   static_cast<size_t>(device->available));
            device->readPosition = device->receiveBuffer;
            submitInTransfer(device);
            return qErrNone;
        case LIBUSB_TRANSFER_STALL:
            libusb_clear_halt(device->handle, device->inEndpoint);
            return qErrNotReady;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return qErrNotReady;
        default:
            return qErrIO;
    }
}

// Cancels an IN transfer in flight and waits until libusb has given it back. False when it never
// came back: then nothing it refers to (the record, the handle, the context) may be freed.
bool settleInTransfer(zvusb* device) {
    if (!device->inFlight) {
        return true;
    }
    // Fails when the transfer completed meanwhile; its callback is then still to run.
    libusb_cancel_transfer(device->inTransfer);
    awaitInTransfer(device, kCancelPatienceMs);
    if (!inTransferFinished(device)) {
        return false;
    }
    device->inFlight = false;
    return true;
}

// Closes the handle and gives back the context; false, leaving both, when an IN transfer would
// not settle.
bool releaseHandle(zvusb* device) {
    if (device->handle != nullptr) {
        if (!settleInTransfer(device)) {
            return false;
        }
        if (device->state.load() == ZVUSB_STATE_READY ||
            device->state.load() == ZVUSB_STATE_FAILED) {
            libusb_release_interface(device->handle, device->interfaceNumber);
        }
        libusb_close(device->handle);
        device->handle = nullptr;
    }
    if (device->context != nullptr) {
        Zendrival_libusb_release(device->context);
        device->context = nullptr;
    }
    device->available = 0;
    device->readPosition = device->receiveBuffer;
    return true;
}

// --- libusb enumeration --------------------------------------------------------------------------

bool serialMatches(libusb_device_handle* handle, const libusb_device_descriptor& descriptor,
                   const char* serialText) {
    if (descriptor.iSerialNumber == 0) {
        return false;
    }
    unsigned char text[ZVUSB_SERIAL_TEXT_SIZE + 1] = {};
    int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text,
                                                    ZVUSB_SERIAL_TEXT_SIZE);
    if (length < 0) {
        return false;
    }
    text[length] = '\0';
    return strcmp(reinterpret_cast<const char*>(text), serialText) == 0;
}

bool isModuleInterface(const libusb_interface_descriptor& setting) {
    return setting.bInterfaceClass == ZVUSB_INTERFACE_CLASS &&
           setting.bInterfaceSubClass == ZVUSB_INTERFACE_SUBCLASS &&
           setting.bInterfaceProtocol == ZVUSB_INTERFACE_PROTOCOL;
}

// Bulk or interrupt endpoints of the module's vendor interface; IN is the one with the direction
// bit set.
bool findEndpoints(libusb_device* usbDevice, zvusb* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(usbDevice, 0, &config) != LIBUSB_SUCCESS) {
        return false;
    }
    bool haveIn = false;
    bool haveOut = false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int s = 0; s < interface.num_altsetting; ++s) {
            const libusb_interface_descriptor& setting = interface.altsetting[s];
            if (!isModuleInterface(setting)) {
                continue;
            }
            device->interfaceNumber = setting.bInterfaceNumber;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                if ((endpoint.bmAttributes & 0x02) == 0) {
                    continue;
                }
                if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                    device->inEndpoint = endpoint.bEndpointAddress;
                    device->inMaxPacket = endpoint.wMaxPacketSize;
                    haveIn = true;
                } else {
                    device->outEndpoint = endpoint.bEndpointAddress;
                    device->outMaxPacket = endpoint.wMaxPacketSize;
                    haveOut = true;
                }
            }
        }
    }
    libusb_free_config_descriptor(config);
    return haveIn && haveOut;
}

qErr claimErrorCode(int rc) {
    switch (rc) {
        case LIBUSB_ERROR_BUSY:
        case LIBUSB_ERROR_NO_DEVICE:
            return qErrBusy;
        case LIBUSB_ERROR_ACCESS:
            return qErrPermission;
        default:
            return qErrUnknown;
    }
}

// Opens the module on a matching handle: endpoints, then the interface.
qErr takeDevice(zvusb* device, libusb_device* usbDevice, libusb_device_handle* handle) {
    device->handle = handle;
    device->state = ZVUSB_STATE_OPENED;
    if (!findEndpoints(usbDevice, device)) {
        releaseHandle(device);
        device->state = ZVUSB_STATE_CLOSED;
        return qErrConfiguration;
    }
    int rc = libusb_claim_interface(handle, device->interfaceNumber);
    if (rc != LIBUSB_SUCCESS) {
        releaseHandle(device);
        device->state = ZVUSB_STATE_CLOSED;
        return claimErrorCode(rc);
    }
    device->state = ZVUSB_STATE_READY;
    device->errorCount = 0;
    device->available = 0;
    device->readPosition = device->receiveBuffer;
    return qErrNone;
}

qErr findAndOpen(zvusb* device, libusb_device** list, ssize_t count) {
    for (ssize_t i = 0; i < count; ++i) {
        if (!is_zendrival_device(list[i])) {
            continue;
        }
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) != LIBUSB_SUCCESS) {
            continue;
        }
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) == LIBUSB_SUCCESS &&
            serialMatches(handle, descriptor, device->serialText)) {
            return takeDevice(device, list[i], handle);
        }
        libusb_close(handle);
    }
    return qErrNotFound;
}

// Starts a transfer unless one is in flight, and waits for it briefly; one that has not finished
// stays in flight for the next get.
qErr refillReceiveBuffer(zvusb* device) {
    if (!device->inFlight) {
        if (qErr err = submitInTransfer(device); err != qErrNone) {
            return err;
        }
    }
    awaitInTransfer(device, kInWaitMs);
    return inTransferFinished(device) ? takeInTransfer(device) : qErrNotReady;
}

// A caller's refill (qStreamForCaller.h): the bytes of a transfer that completed, or no byte yet.
// A device that is not ready, a transfer that cannot be submitted and one that failed or stalled
// are left as they are to the reader thread, whose get acts on them and counts the error.
qErr refillForCaller(zvusb* device) {
    if (stateError(device) != qErrNone ||
        (!device->inFlight && submitInTransfer(device) != qErrNone)) {
        return qErrBusy;
    }
    awaitInTransfer(device, kInWaitMs);
    if (!inTransferFinished(device)) {
        return qErrNotReady;
    }
    return device->inTransfer->status == LIBUSB_TRANSFER_COMPLETED ? takeInTransfer(device)
                                                                   : qErrBusy;
}

qErr kernelOpenErrorCode(int error) {
    return error == EBUSY ? qErrBusy : qErrIO;
}

}  // namespace

// --- Record --------------------------------------------------------------------------------------

zvusb* zvusb_create_usb(bool useLibusb) {
    if (useLibusb && Zendrival_libusb_init() != qErrNone) {
        return nullptr;
    }
    zvusb* device = new (std::nothrow) zvusb();
    if (device == nullptr) {
        return nullptr;
    }
    device->check = ZVUSB_CHECK;
    device->mode = useLibusb ? ZVUSB_MODE_LIBUSB : ZVUSB_MODE_KERNEL;
    device->descriptor = -1;
    device->handle = nullptr;
    device->context = nullptr;
    device->inTransfer = useLibusb ? libusb_alloc_transfer(0) : nullptr;
    if (useLibusb && device->inTransfer == nullptr) {
        delete device;
        return nullptr;
    }
    device->inFlight = false;
    device->inCompleted = 0;
    device->state = ZVUSB_STATE_CREATED;
    device->errorCount = 0;
    device->available = 0;
    device->readPosition = device->receiveBuffer;
    return device;
}

qErr zvusb_destroy(zvusb** device) {
    if (device == nullptr || !validDevice(*device)) {
        return qErrParam;
    }
    zvusb* d = *device;
    *device = nullptr;
    if (!releaseHandle(d)) {
        // libusb still holds the transfer, which points into the record: both are left to it.
        d->state = ZVUSB_STATE_NONE;
        return qErrTimeout;
    }
    if (d->descriptor >= 0) {
        close(d->descriptor);
    }
    libusb_free_transfer(d->inTransfer);
    d->check = 0;
    delete d;
    return qErrNone;
}

bool zvusb_is_kernel_driver_installed(uint32_t serialNumber) {
    char serialText[16];
    snprintf(serialText, sizeof serialText, "%08X", serialNumber);
    struct stat info;
    return stat(kernelNodePath(serialText).c_str(), &info) == 0;
}

void zvusb_set_kernel_node_directory(const char* directory) {
    std::lock_guard<std::mutex> guard(nodeDirectoryLock());
    nodeDirectory() = directory != nullptr ? directory : kDefaultNodeDirectory;
}

// --- Dispatch ------------------------------------------------------------------------------------

qErr zvusb_open_zendrival_device(zvusb* device, const char* serialText) {
    if (!validDevice(device)) {
        return qErrParam;
    }
    return device->mode == ZVUSB_MODE_LIBUSB
               ? zvusb_open_zendrival_USBlib_device(device, serialText)
               : zvusb_open_zendrival_kernel_device(device, serialText);
}

qErr zvusb_write_to_device(zvusb* device, const uint8_t* bytes, size_t length) {
    if (!validDevice(device)) {
        return qErrParam;
    }
    return device->mode == ZVUSB_MODE_LIBUSB ? zvusb_write_to_USBlib_device(device, bytes, length)
                                             : zvusb_write_to_kernel_device(device, bytes, length);
}

qErr zvusb_get_from_device(zvusb* device, uint8_t* byte) {
    if (!validDevice(device)) {
        return qErrParam;
    }
    return device->mode == ZVUSB_MODE_LIBUSB ? zvusb_get_from_USBlib_device(device, byte)
                                             : zvusb_get_from_kernel_device(device, byte);
}

qErr zvusb_close_zendrival_device(zvusb* device) {
    if (!validDevice(device)) {
        return qErrParam;
    }
    return device->mode == ZVUSB_MODE_LIBUSB ? zvusb_close_zendrival_USBlib_device(device)
                                             : zvusb_close_zendrival_kernel_device(device);
}

// --- libusb mode ---------------------------------------------------------------------------------

qErr zvusb_open_zendrival_USBlib_device(zvusb* device, const char* serialText) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_LIBUSB, serialTextUsable(serialText));
        err != qErrNone) {
        return err;
    }
    if (device->state.load() == ZVUSB_STATE_NONE) {
        return qErrResource;
    }
    if (!releaseHandle(device)) {
        return qErrBusy;
    }
    rememberSerial(device, serialText);
    device->context = Zendrival_libusb_acquire();
    if (device->context == nullptr) {
        return qErrInitialization;
    }
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(device->context, &list);
    qErr err = count < 0 ? qErrIO : findAndOpen(device, list, count);
    if (count >= 0) {
        libusb_free_device_list(list, 1);
    }
    if (err != qErrNone) {
        releaseHandle(device);
    }
    return err;
}

qErr zvusb_write_to_USBlib_device(zvusb* device, const uint8_t* bytes, size_t length) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_LIBUSB, bytes != nullptr || length == 0);
        err != qErrNone) {
        return err;
    }
    qErr err = stateError(device);
    if (err == qErrIO) {
        return err;  // given up after repeated errors: no tolerance any more
    }
    if (err != qErrNone) {
        return zvusb_tolerate_error(device, err);
    }
    size_t sent = 0;
    int failures = 0;
    while (sent < length && failures < kMaxOutFailures) {
        size_t piece = zvusb_out_piece_size(length - sent, device->outMaxPacket);
        int transferred = 0;
        int rc = libusb_bulk_transfer(device->handle, device->outEndpoint,
                                      const_cast<uint8_t*>(bytes + sent), static_cast<int>(piece),
                                      &transferred, kOutTimeoutMs);
        if (transferred > 0) {
            sent +=
                static_cast<size_t>(transferred) < piece ? static_cast<size_t>(transferred) : piece;
        }
        if (rc == LIBUSB_SUCCESS) {
            continue;
        }
        failures++;
        if (rc == LIBUSB_ERROR_PIPE &&
            libusb_clear_halt(device->handle, device->outEndpoint) != LIBUSB_SUCCESS) {
            return zvusb_tolerate_error(device, qErrIO);
        }
    }
    return zvusb_tolerate_error(device, sent == length ? qErrNone : qErrWrite);
}

qErr zvusb_get_from_USBlib_device(zvusb* device, uint8_t* byte) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_LIBUSB, byte != nullptr); err != qErrNone) {
        return err;
    }
    if (device->available <= 0 && qStream_ReadingForCaller()) {
        if (qErr err = refillForCaller(device); err != qErrNone) {
            return err;
        }
    } else if (device->available <= 0) {
        qErr err = stateError(device);
        if (err == qErrIO) {
            return err;  // given up after repeated errors: no tolerance any more
        }
        if (err == qErrNone) {
            err = refillReceiveBuffer(device);
        }
        if (err != qErrNone) {
            return zvusb_tolerate_read_error(device, err);
        }
    }
    *byte = *device->readPosition++;
    device->available--;
    return zvusb_tolerate_read_error(device, qErrNone);
}

qErr zvusb_close_zendrival_USBlib_device(zvusb* device) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_LIBUSB, true); err != qErrNone) {
        return err;
    }
    const bool released = releaseHandle(device);
    device->state = ZVUSB_STATE_CLOSED;
    return released ? qErrNone : qErrTimeout;
}

// --- Kernel driver mode --------------------------------------------------------------------------

qErr zvusb_open_zendrival_kernel_device(zvusb* device, const char* serialText) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_KERNEL, serialTextUsable(serialText));
        err != qErrNone) {
        return err;
    }
    if (device->descriptor >= 0) {
        close(device->descriptor);
        device->descriptor = -1;
    }
    rememberSerial(device, serialText);
    // O_NOCTTY: a node that is a terminal must never become this process's controlling terminal.
    int fd = open(kernelNodePath(serialText).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        device->state = ZVUSB_STATE_CLOSED;
        return kernelOpenErrorCode(errno);
    }
    device->descriptor = fd;
    device->state = ZVUSB_STATE_READY;
    return qErrNone;
}

qErr zvusb_write_to_kernel_device(zvusb* device, const uint8_t* bytes, size_t length) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_KERNEL, bytes != nullptr || length == 0);
        err != qErrNone) {
        return err;
    }
    size_t sent = 0;
    for (int calls = 0; sent < length && calls < kMaxKernelWriteCalls; ++calls) {
        ssize_t rc = write(device->descriptor, bytes + sent, length - sent);
        if (rc < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return qErrIO;
        }
        sent += static_cast<size_t>(rc);
    }
    return sent == length ? qErrNone : qErrIO;
}

qErr zvusb_get_from_kernel_device(zvusb* device, uint8_t* byte) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_KERNEL, byte != nullptr); err != qErrNone) {
        return err;
    }
    return qStreamDescriptor_GetByte(device->descriptor, qSTREAM_IDLE_WAIT_MS, byte);
}

qErr zvusb_close_zendrival_kernel_device(zvusb* device) {
    if (qErr err = entryCheck(device, ZVUSB_MODE_KERNEL, true); err != qErrNone) {
        return err;
    }
    int fd = device->descriptor;
    device->descriptor = -1;
    if (fd >= 0 && close(fd) != 0) {
        return qErrCancel;
    }
    device->state = ZVUSB_STATE_CLOSED;
    return qErrNone;
}

// --- Pure rules ----------------------------------------------------------------------------------

bool is_zendrival_device(libusb_device* device) {
    libusb_device_descriptor descriptor;
    if (device == nullptr || libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) {
        return false;
    }
    return zvusb_is_zendrival_id(descriptor.idVendor, descriptor.idProduct);
}

bool zvusb_is_zendrival_id(uint16_t vendorId, uint16_t productId) {
    return vendorId == ZENDRIVAL_USB_VENDOR_ID &&
           (productId & ZENDRIVAL_USB_PRODUCT_NOT_MODULE) == 0;
}

size_t zvusb_out_piece_size(size_t remaining, uint16_t outMaxPacket) {
    size_t limit = outMaxPacket != 0 ? outMaxPacket : kFallbackPacketSize;
    size_t piece = remaining < limit ? remaining : limit;
    return piece == kHighSpeedPacket ? kHighSpeedPacket - 1 : piece;
}

qErr zvusb_tolerate_error(zvusb* device, qErr result) {
    if (!validDevice(device)) {
        return result;
    }
    if (result != qErrIO) {
        device->errorCount = 0;
        return result;
    }
    // Saturates so that a long run of failures cannot wrap around into "tolerated" again.
    uint8_t count = device->errorCount.load();
    while (count < UINT8_MAX && !device->errorCount.compare_exchange_weak(count, count + 1)) {
    }
    if (count < UINT8_MAX) {
        count++;
    }
    if (count <= ZVUSB_TOLERATED_IO_ERRORS) {
        return qErrNone;
    }
    device->state = ZVUSB_STATE_FAILED;
    return qErrIO;
}

qErr zvusb_tolerate_read_error(zvusb* device, qErr result) {
    qErr reported = zvusb_tolerate_error(device, result);
    return result == qErrIO && reported == qErrNone ? qErrNotReady : reported;
}
