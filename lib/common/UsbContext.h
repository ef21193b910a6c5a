// The libusb context behind Zendrival-C.h, for the library's own USB code only: programs using
// the library never see libusb.
#pragma once

#include <libusb-1.0/libusb.h>

#include "Zendrival-C.h"

// The process's libusb context, created on first use; null when libusb cannot start.
libusb_context* Zendrival_libusb_context();
