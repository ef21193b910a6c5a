#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "LinkFixture.h"
#include "LoopbackListener.h"
#include "qLinkInternal.h"
#include "qShareFailure.h"
#include "qLinkManagerInternal.h"

namespace {

// The socket stream closes with linger 0, so the close reaches the module's end as a reset: one
// recv reports it, and the socket reads end of file from then on. A connection left open would
// keep poll waiting instead.
void expectResetThenEndOfFile(int connection) {
    pollfd readable{connection, POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 5000), 1) << "the connection is still open";
    char byte = 0;
    errno = 0;
    const ssize_t reset = recv(connection, &byte, 1, 0);
    const int resetError = errno;
    EXPECT_EQ(reset, -1);
    EXPECT_EQ(resetError, ECONNRESET) << strerror(resetError);
    EXPECT_EQ(recv(connection, &byte, 1, 0), 0);
}

TEST(LinkLifecycleTest, StartSendsRouteOnAndDestroySendsRouteOff) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    EXPECT_EQ(hex(module.receive(3)), hex(routeOn()));
    // A second start of a running link changes nothing.
    EXPECT_EQ(qLink_Start(id), qErrNone);
    EXPECT_EQ(module.receiveUntilSilent(100), "");

    qLinkID copy = id;
    EXPECT_EQ(qLink_Destroy(&id), qErrNone);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(hex(module.receive(3)), hex(routeOff()));
    EXPECT_EQ(qLink_GetStatus(copy), qLINK_STATUS_INVALID);
    EXPECT_EQ(qLink_Destroy(&copy), qErrParam);
    EXPECT_EQ(copy, 0u);
    EXPECT_EQ(qLink_Destroy(nullptr), qErrParam);
}

TEST(LinkLifecycleTest, LookedUpLinkOutlivesItsDestroyOnAnotherThread) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    const std::shared_ptr<qLinkObject> held = qLink_Lookup(id);
    ASSERT_NE(held, nullptr);
    std::thread destroyer([id]() mutable { EXPECT_EQ(qLink_Destroy(&id), qErrNone); });
    destroyer.join();
    EXPECT_EQ(qLink_Lookup(id), nullptr);
    // Stopped and closed at the destroy, yet still there for its holder, which it now refuses.
    EXPECT_EQ(held->readerThread, nullptr);
    EXPECT_EQ(held->writerThread, nullptr);
    EXPECT_EQ(held->stream, nullptr);
    const uint8_t route = 1;
    EXPECT_EQ(qLink_QueueOutbound(held.get(), qADDRESS_ROUTE, 1, &route), qErrParam);
}

TEST(LinkLifecycleTest, PacketsQueuedBeforeStopStillGoOut) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(hex(module.receive(3)), hex(routeOn()));
    module.clearWriteSizes();
    module.holdWrites();
    ASSERT_EQ(qLink_ForceRoute(id, 9), qErrNone);
    ASSERT_TRUE(eventually([&module] { return module.writesBegun() == 1; }));
    ASSERT_EQ(qLink_ForceRoute(id, 7), qErrNone);
    module.releaseWrites();
    EXPECT_EQ(qLink_Destroy(&id), qErrNone);
    EXPECT_EQ(hex(module.receive(9)),
              hex(bytes({0xAF, 0x01, 0x09, 0xAF, 0x01, 0x07}) + routeOff()));
}

TEST(LinkLifecycleTest, CallerMadeStreamsAreNeverShared) {
    ModulePeer first;
    ModulePeer second;
    qLinkID a = qLink_Create(first.stream());
    qLinkID b = qLink_Create(second.stream());
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(qLinkManager_UseCount(a), 1);
    EXPECT_EQ(qLinkManager_UseCount(b), 1);
    qLink_Destroy(&a);
    EXPECT_EQ(qLink_GetStatus(b), qLINK_STATUS_RUNNING);
    qLink_Destroy(&b);
    EXPECT_EQ(qLink_Create(nullptr), 0u);
}

