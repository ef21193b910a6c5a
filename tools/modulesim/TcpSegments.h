// The kernel's count of data segments a TCP connection received. It lives apart because the
// kernel's tcp_info (which has the count) and the C library's cannot be included together.
#pragma once

#include <cstdint>

namespace modulesim {

// False when the socket cannot tell.
bool dataSegmentsReceived(int fd, uint32_t* segments);

}  // namespace modulesim
