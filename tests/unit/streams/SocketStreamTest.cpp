#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "LoopbackListener.h"
#include "StreamPolling.h"
#include "qStreamForCaller.h"
#include "qStreamsocket.h"

namespace {

// A listening socket on 127.0.0.1 with an ephemeral port; the test plays the module.
class LoopbackServer {
  public:
    ~LoopbackServer() { closePeer(false); }

    uint32_t port() const { return listener_.port(); }

    bool accept(int timeoutMs = 5000) {
        peer_ = listener_.accept(timeoutMs);
        return peer_ >= 0;
    }

    void send(const std::string& bytes) { ::send(peer_, bytes.data(), bytes.size(), 0); }

    std::string receive(size_t count, int timeoutMs = 5000) {
        return receiveFrom(peer_, count, timeoutMs);
    }

    // reset: abort the connection (as a rebooting module does) instead of closing politely.
    void closePeer(bool reset) {
        if (peer_ < 0) {
            return;
        }
        if (reset) {
            linger abortive{1, 0};
            setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        close(peer_);
        peer_ = -1;
    }

    void stopListening() { listener_.stopListening(); }

  private:
    LoopbackListener listener_;
    int peer_ = -1;
};

uint32_t loopback() {
    return htonl(INADDR_LOOPBACK);
}

class SocketStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Connecting blocks until the test's server accepts, so accept on another thread.
        std::thread acceptor([this] { accepted = server.accept(); });
        created = qStream_CreateSocket(loopback(), server.port(), &stream);
        acceptor.join();
        ASSERT_EQ(created, qErrNone);
        ASSERT_TRUE(accepted);
    }
    void TearDown() override {
        if (stream != nullptr) {
            qStream_Destroy(&stream);
        }
    }

    LoopbackServer server;
    qStream* stream = nullptr;
    qErr created = qErrUnknown;
    bool accepted = false;
};

TEST_F(SocketStreamTest, BytesTravelBothWays) {
    ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>("\x02\x01\x17"), 3), qErrNone);
    ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>("!"), 1), qErrNone);
    EXPECT_EQ(server.receive(4), "\x02\x01\x17!");

    uint8_t byte = 0;
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
    server.send("reply");
    uint8_t buffer[5];
    ASSERT_EQ(readWithin(stream, buffer, 5), qErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "reply");
}

TEST_F(SocketStreamTest, PeerCloseReadsAsNotReady) {
    server.send("z");
    uint8_t byte = 0;
    ASSERT_EQ(readWithin(stream, &byte, 1), qErrNone);
    EXPECT_EQ(byte, 'z');
    server.closePeer(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
}

TEST_F(SocketStreamTest, ResetByPeerReconnectsOnRead) {
    server.closePeer(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread acceptor([this] { accepted = server.accept(); });
    uint8_t byte = 0;
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
    acceptor.join();
    ASSERT_TRUE(accepted);
    ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>("ok"), 2), qErrNone);
    EXPECT_EQ(server.receive(2), "ok");
}

// A get for a caller awaiting a reply takes bytes but leaves a reset to the reader thread,
// untouched: the reader's get then still reconnects.
TEST_F(SocketStreamTest, ACallersGetLeavesTheResetToTheReader) {
    server.send("a");
    uint8_t byte = 0;
    {
        qStreamForCallerScope forCaller;
        ASSERT_EQ(readWithin(stream, &byte, 1), qErrNone);
        EXPECT_EQ(byte, 'a');
        server.closePeer(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrBusy);
        EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrBusy);
    }
    std::thread acceptor([this] { accepted = server.accept(); });
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
    acceptor.join();
    EXPECT_TRUE(accepted);
}

TEST_F(SocketStreamTest, WriteAfterModuleVanishedIsConnectionError) {
    server.closePeer(true);
    server.stopListening();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    qErr err = qErrNone;
    for (int attempt = 0; attempt < 20 && err == qErrNone; ++attempt) {
        err = qStream_Write(stream, reinterpret_cast<const uint8_t*>("xy"), 2);
    }
    EXPECT_EQ(err, qErrConnection);
    uint8_t byte = 0;
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrConnection);
}

TEST_F(SocketStreamTest, WriteToPeerThatNeverReadsGivesUp) {
    // Far more than the socket buffers hold: the send keeps meeting a full buffer.
    std::string flood(32 * 1024 * 1024, '\x55');
    EXPECT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>(flood.data()), flood.size()),
              qErrWrite);
}

// The link's reader thread only reads and its writer thread only writes, concurrently.
TEST_F(SocketStreamTest, ReaderAndWriterThreadsShareTheStream) {
    constexpr size_t kCount = 2000;
    std::thread echo([this] {
        for (size_t done = 0; done < kCount;) {
            std::string chunk = server.receive(std::min<size_t>(100, kCount - done));
            if (chunk.empty()) {
                return;
            }
            server.send(chunk);
            done += chunk.size();
        }
    });
    std::string received;
    std::thread reader([&] {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (received.size() < kCount && std::chrono::steady_clock::now() < limit) {
            uint8_t byte = 0;
            if (qStream_Read(stream, &byte, 1) == qErrNone) {
                received.push_back(static_cast<char>(byte));
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    std::string sent;
    for (size_t i = 0; i < kCount; i += 10) {
        std::string piece;
        for (size_t j = 0; j < 10; ++j) {
            piece.push_back(static_cast<char>('a' + (i + j) % 26));
        }
        ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>(piece.data()), 10),
                  qErrNone);
        sent += piece;
    }
    reader.join();
    echo.join();
    EXPECT_EQ(received, sent);
}

TEST(SocketStreamCreateTest, RefusedOrBadArgumentsGiveResource) {
    LoopbackServer closed;
    uint32_t port = closed.port();
    closed.stopListening();
    qStream* stream = nullptr;
    EXPECT_EQ(qStream_CreateSocket(loopback(), port, &stream), qErrResource);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(qStream_CreateSocket(loopback(), port, nullptr), qErrResource);
    EXPECT_EQ(qStream_CreateSocket(loopback(), 70000, &stream), qErrResource);
}

}  // namespace
