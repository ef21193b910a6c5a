// "-C": describe a BIRD file without touching any device.
#pragma once

#include <string>

class UpdaterDisplayInterface;

// Prints the blocks and the information block of the file as info lines; true when it loads.
bool _check_bird_file(UpdaterDisplayInterface& display, const std::string& path);
