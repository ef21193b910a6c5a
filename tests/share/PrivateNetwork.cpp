#include "PrivateNetwork.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string& networkProblem() {
    static std::string problem = "private network not entered";
    return problem;
}

class PrivateNetwork : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string why;
        networkProblem() = zvtest::enterPrivateNetwork(false, &why) ? "" : why;
    }
};

::testing::Environment* const privateNetwork =
    ::testing::AddGlobalTestEnvironment(new PrivateNetwork);

}  // namespace

const std::string& privateNetworkProblem() {
    return networkProblem();
}
