// Links shared with this machine only live in a directory that only their user can enter:
// /run/user/UID/zendrival when the user's runtime directory is private, else /tmp/zendrival-UID.
// Each shared link there is endpoint N: the ZeroMQ socket "link-N" and the file "link-N.lock",
// which the serving process holds locked (so a number is handed out once, and a dead server's
// number comes free) and in which it keeps the linkSpec that discovery reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qError.h"
#include "qLinkSpec.h"

// Highest endpoint number handed out; a user rarely shares more than a few links at once.
constexpr uint32_t qLOCAL_SHARE_MAX_ENDPOINTS = 1000;

// This user's directory, made when missing; false with one line naming the directory (and why
// it is refused) in *failure when it cannot be made or is not private to the user.
bool qLocalShare_Directory(std::string* directory, std::string* failure);
// The paths of endpoint number in directory.
std::string qLocalShare_SocketPath(const std::string& directory, uint32_t number);
std::string qLocalShare_LockPath(const std::string& directory, uint32_t number);

// The lowest free endpoint number, locked for the caller: *lockFd stays open (and locked) for as
// long as the endpoint is served. A socket left by a dead server is removed.
qErr qLocalShare_Claim(const std::string& directory, uint32_t* number, int* lockFd);
// Writes the linkSpec that discovery reports for the endpoint into its locked file.
qErr qLocalShare_Record(int lockFd, const linkSpec& spec);
// Ends the endpoint: its socket goes, its file is emptied and unlocked (and fd closed).
void qLocalShare_Release(const std::string& directory, uint32_t number, int* lockFd);
// The linkSpecs of this user's endpoints whose server is alive and has recorded one.
std::vector<linkSpec> qLocalShare_LiveLinks(const std::string& directory);

// Checks that endpoint number can be connected to before anything is sent: qErrNone, or
// qErrNotFound ("no such shared link"), qErrPermission ("permission denied"), qErrConnection
// ("refused") with the failure recorded for the caller.
qErr qLocalShare_CheckConnect(const std::string& socketPath);
