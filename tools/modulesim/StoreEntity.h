// The store entity (command 92, index 0): saves, restores or resets another entity's settings.
#pragma once

#include "Outcome.h"
#include "SystemEntity.h"
#include "Uei.h"

namespace modulesim {

void handleStoreEntity(const UeiRequest& request, uint8_t address, SystemEntity& system,
                       Outcome& outcome);

}  // namespace modulesim
