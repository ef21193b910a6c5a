#include "ProgramNetwork.h"

#include "TestSupport.h"

namespace zvtest {

void ProgramNetwork::SetUp() {
    std::string why;
    problem_ = enterPrivateNetwork(veth_, &why) ? "" : why;
}

ProgramNetwork* addProgramNetwork(bool veth) {
    auto* network = new ProgramNetwork(veth);
    ::testing::AddGlobalTestEnvironment(network);
    return network;
}

}  // namespace zvtest
