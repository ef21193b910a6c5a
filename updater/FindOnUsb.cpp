#include "FindOnUsb.h"

#include <chrono>
#include <thread>

#include "Log.h"
#include "Zendrival-C.h"

namespace {

constexpr int REFIND_ATTEMPTS = 15;
constexpr int REFIND_SLEEP_MS = 1000;

}  // namespace

bool _find_again_on_usb_once(Pelmorax::Zendrival::Module& module, unsigned serial, int attempt) {
    if (attempt % 3 == 2) {
        Log::log(DEBUG_APP, "Failed enumeration after 3 tries, refreshing libusb context.\n");
        Zendrival_libusb_exit();
    }
    module.discoverAndConnect(linkTypeUSB, serial);
    return module.isConnected();
}

bool _find_again_on_usb(Pelmorax::Zendrival::Module& module, unsigned serial) {
    for (int attempt = 0; attempt < REFIND_ATTEMPTS; ++attempt) {
        if (_find_again_on_usb_once(module, serial, attempt)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(REFIND_SLEEP_MS));
    }
    return false;
}
