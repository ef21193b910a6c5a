// The client byte stream against a ROUTER socket that stands in for a link server.
#include <arpa/inet.h>
#include <czmq.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ServerFixture.h"
#include "qCzmqSetup.h"
#include "qLocalShare.h"
#include "qStream_ZeroMQClient.h"

namespace {

class FakeServer {
  public:
    FakeServer() {
        qCzmq_Prepare();
        router_ = zsock_new(ZMQ_ROUTER);
        zsock_set_linger(router_, 0);
        zsock_set_rcvtimeo(router_, 5000);
        // It serves an endpoint of this user's directory, as a link server for this machine.
        std::string failure;
        uint32_t number = 0;
        if (qLocalShare_Directory(&directory_, &failure) &&
            qLocalShare_Claim(directory_, &number, &lockFd_) == qErrNone &&
            zsock_bind(router_, "ipc://%s", qLocalShare_SocketPath(directory_, number).c_str()) ==
                0) {
            port_ = static_cast<int>(number);
        }
    }
    ~FakeServer() {
        zsock_destroy(&router_);
        qLocalShare_Release(directory_, static_cast<uint32_t>(port_), &lockFd_);
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    uint16_t port() const { return static_cast<uint16_t>(port_); }
    // The next message's client identity and its data frame.
    bool receive(std::string* identity, std::string* data) {
        zmsg_t* message = zmsg_recv(router_);
        if (message == nullptr || zmsg_size(message) != 2) {
            zmsg_destroy(&message);
            return false;
        }
        *identity = toString(zmsg_first(message));
        *data = toString(zmsg_next(message));
        zmsg_destroy(&message);
        return true;
    }
    void send(const std::string& identity, const std::string& data) {
        zmq_send(zsock_resolve(router_), identity.data(), identity.size(), ZMQ_SNDMORE);
        zmq_send(zsock_resolve(router_), data.data(), data.size(), 0);
    }

  private:
    static std::string toString(zframe_t* frame) {
        return std::string(reinterpret_cast<const char*>(zframe_data(frame)), zframe_size(frame));
    }
    zsock_t* router_ = nullptr;
    std::string directory_;
    int lockFd_ = -1;
    int port_ = -1;
};

std::string readBytes(qStream* stream, size_t count) {
    std::string bytes;
    for (int attempt = 0; attempt < 20 && bytes.size() < count; attempt++) {
        uint8_t byte = 0;
        while (bytes.size() < count && stream->get(&byte, stream->reference) == qErrNone) {
            bytes.push_back(static_cast<char>(byte));
        }
    }
    return bytes;
}

// Each test runs in its own network namespace, with a fresh fake server once it connects.
class ClientStream : public ::testing::Test {
  protected:
    void SetUp() override { ZV_SERVER_NETWORK_OR_SKIP(); }
    void TearDown() override {
        if (stream != nullptr) {
            qStream_Destroy(&stream);
        }
    }
    void connect() {
        server = std::make_unique<FakeServer>();
        ASSERT_GT(server->port(), 0);
        ASSERT_EQ(qStream_CreateClient(htonl(INADDR_LOOPBACK), server->port(), &stream), qErrNone);
    }

    std::unique_ptr<FakeServer> server;
    qStream* stream = nullptr;
};

}  // namespace

TEST_F(ClientStream, NullOutputIsRefused) {
    EXPECT_EQ(qStream_CreateClient(htonl(INADDR_LOOPBACK), 1, nullptr), qErrParam);
}

TEST_F(ClientStream, EachWriteIsOneMessageAndRepliesAreReadByteByByte) {
    ASSERT_NO_FATAL_FAILURE(connect());
    const uint8_t first[] = {4, 3, 23, 1, 2};
    const uint8_t second[] = {4, 1, 9};
    EXPECT_EQ(qStream_Write(stream, first, sizeof first), qErrNone);
    EXPECT_EQ(qStream_Write(stream, second, sizeof second), qErrNone);
    std::string identity;
    std::string data;
    ASSERT_TRUE(server->receive(&identity, &data));
    EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(first), sizeof first));
    ASSERT_TRUE(server->receive(&identity, &data));
    EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(second), sizeof second));

    server->send(identity, "abc");
    server->send(identity, "de");
    EXPECT_EQ(readBytes(stream, 5), "abcde");
    EXPECT_EQ(stream->put(1, stream->reference), qErrUnimplemented);
    EXPECT_EQ(qStream_Destroy(&stream), qErrNone);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(ClientStream, SilentServerReadsAsNotReady) {
    ASSERT_NO_FATAL_FAILURE(connect());
    uint8_t byte = 0;
    EXPECT_EQ(stream->get(&byte, stream->reference), qErrNotReady);
}

TEST_F(ClientStream, DeleteOfAForeignReferenceIsAnIoError) {
    ASSERT_NO_FATAL_FAILURE(connect());
    int notAClient = 0;
    EXPECT_EQ(stream->del(&notAClient), qErrIO);
}
