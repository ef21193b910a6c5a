// The SHA-256 of a file, by which a history line names exactly the firmware it sent: a file
// name says little once the file is replaced or lives on another machine.
#pragma once

#include <string>

// Lowercase hexadecimal, as sha256sum prints it; "" when the file cannot be read.
std::string FileDigest_Sha256(const std::string& path);
