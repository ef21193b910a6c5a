// "-a": what one module's Updater process left, read into the module's report: the documents it
// printed on standard output ("--json": a download's, then the update's) and how it ended.
#pragma once

#include <string>

#include "ModuleToUpdate.h"

// waitStatus as waitpid gives it.
ModuleReport _module_report(const ModuleToUpdate& module, const std::string& output,
                            int waitStatus);

// Whether a result word leaves a module as it should be: updated, unchanged, or (dry run) would
// be updated.
bool _result_is_success(const std::string& result);
