#include "UsbContext.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// A context and the devices that hold it. The current one is what the next user gets; an ended
// one that devices still hold is retired instead, and libusb ends it when its last user lets go:
// a device's transfers and event handling need its context until the device is closed.
struct ContextUse {
    libusb_context* context = nullptr;
    int users = 0;
};

std::mutex& contextLock() {
    static std::mutex lock;
    return lock;
}

// Both under contextLock.
ContextUse current;
std::vector<ContextUse> retired;

libusb_context* currentContext() {
    if (current.context == nullptr && libusb_init(&current.context) != LIBUSB_SUCCESS) {
        current.context = nullptr;
    }
    return current.context;
}

// Ends the context once nobody holds it; else leaves it where it is.
void endWhenUnused(ContextUse& use) {
    if (use.users == 0 && use.context != nullptr) {
        libusb_exit(use.context);
        use.context = nullptr;
    }
}

}  // namespace

libusb_context* Zendrival_libusb_context() {
    std::lock_guard<std::mutex> guard(contextLock());
    return currentContext();
}

libusb_context* Zendrival_libusb_acquire() {
    std::lock_guard<std::mutex> guard(contextLock());
    libusb_context* context = currentContext();
    if (context != nullptr) {
        current.users++;
    }
    return context;
}

void Zendrival_libusb_release(libusb_context* context) {
    std::lock_guard<std::mutex> guard(contextLock());
    if (context != nullptr && context == current.context) {
        current.users--;
        return;
    }
    auto use = std::find_if(retired.begin(), retired.end(),
                            [context](const ContextUse& u) { return u.context == context; });
    if (use != retired.end() && --use->users == 0) {
        endWhenUnused(*use);
        retired.erase(use);
    }
}

int Zendrival_libusb_users() {
    std::lock_guard<std::mutex> guard(contextLock());
    int users = current.users;
    for (const ContextUse& use : retired) {
        users += use.users;
    }
    return users;
}

qErr Zendrival_libusb_init() {
    return Zendrival_libusb_context() != nullptr ? qErrNone : qErrInitialization;
}

void Zendrival_libusb_exit() {
    std::lock_guard<std::mutex> guard(contextLock());
    endWhenUnused(current);
    if (current.context != nullptr) {
        retired.push_back(current);
    }
    current = ContextUse();
}
