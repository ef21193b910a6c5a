// "-a": the table that ends the run, one row per module, and the summary line under it.
#pragma once

#include <string>
#include <vector>

#include "ModuleToUpdate.h"

struct UpdateAllSummary {
    unsigned updated = 0;
    unsigned unchanged = 0;
    unsigned failed = 0;  // every result but updated, unchanged, busy and would_update
    unsigned busy = 0;
    unsigned wouldUpdate = 0;
    unsigned modules = 0;
};

UpdateAllSummary _summarize(const std::vector<ModuleReport>& reports);

// The header and one line per module: Module, Link, Router, Before, After, Result and Time, "-"
// for what is not known; each column as wide as its widest entry.
std::vector<std::string> _update_all_table(const std::vector<ModuleReport>& reports);

// "Updated %d, unchanged %d, failed %d, busy %d (%d modules)"; a dry run counts the modules it
// would update first.
std::string _update_all_summary_line(const UpdateAllSummary& summary, bool dryRun);
