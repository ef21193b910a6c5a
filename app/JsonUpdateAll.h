// "--json" with "-a": one document for the whole run (its shape is
// packaging/schema/update-all.schema.json), printed through JsonReport so that the run's own
// error lines go under "error".
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <vector>

#include "ModuleToUpdate.h"

nlohmann::json _json_update_all(const std::vector<ModuleReport>& reports, bool dryRun);
