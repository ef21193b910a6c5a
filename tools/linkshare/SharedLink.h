// One module link opened directly and published through a link server. The server's own client
// link keeps the published link alive; dropping that client takes server and link down.
#pragma once

#include <cstdint>
#include <string>

#include "ShareOptions.h"
#include "qLink.h"

namespace linkshare {

class SharedLink {
  public:
    SharedLink() = default;
    ~SharedLink();
    SharedLink(const SharedLink&) = delete;
    SharedLink& operator=(const SharedLink&) = delete;

    // Opens the link and waits until it runs; false with the reason in *error.
    bool open(const ShareOptions& options, std::string* error);
    // Publishes the open link; false with the reason in *error.
    bool publish(bool localOnly, std::string* error);
    void close();

    uint16_t port() const { return port_; }

  private:
    qLinkID link_ = 0;
    qLinkID client_ = 0;
    uint16_t port_ = 0;
};

}  // namespace linkshare
