#include "ServerFixture.h"

#include <arpa/inet.h>

#include "ProgramNetwork.h"
#include "qCzmqSetup.h"
#include "qLocalShare.h"
#include "qShareFailure.h"
#include "qShareKeys.h"

namespace {

constexpr uint32_t kModuleSerial = 0x1234;
constexpr int kSendLimitMs = 5000;

zvtest::ProgramNetwork* const network = zvtest::addProgramNetwork(true);

}  // namespace

const std::string& privateNetworkProblem() {
    return network->problem();
}

RawClient::RawClient(uint16_t port, const char* host) {
    qCzmq_Prepare();
    socket_ = zsock_new(ZMQ_DEALER);
    zsock_set_linger(socket_, 0);
    zsock_set_sndtimeo(socket_, kSendLimitMs);
    // A server for this machine only serves its endpoint number in the user's directory.
    std::string directory;
    std::string failure;
    if (std::string(host) == "127.0.0.1" && qLocalShare_Directory(&directory, &failure)) {
        zsock_connect(socket_, "ipc://%s", qLocalShare_SocketPath(directory, port).c_str());
    } else {
        zsock_connect(socket_, "tcp://%s:%d", host, port);
    }
}

RawClient::RawClient(uint16_t port, const char* host, const uint8_t* serverKey, zcert_t* identity) {
    qCzmq_Prepare();
    socket_ = zsock_new(ZMQ_DEALER);
    zsock_set_linger(socket_, 0);
    zsock_set_sndtimeo(socket_, kSendLimitMs);
    zcert_apply(identity, socket_);
    zsock_set_curve_serverkey_bin(socket_, serverKey);
    zsock_connect(socket_, "tcp://%s:%d", host, port);
}

NetworkKeys::NetworkKeys() {
    qShare_SetKeyDirectory(directory_.path().c_str());
    EXPECT_EQ(qShare_MakeKeys(), qErrNone) << qShare_Failure();
    client_ = zcert_load(directory_.file("client.key").c_str());
    EXPECT_NE(client_, nullptr);
    zvtest::writeFile(directory_.file("clients/self.key"),
                      zvtest::readFile(directory_.file("client.key")));
    zvtest::writeFile(directory_.file("servers/self.key"),
                      zvtest::readFile(directory_.file("server.key")));
}

NetworkKeys::~NetworkKeys() {
    zcert_destroy(&client_);
    qShare_SetKeyDirectory(nullptr);
}

CurveListener::CurveListener(zcert_t* pair) {
    qCzmq_Prepare();
    socket = zsock_new(ZMQ_ROUTER);
    zsock_set_linger(socket, 0);
    zcert_apply(pair, socket);
    zsock_set_curve_server(socket, 1);
    port = zsock_bind(socket, "tcp://%s:*", kVethAddress);
}

CurveListener::~CurveListener() {
    zsock_destroy(&socket);
}

RawClient::~RawClient() {
    zsock_destroy(&socket_);
}

void RawClient::send(const std::string& frame) {
    ASSERT_GE(zmq_send(zsock_resolve(socket_), frame.data(), frame.size(), 0), 0);
}

std::string RawClient::receive(int limitMs) {
    zsock_set_rcvtimeo(socket_, limitMs);
    zframe_t* frame = zframe_recv(socket_);
    if (frame == nullptr) {
        return "";
    }
    std::string bytes(reinterpret_cast<const char*>(zframe_data(frame)), zframe_size(frame));
    zframe_destroy(&frame);
    return bytes;
}

void ServerFixture::SetUp() {
    module_ = std::make_unique<zvtest::ModulePeer>(zvtest::ModulePeer::kOwnTcpPort);
    respond(servedmodule::standardReply);
    link_ = qLink_CreateTCPIP(kModuleSerial, htonl(INADDR_LOOPBACK), module_->port());
    ASSERT_NE(link_, 0u);
}

void ServerFixture::TearDown() {
    if (client_ != 0) {
        qLink_Destroy(&client_);
    } else if (link_ != 0) {
        qLink_Destroy(&link_);
    }
    module_.reset();
}

qLinkID ServerFixture::publish() {
    interface_ = 0;
    client_ = qLink_CreateServer(link_, &port_, &interface_, true);
    return client_;
}

void ServerFixture::respond(std::function<std::vector<std::string>(const std::string&)> script) {
    module_->setResponder([script](const zvtest::WirePacket& packet) {
        return zvtest::fromWireTexts(script(packet.wireText()));
    });
}

std::vector<std::string> ServerFixture::moduleReceived() {
    return zvtest::wireTexts(module_->received());
}

std::vector<std::string> ServerFixture::moduleRequests() {
    return zvtest::wireTexts(module_->requests());
}

void ServerFixture::openPool(RawClient& writer, const std::string& first) {
    writer.send(first);
    std::string barrier = bytes({4, 3, 23, 0x5A, 0x5A});
    writer.send(barrier);
    ASSERT_EQ(hex(writer.receive()), hex(barrier));
}
