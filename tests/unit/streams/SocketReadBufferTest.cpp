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
#include "PseudoTerminal.h"
#include "StreamPolling.h"
#include "qStreamsocket.h"
#include "unix_streamserial.h"

namespace {

// A connected socket stream and the test's end of its connection.
class ConnectedSocket {
  public:
    ConnectedSocket() {
        LoopbackListener listener;
        created_ = qStream_CreateSocket(LoopbackListener::address(), listener.port(), &stream_);
        peer_ = listener.accept();
    }
    ~ConnectedSocket() {
        if (stream_ != nullptr) {
            qStream_Destroy(&stream_);
        }
        if (peer_ >= 0) {
            close(peer_);
        }
    }

    bool ready() const { return created_ == qErrNone && peer_ >= 0; }
    qStream* stream() { return stream_; }
    void send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(peer_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<size_t>(n);
        }
    }
    void closePeer() {
        close(peer_);
        peer_ = -1;
    }

  private:
    qStream* stream_ = nullptr;
    qErr created_ = qErrUnknown;
    int peer_ = -1;
};

std::string pattern(size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    }
    return bytes;
}

TEST(SocketReadBufferTest, LargeBurstComesOutByteByByteInOrder) {
    ConnectedSocket connection;
    ASSERT_TRUE(connection.ready());
    // More than one receive buffer's worth, so refills happen mid-stream.
    const std::string burst = pattern(10000);
    std::thread sender([&] { connection.send(burst); });
    std::string received;
    for (size_t i = 0; i < burst.size(); ++i) {
        uint8_t byte = 0;
        if (readWithin(connection.stream(), &byte, 1) != qErrNone) {
            break;
        }
        received.push_back(static_cast<char>(byte));
    }
    sender.join();
    EXPECT_EQ(received.size(), burst.size());
    EXPECT_TRUE(received == burst);
    uint8_t byte = 0;
    EXPECT_EQ(qStream_Read(connection.stream(), &byte, 1), qErrNotReady);
}

TEST(SocketReadBufferTest, MultiByteReadSpanningTwoArrivals) {
    ConnectedSocket connection;
    ASSERT_TRUE(connection.ready());
    connection.send("ab");
    uint8_t buffer[3] = {0, 0, 0};
    // Two bytes are buffered; the read is all or nothing until the third arrives.
    EXPECT_EQ(readWithin(connection.stream(), buffer, 1), qErrNone);
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(qStream_Read(connection.stream(), buffer, 2), qErrNotReady);
    connection.send("cd");
    ASSERT_EQ(readWithin(connection.stream(), buffer, 3), qErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "bcd");
}

// An idle reader must not spin: a get with nothing to read waits a moment before it says so.
TEST(SocketReadBufferTest, IdleAndClosedReadsWaitBeforeReportingNoByte) {
    // Deliberate: an idle socket read waits up to 20 ms first, so an idle link never spins.
    ConnectedSocket connection;
    ASSERT_TRUE(connection.ready());
    uint8_t byte = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qStream_Read(connection.stream(), &byte, 1), qErrNotReady);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));

    connection.closePeer();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(qStream_Read(connection.stream(), &byte, 1), qErrNotReady);
    EXPECT_EQ(qStream_Read(connection.stream(), &byte, 1), qErrNotReady);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(SerialIdleReadTest, IdleReadWaitsBeforeReportingNoByte) {
    // Deliberate: an idle serial read waits up to 20 ms first, so an idle link never spins.
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ready());
    qStream* stream = nullptr;
    ASSERT_EQ(qStream_CreateSerial(pty.slavePath().c_str(), 6, 0, 0, 0, &stream), qErrNone);
    uint8_t byte = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    pty.send("x");
    ASSERT_EQ(readWithin(stream, &byte, 1), qErrNone);
    EXPECT_EQ(byte, 'x');
    qStream_Destroy(&stream);
}

}  // namespace
