// Sets a module, before it connects, to be reached over its own link only.
#pragma once

#include "Module.h"
#include "UpdaterDisplayInterface.h"
#include "qError.h"

// A non-zero result has been reported to the user already.
qErr _disableVexnet(Pelmorax::Zendrival::Module& module, UpdaterDisplayInterface& display);
