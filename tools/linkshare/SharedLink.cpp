#include "SharedLink.h"

#include <arpa/inet.h>

#include "qShareFailure.h"
#include "unix_time.h"

namespace linkshare {

namespace {

// A module answers the link's synchronisation within a second or two; a server put in front of
// a link that is not yet running could not learn the module's model.
constexpr int kStartPolls = 500;
constexpr uint32_t kStartPollMs = 10;

qLinkID createLink(const ShareOptions& options) {
    switch (options.transport) {
        case Transport::Tcp:
            return qLink_CreateTCPIP(options.serial, options.address, options.port);
        case Transport::Usb:
            return qLink_CreateUSB(options.serial);
        case Transport::Serial:
            return qLink_CreateSerial(options.serial, options.path.c_str(), options.baud);
    }
    return 0;
}

bool awaitRunning(qLinkID link) {
    for (int poll = 0; poll < kStartPolls; ++poll) {
        uint32_t status = qLink_GetStatus(link);
        if (status == qLINK_STATUS_RUNNING) {
            return true;
        }
        if (status != qLINK_STATUS_STOPPED && status != qLINK_STATUS_STARTING &&
            status != qLINK_STATUS_SYNCING) {
            return false;
        }
        qTime_MSSleep(kStartPollMs);
    }
    return false;
}

}  // namespace

SharedLink::~SharedLink() {
    close();
}

bool SharedLink::open(const ShareOptions& options, std::string* error) {
    link_ = createLink(options);
    if (link_ == 0) {
        *error = "cannot open the module's link";
        return false;
    }
    if (!awaitRunning(link_)) {
        *error = "the module's link does not come up";
        close();
        return false;
    }
    return true;
}

bool SharedLink::publish(bool localOnly, std::string* error) {
    uint32_t interface = localOnly ? htonl(INADDR_LOOPBACK) : 0;
    client_ = qLink_CreateServer(link_, &port_, &interface, localOnly);
    if (client_ == 0) {
        *error = "cannot publish the link through a link server";
        // The server's own reason (a missing key pair, a refused secret file), when it has one.
        if (qShare_Failure()[0] != '\0') {
            *error += ": " + std::string(qShare_Failure());
        }
        return false;
    }
    return true;
}

void SharedLink::close() {
    if (client_ != 0) {
        qLink_Destroy(&client_);
        client_ = 0;
        link_ = 0;
    } else if (link_ != 0) {
        qLink_Destroy(&link_);
        link_ = 0;
    }
}

}  // namespace linkshare
