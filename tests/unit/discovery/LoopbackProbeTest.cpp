// Links shared by link servers on this machine, found by the loopback multicast probe: an answer
// counts only for a link that this user's shared link directory shows served.
#include <gtest/gtest.h>

#include <cstring>

#include "DiscoveryTestSupport.h"
#include "UdpPeers.h"
#include "discover.h"
#include "qLocalShare.h"

namespace {

// A link of this user's, as its server records it beside its socket.
class RecordedLink {
  public:
    explicit RecordedLink(const linkSpec& spec) {
        std::string failure;
        made_ = qLocalShare_Directory(&directory_, &failure) &&
                qLocalShare_Claim(directory_, &number_, &fd_) == qErrNone &&
                qLocalShare_Record(fd_, spec) == qErrNone;
    }
    ~RecordedLink() { qLocalShare_Release(directory_, number_, &fd_); }
    bool made() const { return made_; }

  private:
    std::string directory_;
    uint32_t number_ = 0;
    int fd_ = -1;
    bool made_ = false;
};

using discoverytest::Collector;
using discoverytest::ipv4;
using discoverytest::LinkServerPeer;
using discoverytest::sharedLinkSpec;

TEST(LoopbackProbeTest, ServerHoldingARequestPortIsAskedAndFound) {
    ENTER_PRIVATE_NETWORK(false);
    linkSpec served = sharedLinkSpec(0x00C0FFEE, "127.0.0.1", 5556);
    served.reserved[95] = 0x5A;  // every byte of the reply makes it into the found linkSpec
    LinkServerPeer server(3, served);
    RecordedLink recorded(served);
    ASSERT_TRUE(recorded.made());
    ASSERT_TRUE(server.ready());
    server.start();

    Collector seen;
    int count = qDiscovery_EnumerateModules(linkTypeNetworkClient, Collector::callback, &seen, 0);
    server.stop();

    std::vector<discoverytest::Datagram> requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, std::string("\xBA\xDC\xCD\xAB", 4));
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    EXPECT_EQ(memcmp(&seen.offered[0], &served, sizeof(linkSpec)), 0);
}

TEST(LoopbackProbeTest, OnlyLinksOnThisMachineAreReported) {
    ENTER_PRIVATE_NETWORK(false);
    LinkServerPeer remote(0, sharedLinkSpec(0x100, "10.1.2.3", 5555));
    LinkServerPeer local(1, sharedLinkSpec(0x200, "127.0.0.1", 5556));
    RecordedLink recorded(sharedLinkSpec(0x200, "127.0.0.1", 5556));
    ASSERT_TRUE(recorded.made());
    ASSERT_TRUE(remote.ready());
    ASSERT_TRUE(local.ready());
    remote.start();
    local.start();

    Collector seen;
    int count = qDiscovery_Enumerate_VexnetModules(Collector::callback, &seen, ipv4("127.0.0.1"));
    linkSpec* found = qDiscovery_FindModule(linkTypeNetworkClientUSB, 0x200, 0);
    linkSpec* absent = qDiscovery_FindModule(linkTypeNetworkClientUSB, 0x100, 0);
    remote.stop();
    local.stop();

    // The search for 0x200 ends on its record, before any server is asked; the others ask each
    // server once.
    EXPECT_EQ(remote.received().size(), 2u);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    EXPECT_EQ(seen.offered[0].serialNumber, 0x200u);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->port, 5556u);
    EXPECT_EQ(found->type, static_cast<uint32_t>(linkTypeNetworkClientUSB));
    qLinkSpec_Destroy(&found);
    EXPECT_EQ(absent, nullptr);
}

TEST(LoopbackProbeTest, RepliesOfAnotherSizeAreNotSpecs) {
    // Deliberate: only a reply of exactly one link record is taken; longer ones are not cut to fit.
    ENTER_PRIVATE_NETWORK(false);
    LinkServerPeer shorter(0, sharedLinkSpec(0x100, "127.0.0.1", 5555), sizeof(linkSpec) - 1);
    LinkServerPeer longer(7, sharedLinkSpec(0x200, "127.0.0.1", 5556), sizeof(linkSpec) + 1);
    ASSERT_TRUE(shorter.ready());
    ASSERT_TRUE(longer.ready());
    shorter.start();
    longer.start();

    Collector seen;
    int count = qDiscovery_Enumerate_VexnetModules(Collector::callback, &seen, 0);
    shorter.stop();
    longer.stop();

    EXPECT_EQ(shorter.received().size(), 1u);
    EXPECT_EQ(longer.received().size(), 1u);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(seen.offered.empty());
}

// Any process on this machine may hold a probe port and answer: another user's must not make the
// search report, and so connect to, a link that is not this user's.
TEST(LoopbackProbeTest, AnAnswerForNoRecordedLinkIsNotBelieved) {
    ENTER_PRIVATE_NETWORK(false);
    LinkServerPeer impostor(2, sharedLinkSpec(0x300, "127.0.0.1", 5557));
    LinkServerPeer recordedServer(4, sharedLinkSpec(0x400, "127.0.0.1", 5558));
    RecordedLink recorded(sharedLinkSpec(0x400, "127.0.0.1", 5558));
    ASSERT_TRUE(recorded.made());
    ASSERT_TRUE(impostor.ready());
    ASSERT_TRUE(recordedServer.ready());
    impostor.start();
    recordedServer.start();

    Collector seen;
    int count = qDiscovery_Enumerate_VexnetModules(Collector::callback, &seen, 0);
    impostor.stop();
    recordedServer.stop();

    EXPECT_EQ(impostor.received().size(), 1u) << "the impostor was asked and answered";
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    EXPECT_EQ(seen.offered[0].serialNumber, 0x400u);
}

TEST(LoopbackProbeTest, NoServersNoSpecs) {
    ENTER_PRIVATE_NETWORK(false);
    Collector seen;
    EXPECT_EQ(
        qDiscovery_EnumerateModules(linkTypeNetworkClientTCPIP, Collector::callback, &seen, 0), 0);
    EXPECT_TRUE(seen.offered.empty());
}

}  // namespace
