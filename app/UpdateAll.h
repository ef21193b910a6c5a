// "-a" with "-U" (and "-G"): every module found gets the build it would get alone, each module
// in an Updater process of its own (the re-find after LOAD ends a process's USB context, so
// updates in one process would disturb each other). Their standard error is relayed line by
// line, each line led by its module's serial number; their "--json" documents give each
// module's result. Ends with one table and one summary line, or with "--json" one document.
#pragma once

class CLI_Display;
class JsonReport;
class Updater;
struct Parameters;

// 0 when every module ended updated or unchanged (would be updated, in a dry run), 1 otherwise,
// when no module was found, or when the run was stopped by a signal.
int _update_all(CLI_Display& display, Updater& updater, const Parameters& params,
                JsonReport& report);
