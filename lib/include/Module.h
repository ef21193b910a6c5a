// One device module, addressed by its 8-bit bus address, reached through the Link it owns.
// Creating a Module does not touch the hardware; the first exchange happens when it connects, and
// the destructor disconnects.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Link.h"
#include "VexnetConfig.h"
#include "qError.h"
#include "qLinkSpec.h"

namespace Pelmorax {
namespace Zendrival {

class ZENDRIVAL_EXPORT Module {
  public:
    // Learns the module's address from the module after each connect.
    Module(uint8_t address, uint8_t model);
    Module(uint8_t address, bool networkingMode, uint8_t model);
    virtual ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // qErrParam for serial number 0; otherwise discoverAndConnect.
    qErr connect(linkType type, uint32_t serialNumber);
    // Serial number 0 finds the first module of this module's model (0 = any).
    qErr discoverAndConnect(linkType type, uint32_t serialNumber);
    // qErrBusy when already connected.
    qErr connectFromSpec(const linkSpec& specifier);
    // Connects a module that sits behind router on the router's bus, over the router's
    // connection; this module's address is then the one it was created with.
    qErr connectThroughLinkModule(Module* router);
    // Connects again with the stored specifier (after the module rebooted).
    qErr reconnect();
    qErr disconnect();
    bool isConnected() const;
    uint32_t getStatus() const;

    uint8_t getModuleAddress() const { return address; }
    void setModuleAddress(uint8_t moduleAddress) { address = moduleAddress; }
    void setNetworkingMode(bool enabled) { networkingMode = enabled; }
    uint8_t getModel() const { return model; }

    qErr getLinkSpecifier(linkSpec* specifier) const;
    qErr getConfig(VexnetConfig* config) const;
    qErr setConfig(const VexnetConfig& config);
    Link* getLink() { return link.get(); }

    // Echo test: the module must send back exactly these bytes (at most 27); qErrIO otherwise.
    qErr debug(const uint8_t* data, uint8_t length);
    qErr enablePacketLog(const char* fileName);
    qErr disablePacketLog();

    // Module information.
    qErr getBuild(uint32_t* build);
    // qErrNone when the module has that UEI, else the module's answer code.
    qErr hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags);
    qErr classQuantity(uint8_t entityClass, uint8_t* count);
    qErr subClassQuantity(uint8_t entityClass, uint8_t subClass, uint8_t* count);
    qErr entityGroup(uint8_t entityClass, uint8_t index, uint8_t* group);

  private:
    qErr _autoNetwork();

    std::unique_ptr<Link> link;
    uint8_t address;
    bool networkingMode;
    uint8_t model;
};

}  // namespace Zendrival
}  // namespace Pelmorax
