// A simulated module shared by a linkshare process, and the clients a test connects to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "Module.h"
#include "autoGen_SystemClass_CPP.h"
#include "TestSupport.h"
#include "qLinkSpec.h"

namespace sharetest {

constexpr uint32_t kSerial = 0x5A4E0017;
constexpr uint8_t kModel = 15;
constexpr uint8_t kAddress = 4;

// The second client process of the sharing tests (tests/share/peer).
std::string sharePeerBinary();

// A share_peer run, and what this process's own reads of the module came to meanwhile.
struct ConcurrentRun {
    zvtest::RunResult peer;
    int reads = 0;
    int wrongReads = 0;
};

// Runs share_peer with peerArgs while this process reads the module's serial number and model
// through system for as long as the peer runs (at least 20 rounds, at most limit), so that both
// processes talk to the module at once. A read that fails or gives another value is wrong.
ConcurrentRun runPeerWhileReading(Pelmorax::Zendrival::SystemClass& system, uint32_t serial,
                                  uint8_t model, const std::vector<std::string>& peerArgs,
                                  int limit);

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
