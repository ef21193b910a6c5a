// What the tests of a Module's shared link need around it: simulated modules with a packet trace,
// their specifiers, the loopback probe for shared links, a look into the engine's link table, and a
// veth pair that gives the TCP/IP discovery request an interface to go out on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "Module.h"
#include "TestSupport.h"
#include "qLinkSpec.h"

namespace vexnettest {

// Starts the module simulator with a packet trace on its standard error (in logFile).
std::unique_ptr<zvtest::BackgroundProgram> startModules(const std::vector<std::string>& modules,
                                                        const std::string& logFile);

// The specifier of a TCP/IP module from its "tcp SERIAL ADDR:PORT" start-up line.
linkSpec tcpSpecOf(const zvtest::BackgroundProgram& sim, uint32_t serial);
// The specifier of a packetised serial module from its "pty SERIAL PATH" start-up line.
linkSpec serialSpecOf(const zvtest::BackgroundProgram& sim, uint32_t serial);

// Every shared link the loopback probe finds on this machine.
std::vector<linkSpec> probeSharedLinks();

// Sharing off: the Module talks over its own direct link.
Pelmorax::Zendrival::VexnetConfig directConfig();

// The type of the engine link a Module talks through; 0 when it has none.
uint32_t engineLinkType(Pelmorax::Zendrival::Module& module);
// The link a Module's client link reaches through its link server; 0 when there is none.
qLinkID servedLinkOf(Pelmorax::Zendrival::Module& module);
// Type of an engine link; 0 for an unknown id.
uint32_t linkTypeOf(qLinkID id);
// Whether a link server publishes that engine link.
bool isPublished(qLinkID id);

// Serial number and model as the module answers them through this Module.
struct Identity {
    qErr serialResult = qErrUnknown;
    uint32_t serial = 0;
    qErr modelResult = qErrUnknown;
    uint8_t model = 0;
};
Identity askIdentity(Pelmorax::Zendrival::Module& module);

// How many lines of a simulator trace are about the module with this serial number and contain
// the text.
size_t traceLinesAbout(const std::string& traceFile, uint32_t serial, const std::string& text);

// A veth pair inside the test's private network namespace, removed again at the end, so that the
// TCP/IP discovery request (which skips loopback) goes out somewhere. Simulators started after it
// listen for that request on it.
class DiscoveryInterfaces {
  public:
    DiscoveryInterfaces();
    ~DiscoveryInterfaces();
    DiscoveryInterfaces(const DiscoveryInterfaces&) = delete;
    DiscoveryInterfaces& operator=(const DiscoveryInterfaces&) = delete;

    // Empty when the pair is up, else why not.
    const std::string& problem() const { return problem_; }

  private:
    std::string problem_;
};

}  // namespace vexnettest
