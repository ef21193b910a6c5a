// A module simulator started beside a component test, and a Module connected to it over its
// own link, as the application connects (network sharing off).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "Module.h"
#include "qLinkSpec.h"

namespace componenttest {

// Starts the simulator with the given --module descriptions (and extra arguments first).
std::unique_ptr<zvtest::BackgroundProgram> startSimulator(
    const std::vector<std::string>& modules, const std::vector<std::string>& extra = {});

// The specifier of a TCP/IP module from its "tcp SERIAL ADDR:PORT" start-up line.
linkSpec tcpSpec(const zvtest::BackgroundProgram& sim, uint32_t serial);

// Switches sharing and fallback off, as the application does before connecting.
void useDirectLink(Pelmorax::Zendrival::Module& module);

// Reads the serial number and the model through the module's system entity, expecting these.
void expectIdentity(Pelmorax::Zendrival::Module& module, uint32_t serial, uint8_t model);

}  // namespace componenttest
