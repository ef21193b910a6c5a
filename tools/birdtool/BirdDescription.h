// Reads a plain-text description of a BIRD file (see README.md) into a BirdWriter.
#pragma once

#include <string>

#include "BirdWriter.h"

// Fills writer from the description file; on failure returns false with error set to
// "FILE:LINE: what".
bool BirdDescription_Read(const std::string& descriptionPath, BirdWriter& writer,
                          std::string& error);