TEST(LinkLifecycleTest, TcpLinksToOneModuleShareOneIdAndCountUsers) {
    LoopbackListener listener;
    const size_t linksBefore = qLinkManager_Count();
    qLinkID a = qLink_CreateTCPIP(0x0BADF00D, listener.address(), listener.port());
    ASSERT_NE(a, 0u);
    int connection = listener.accept();
    ASSERT_GE(connection, 0);
    EXPECT_EQ(hex(receiveFrom(connection, 3)), hex(routeOn()));

    qLinkID b = qLink_CreateTCPIP(0x0BADF00D, listener.address(), listener.port());
    EXPECT_EQ(b, a);
    EXPECT_EQ(qLinkManager_UseCount(a), 2);
    EXPECT_EQ(listener.accept(200), -1);
    EXPECT_EQ(qLinkManager_Count(), linksBefore + 1);

    // The first user letting go leaves the link running.
    EXPECT_EQ(qLink_Destroy(&a), qErrNone);
    EXPECT_EQ(qLink_GetStatus(b), qLINK_STATUS_RUNNING);
    EXPECT_EQ(qLinkManager_UseCount(b), 1);
    sendTo(connection, bytes({0x04, 0x01, 0x5A}));
    qPacket* packet = qLink_AwaitPacket(b, 5000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->data[0], 0x5A);
    qPacket_Destroy(&packet);

    qLinkID gone = b;
    EXPECT_EQ(qLink_Destroy(&b), qErrNone);
    EXPECT_EQ(hex(receiveFrom(connection, 3)), hex(routeOff()));
    expectResetThenEndOfFile(connection);
    EXPECT_EQ(qLink_GetStatus(gone), qLINK_STATUS_INVALID);
    EXPECT_EQ(qLinkManager_Count(), linksBefore);
    close(connection);
}

TEST(LinkLifecycleTest, TcpLinkToAnotherModuleIsItsOwn) {
    LoopbackListener listener;
    qLinkID a = qLink_CreateTCPIP(0x11111111, listener.address(), listener.port());
    qLinkID b = qLink_CreateTCPIP(0x22222222, listener.address(), listener.port());
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    // Each link made a connection of its own and said route on over it.
    int first = listener.accept();
    int second = listener.accept();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_EQ(hex(receiveFrom(first, 3)), hex(routeOn()));
    EXPECT_EQ(hex(receiveFrom(second, 3)), hex(routeOn()));
    qLink_Destroy(&a);
    qLink_Destroy(&b);
    close(first);
    close(second);
}

TEST(LinkLifecycleTest, FailedCreationsLeaveNoEntry) {
    const size_t linksBefore = qLinkManager_Count();
    uint32_t port = 0;
    {
        LoopbackListener closed;
        port = closed.port();
    }
    // Nobody listens there any more.
    EXPECT_EQ(qLink_CreateTCPIP(0x1234, LoopbackListener::address(), port), 0u);
    EXPECT_EQ(qLink_CreateSerial(0x1234, "/dev/null", 1200), 0u);
    EXPECT_EQ(qLink_CreateSerial(0x1234, nullptr, 115200), 0u);
    // /dev/null is no serial port: the supported rate fails cleanly too.
    EXPECT_EQ(qLink_CreateSerial(0x1234, "/dev/null", 115200), 0u);
    EXPECT_EQ(qLink_CreateUSB(0), 0u);
    EXPECT_EQ(qLinkManager_Count(), linksBefore);
}

TEST(LinkLifecycleTest, ClientLinkToAMissingSharedLinkIsRefusedAndLeavesNothing) {
    const size_t linksBefore = qLinkManager_Count();
    // A shared link of this machine is checked before the client link is made, so that nothing
    // is sent to a link that is not there (or not this user's).
    qLinkID client = qLink_CreateClient(LoopbackListener::address(), 9999, 0);
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(std::string(qShare_Failure()).rfind("no such shared link: ", 0), 0u)
        << qShare_Failure();
    EXPECT_EQ(qLinkManager_Count(), linksBefore);
}

