// One private network namespace for a whole test program, entered before any test runs: ZeroMQ's
// I/O threads stay in the namespace of the thread that started them, so the namespace cannot
// change between the tests of one process, and the programs the tests start inherit it.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace zvtest {

class ProgramNetwork : public ::testing::Environment {
  public:
    explicit ProgramNetwork(bool veth) : veth_(veth) {}
    void SetUp() override;
    // Empty when the namespace was entered, else the reason it was not.
    const std::string& problem() const { return problem_; }

  private:
    bool veth_;
    std::string problem_ = "private network not entered";
};

// Registers the program's namespace (with the veth pair when veth) with GoogleTest.
ProgramNetwork* addProgramNetwork(bool veth);

}  // namespace zvtest
