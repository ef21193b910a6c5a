// What each update server request takes from the lines that follow the "ok" line of its reply.
// The lines are whatever the server sent; a missing line leaves its output as it was.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "ServerExchange.h"

// Line 2: the latest build number; line 3, cut at the line end: the firmware identifier.
void TakeQueryBuildResult(ReplyLines& lines, std::string& build, std::string& firmware);
// Line 2: the base64 text of the BIRD file.
void TakeBuildResult(ReplyLines& lines, std::string& data);
// Every further line of at least 3 characters: "build;version" (the version may be missing).
void TakeBuildListResult(ReplyLines& lines, std::map<std::string, std::string>& builds);
// Line 2: the serial number (hexadecimal); line 3: the build (decimal, "0x" hex or octal).
void TakeRecoveryInfoResult(ReplyLines& lines, uint32_t* serial, uint32_t* build);
