// The device library's one USB context, shared by USB discovery and every USB stream of the
// process. Programs end it to make the next USB use read the bus afresh.
#pragma once

#include "ZendrivalExport.h"

#include "qError.h"

// Creates the context if there is none yet; qErrInitialization when libusb cannot start.
ZENDRIVAL_EXPORT qErr Zendrival_libusb_init();
// Ends the context and forgets it: the next use creates a fresh one, which reads the bus afresh.
// Devices that are open keep the context they were opened on, and keep working: that context
// ends only when the last of them closes.
ZENDRIVAL_EXPORT void Zendrival_libusb_exit();
