// A simulated module shared by a linkshare process, and the clients a test connects to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "Module.h"
#include "TestSupport.h"
#include "qLinkSpec.h"

namespace sharetest {

constexpr uint32_t kSerial = 0x5A4E0017;
constexpr uint8_t kModel = 15;
constexpr uint8_t kAddress = 4;

// The second client process of the sharing tests (tests/share/peer).
std::string sharePeerBinary();

// One packet the module received or sent, as its trace line shows it.
struct TracedPacket {
    char direction = 0;          // '<' from the host, '>' to it
    std::vector<uint8_t> bytes;  // address, length, data
};

class SharedModule : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Every linkSpec the loopback probe finds.
    std::vector<linkSpec> probeSharedLinks();
    // A client Module connected to the shared link; null when it cannot connect.
    std::unique_ptr<Pelmorax::Zendrival::Module> connectClient();
    // The module's packet trace so far.
    std::vector<TracedPacket> trace() const;

    zvtest::TempDir scratch_;
    std::unique_ptr<zvtest::BackgroundProgram> simulator_;
    std::unique_ptr<zvtest::BackgroundProgram> sharer_;
    uint16_t sharedPort_ = 0;
    // linkSpec is a packed wire record: aligned here so that its fields can be read in place.
    alignas(4) linkSpec shared_{};
};

}  // namespace sharetest
