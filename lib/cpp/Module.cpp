// Connecting a module: by serial number or model, from a known specifier, or behind a router on
// its bus; after a connect the module is asked for its own bus address.
#include "Module.h"

#include "qDebugging.h"
#include "unix_time.h"

namespace Pelmorax {
namespace Zendrival {

Module::Module(uint8_t moduleAddress, uint8_t moduleModel)
    : Module(moduleAddress, true, moduleModel) {}

Module::Module(uint8_t moduleAddress, bool networking, uint8_t moduleModel)
    : link(std::make_unique<Link>("Link")),
      address(moduleAddress),
      networkingMode(networking),
      model(moduleModel) {}

Module::~Module() = default;

qErr Module::connect(linkType type, uint32_t serialNumber) {
    if (serialNumber == 0) {
        return qErrParam;
    }
    return discoverAndConnect(type, serialNumber);
}

qErr Module::discoverAndConnect(linkType type, uint32_t serialNumber) {
    const qErr result = link->discoverAndConnect(type, serialNumber, model);
    return result == qErrNone ? _autoNetwork() : result;
}

qErr Module::connectFromSpec(const linkSpec& specifier) {
    if (link->isConnected()) {
        return qErrBusy;
    }
    qErr result = link->setLinkSpecifier(specifier);
    if (result == qErrNone) {
        result = link->connect();
    }
    if (result != qErrNone) {
        return result;
    }
    result = _autoNetwork();
    qDebug_Print(qDEBUG_NETWORK, "Post autoNetwork err: %d\n", static_cast<int>(result));
    return result;
}

qErr Module::connectThroughLinkModule(Module* router) {
    if (isConnected()) {
        return qErrNone;
    }
    if (router == nullptr) {
        return qErrInitialization;
    }
    linkSpec specifier{};
    qErr result = router->getLinkSpecifier(&specifier);
    if (result != qErrNone) {
        return result;
    }
    VexnetConfig config;
    router->getConfig(&config);
    result = link->setConfig(config);
    if (result != qErrNone) {
        return result;
    }
    if (config.enabled) {
        specifier.type = linkTypeNetworkClient;
        specifier.ipAddress = config.networkInterface;
        specifier.port = config.assignedPort;
    }
    result = link->setLinkSpecifier(specifier);
    if (result == qErrNone) {
        result = link->connectThroughLinkModule(*router->link);
    }
    if (result == qErrNone) {
        // Behind a router the address is the one on the router's bus, given by our creator.
        networkingMode = false;
    }
    return result;
}

qErr Module::reconnect() {
    const qErr result = link->connect();
    return result == qErrNone ? _autoNetwork() : result;
}

qErr Module::disconnect() {
    return link->disconnect();
}

bool Module::isConnected() const {
    return link->isConnected();
}

uint32_t Module::getStatus() const {
    return link->getStatus();
}

qErr Module::getLinkSpecifier(linkSpec* specifier) const {
    return link->getLinkSpecifier(specifier);
}

qErr Module::getConfig(VexnetConfig* config) const {
    return link->getConfig(config);
}

qErr Module::setConfig(const VexnetConfig& config) {
    return link->setConfig(config);
}

qErr Module::_autoNetwork() {
    // A module that has just come up may not answer its first address request yet.
    constexpr int ADDRESS_ATTEMPTS = 4;
    constexpr uint32_t ADDRESS_RETRY_MS = 5;
    if (!networkingMode) {
        return qErrNone;
    }
    uint8_t learned = 0;
    qErr result = qErrNotReady;
    int attempt = 0;
    for (; attempt < ADDRESS_ATTEMPTS && result == qErrNotReady; ++attempt) {
        result = link->getModuleAddress(&learned);
        if (result == qErrNotReady) {
            qTime_MSSleep(ADDRESS_RETRY_MS);
        }
    }
    if (result == qErrNotReady) {
        qDebug_Print(qDEBUG_NETWORK, "BOO! Failed to autoNetwork\n");
    }
    if (learned != 0 && learned != address) {
        address = learned;
    }
    return result;
}

qErr Module::enablePacketLog(const char* fileName) {
    return link->enablePacketLog(fileName);
}

qErr Module::disablePacketLog() {
    return link->disablePacketLog();
}

}  // namespace Zendrival
}  // namespace Pelmorax
