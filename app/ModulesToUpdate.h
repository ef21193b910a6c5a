// "-a": the modules a run updates, found as "-D" finds them (narrowed by "-t", "-r" and "-d"),
// with the modules behind every router found on the way.
#pragma once

#include <vector>

#include "ModuleToUpdate.h"
#include "Parameters.h"

class CLI_Display;
class Updater;

// In discovery order, each serial number once. Empty after one error line when "-d" names a
// module that was not found.
std::vector<ModuleToUpdate> _modules_to_update(CLI_Display& display, Updater& updater,
                                               const Parameters& params);
