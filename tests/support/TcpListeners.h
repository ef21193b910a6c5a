// What a process listens on over TCP, read as the kernel sees it: the LISTEN entries of its
// network namespace's /proc/PID/net/tcp whose socket is one of the process's descriptors.
#pragma once

#include <sys/types.h>

namespace zvtest {

// -1 when the process's tables cannot be read.
int tcpListenersOf(pid_t pid);

}  // namespace zvtest