TEST(LinkLifecycleTest, ClientWithReferenceSharesThatLink) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(qLink_CreateClient(0, 0, id), id);
    EXPECT_EQ(qLinkManager_UseCount(id), 2);
    EXPECT_EQ(qLink_CreateClient(0, 0, 424242), 0u);
    qLinkID copy = id;
    qLink_Destroy(&copy);
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    qLink_Destroy(&id);
}

TEST(LinkLifecycleTest, ServerCannotBeCreatedInThisBuild) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    const size_t links = qLinkManager_Count();
    uint16_t port = 0;
    uint32_t interface = 0;
    EXPECT_EQ(qLink_CreateServer(id, &port, &interface, true), 0u);
    EXPECT_EQ(qLink_CreateServer(424242, &port, &interface, true), 0u);
    EXPECT_EQ(qLinkManager_Count(), links);
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    qLink_Destroy(&id);
}

void* readerThatNeverStarts(void*) {
    return nullptr;
}

TEST(LinkLifecycleTest, StartWhoseReaderNeverStartsIsIndexRange) {
    ModulePeer module;
    qLinkEntryRef entry = qLinkManager_AddEntry(linkSpec{});
    ASSERT_NE(entry, nullptr);
    qLinkID id = entry->id;
    ASSERT_EQ(qLink_Init(id, module.stream()), id);
    ASSERT_TRUE(qLinkManager_AddUser(id));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_STOPPED);
    entry->link->readerProc = readerThatNeverStarts;
    EXPECT_EQ(qLink_Start(id), qErrIndexRange);
    // No route-on for a link that did not come up; stopping it still says route off.
    EXPECT_EQ(qLink_Destroy(&id), qErrNone);
    EXPECT_EQ(hex(module.receive(3)), hex(routeOff()));
}

TEST(LinkLifecycleTest, LinkWithoutStreamIsInvalidAndDoesNotStart) {
    qLinkEntryRef entry = qLinkManager_AddEntry(linkSpec{});
    ASSERT_NE(entry, nullptr);
    qLinkID id = entry->id;
    ASSERT_EQ(qLink_Init(id, nullptr), id);
    ASSERT_TRUE(qLinkManager_AddUser(id));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_INVALID);
    // Deliberate: a link without a stream is refused at start instead of running on nothing.
    EXPECT_EQ(qLink_Start(id), qErrParam);
    EXPECT_EQ(qLink_Destroy(&id), qErrNone);
    EXPECT_EQ(qLink_Init(424242, nullptr), 0u);
}

TEST(LinkLifecycleTest, ResetMakesTheTcpConnectionAgain) {
    LoopbackListener listener;
    qLinkID id = qLink_CreateTCPIP(0x00C0FFEE, listener.address(), listener.port());
    ASSERT_NE(id, 0u);
    int first = listener.accept();
    ASSERT_GE(first, 0);
    ASSERT_EQ(hex(receiveFrom(first, 3)), hex(routeOn()));

    EXPECT_EQ(qLink_Reset(id), qErrNone);
    int second = listener.accept();
    ASSERT_GE(second, 0);
    EXPECT_EQ(hex(receiveFrom(second, 3)), hex(routeOn()));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    // The old connection was told route off, then closed.
    EXPECT_EQ(hex(receiveFrom(first, 3)), hex(routeOff()));
    expectResetThenEndOfFile(first);
    sendTo(second, bytes({0x04, 0x01, 0x66}));
    qPacket* packet = qLink_AwaitPacket(id, 5000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->data[0], 0x66);
    qPacket_Destroy(&packet);
    qLink_Destroy(&id);
    close(first);
    close(second);
}

TEST(LinkLifecycleTest, ResetOfCallerMadeStreamKeepsTheLink) {
    // Deliberate: a reset that cannot remake the stream is refused before anything is torn down.
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(hex(module.receive(3)), hex(routeOn()));
    EXPECT_EQ(qLink_Reset(id), qErrParam);
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    module.send(bytes({0x04, 0x01, 0x01}));
    qPacket* packet = qLink_AwaitPacket(id, 5000);
    EXPECT_NE(packet, nullptr);
    qPacket_Destroy(&packet);
    qLink_Destroy(&id);
}

}  // namespace
