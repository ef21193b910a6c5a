// The steps of a firmware update that recovery reuses: checking that a BIRD file fits the
// connected module, and sending its loader and firmware blocks.
#pragma once

#include "BirdFile.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"
#include "qError.h"

// Whether the file was made for the connected module. mismatch, when given, is set when the
// module or the file says they do not belong together (another serial number or model), and
// left false when the answer was not read.
bool _validate_birdfile(UpdaterDisplayInterface& display, BirdFile& file,
                        Pelmorax::Zendrival::Module& module, unsigned serial,
                        bool* mismatch = nullptr);
qErr _transfer_loader(UpdaterDisplayInterface& display, Pelmorax::Zendrival::Module& module,
                      BirdFile& file);
qErr _transfer_firmware(UpdaterDisplayInterface& display, Pelmorax::Zendrival::Module& module,
                        BirdFile& file, bool indirect, bool useUEIBytes);

// A firmware block that fails is sent again from its PREPARE at most this often in all.
constexpr unsigned FIRMWARE_BLOCK_ATTEMPTS = 5;
