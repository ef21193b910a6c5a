// Finding a module again on USB after it restarted and re-enumerated (into its loader, or a
// chip's recovery loader coming up), which can take a while on a real bus.
#pragma once

#include "Module.h"

// Up to 15 attempts a second apart; before every third the process's USB context is ended
// (and created again by the next search), since a context can miss a device that re-enumerated.
// True when the module is connected.
bool _find_again_on_usb(Pelmorax::Zendrival::Module& module, unsigned serial);
// One of those attempts (numbered from 0), refreshing the USB context first when it is a third.
bool _find_again_on_usb_once(Pelmorax::Zendrival::Module& module, unsigned serial, int attempt);
