#include "UsbContext.h"

#include <mutex>

namespace {

std::mutex& contextLock() {
    static std::mutex lock;
    return lock;
}

libusb_context* sharedContext = nullptr;

}  // namespace

libusb_context* Zendrival_libusb_context() {
    std::lock_guard<std::mutex> guard(contextLock());
    if (sharedContext == nullptr && libusb_init(&sharedContext) != LIBUSB_SUCCESS) {
        sharedContext = nullptr;
    }
    return sharedContext;
}

qErr Zendrival_libusb_init() {
    return Zendrival_libusb_context() != nullptr ? qErrNone : qErrInitialization;
}

void Zendrival_libusb_exit() {
    std::lock_guard<std::mutex> guard(contextLock());
    if (sharedContext != nullptr) {
        libusb_exit(sharedContext);
        sharedContext = nullptr;
    }
}
