#include "DisableVexnet.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::VexnetConfig;

qErr _disableVexnet(Module& module, UpdaterDisplayInterface& display) {
    // The program talks to a module over its own USB or TCP/IP link: no link server in front of
    // it and no silent switch to another link type.
    VexnetConfig config;
    config.enabled = false;
    config.fallback = false;
    config.localOnly = true;
    qErr result = module.setConfig(config);
    if (result != qErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Failed to SET network configuration");
    }
    return result;
}
