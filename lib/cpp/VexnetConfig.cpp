#include "VexnetConfig.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace Pelmorax {
namespace Zendrival {

VexnetConfig::VexnetConfig()
    : enabled(true),
      fallback(true),
      localOnly(true),
      assignedPort(0),
      networkInterface(htonl(INADDR_LOOPBACK)) {}

}  // namespace Zendrival
}  // namespace Pelmorax
