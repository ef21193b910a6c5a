// What the device list shows of one connected module: build, version and name.
#pragma once

#include "DeviceInfo.h"
#include "Module.h"
#include "qError.h"

// The build from the module-information command; 0 when it cannot be read.
unsigned _get_build_number(Pelmorax::Zendrival::Module& module);
// Version from the system entity, then the module and router addresses the module reports into
// the specifier. The first failure is returned; later fields stay as they were.
qErr _get_version(Pelmorax::Zendrival::Module& module, DeviceInfo& info);
// The stored name, for firmware 2.10.4 and later; earlier firmware has none (success).
qErr _get_device_name(Pelmorax::Zendrival::Module& module, DeviceInfo& info);
