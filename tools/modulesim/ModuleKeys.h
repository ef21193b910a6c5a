// The words of a --module description, key or key=value: one table says what each key takes,
// what it sets and how the help describes it.
#pragma once

#include <string>

#include "SimConfig.h"

namespace modulesim {

// Applies one key of a --module description; false with a one-line reason in error.
bool applyModuleKey(const std::string& key, const std::string& value, bool hasValue,
                    ModuleConfig& module, std::string& error);

// The help's list of the keys, group by group.
std::string moduleKeysHelp();

}  // namespace modulesim
