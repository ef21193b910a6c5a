// The device library's one libusb context, shared by USB discovery and every USB stream of the
// process.
#pragma once

#include <libusb-1.0/libusb.h>

#include "qError.h"

// The process's libusb context, created on first use; null when libusb cannot start.
libusb_context* Zendrival_libusb_context();
// Creates the context if there is none yet; qErrInitialization when libusb cannot start.
qErr Zendrival_libusb_init();
// Ends the context and forgets it; the next use creates a fresh one, which re-reads the bus.
// Callers make sure no device of the old context is still open.
void Zendrival_libusb_exit();
