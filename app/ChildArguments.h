// "-a": the command line of the Updater process that updates one module: "--json -U
// --skip-current -d SERIAL", "-r ROUTER" for a module behind a router, and every option of the
// run that bears on one module's update.
#pragma once

#include <string>
#include <vector>

#include "ModuleToUpdate.h"
#include "Parameters.h"

// The words after the program name.
std::vector<std::string> _child_arguments(const Parameters& params, const ModuleToUpdate& module);
