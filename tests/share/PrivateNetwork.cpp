#include "PrivateNetwork.h"

#include "ProgramNetwork.h"

namespace {

zvtest::ProgramNetwork* const network = zvtest::addProgramNetwork(false);

}  // namespace

const std::string& privateNetworkProblem() {
    return network->problem();
}
