// The libusb context behind Zendrival-C.h, for the library's own USB code only: programs using
// the library never see libusb.
#pragma once

#include <libusb-1.0/libusb.h>

#include "Zendrival-C.h"

// The process's current libusb context, created on first use; null when libusb cannot start.
// This look does not count as a use: whatever works on the context acquires it instead.
libusb_context* Zendrival_libusb_context();
// The current context, counted as used until the same context is released: Zendrival_libusb_exit
// does not end a context while it is used. Null (and nothing to release) when libusb cannot start.
libusb_context* Zendrival_libusb_acquire();
void Zendrival_libusb_release(libusb_context* context);
// How many uses of any context, current or ended, are not released yet.
int Zendrival_libusb_users();
