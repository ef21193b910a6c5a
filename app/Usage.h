// Version banner, copyright line and usage text of the program.
#pragma once

class CLI_Display;

#define UPDATER_APP_NAME "Updater"
// The release, as the module histories record it, and the banner's version text.
#define UPDATER_APP_RELEASE "2.12.2"
#define UPDATER_APP_VERSION "Version: " UPDATER_APP_RELEASE " Mar 13 2026"

void _display_app_version(CLI_Display& display);
void _display_copyright(CLI_Display& display);
// Writes the usage to standard error: the header always, the full text when help was requested,
// and the extended block too when "-X" came before the help option.
void _display_usage(bool debugGiven, bool helpRequested);
