// After REBOOT a module is trusted to run its new firmware only when it is found again and says
// so itself: a dropped link proves nothing (a lost REBOOT never drops it, a routed link never
// drops at all), and a module that restarted may have fallen back to the firmware it had.
#pragma once

#include <functional>

#include "BirdFile.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"
#include "qError.h"

// One try at reaching the module again the way the update reached it (the same transport, or
// through the same router); attempt counts from 0. True when the module is connected.
using RefindAttempt = std::function<bool(int attempt)>;

// Finds the module again (15 attempts a second apart, like the search after LOAD), reads its
// build through its system entity and compares it with the build of the file's information block;
// a file without one only needs the module to come back. On success an info line says what was
// verified; otherwise one error line, and qErrNotFound (the module did not come back) or
// qErrVersion (it runs another build). reported, when given, receives the build the module
// reported (0 when it did not come back).
qErr _verify_update(UpdaterDisplayInterface& display, Pelmorax::Zendrival::Module& module,
                    const BirdFile& file, unsigned serial, const RefindAttempt& refind,
                    unsigned* reported = nullptr);
