#include "TcpSegments.h"

#include <linux/tcp.h>
#include <cstddef>
#include <netinet/in.h>
#include <sys/socket.h>

namespace modulesim {

bool dataSegmentsReceived(int fd, uint32_t* segments) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        size < offsetof(tcp_info, tcpi_data_segs_in) + sizeof info.tcpi_data_segs_in) {
        return false;
    }
    *segments = info.tcpi_data_segs_in;
    return true;
}

}  // namespace modulesim
