// A client stream to a server on the network waits for the CURVE handshake's outcome: a server
// holding the announced key is reached, one that does not hold it (an impostor at the announced
// address) fails the handshake, and a port where nobody answers runs out of time, each with its
// own code and line. The servers here are bare CURVE sockets on the private network's veth end.
#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "ServerFixture.h"
#include "qLinkSpec.h"
#include "qShareFailure.h"
#include "qStream.h"
#include "qStream_ZeroMQClient.h"

namespace {

linkSpec specFor(int port, const uint8_t* key) {
    linkSpec spec = qLinkSpec_Of(linkTypeNetworkClientTCPIP, 0x1234);
    inet_pton(AF_INET, kVethAddress, &spec.ipAddress);
    spec.port = static_cast<uint32_t>(port);
    memcpy(spec.reserved, key, 32);
    return spec;
}

}  // namespace

TEST(ClientHandshake, TheOutcomeOfTheHandshakeIsTheClientsResult) {
    ZV_SERVER_NETWORK_OR_SKIP();
    NetworkKeys keys;
    zcert_t* trusted = zcert_load((keys.directory() + "/server.key").c_str());
    ASSERT_NE(trusted, nullptr);
    zcert_t* impostor = zcert_new();
    const std::string address = std::string(kVethAddress) + ":";
    struct Case {
        const char* what;
        zcert_t* listenerPair;  // null: nobody listens
        qErr result;
        std::string failure;  // after the address
    };
    const Case cases[] = {
        {"server holding the key", trusted, qErrNone, ""},
        {"impostor", impostor, qErrConnection,
         " failed the handshake: it does not hold the key " +
             std::string(zcert_public_txt(trusted))},
        {"nobody listening", nullptr, qErrTimeout, " within 2000 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Nothing on the private network ever listens on the discard port; a port a listener
        // has just let go of may still answer for a moment, since ZeroMQ closes it in the
        // background.
        constexpr int kDiscardPort = 9;
        std::unique_ptr<CurveListener> listener;
        if (c.listenerPair != nullptr) {
            listener = std::make_unique<CurveListener>(c.listenerPair);
        }
        const int port = listener ? listener->port : kDiscardPort;
        ASSERT_GT(port, 0);
        const linkSpec spec = specFor(port, zcert_public_key(trusted));
        qStream* stream = nullptr;
        EXPECT_EQ(qStream_CreateClientForSpec(&spec, &stream), c.result) << qShare_Failure();
        const std::string failure = qShare_Failure();
        if (c.result == qErrNone) {
            EXPECT_EQ(failure, "");
            ASSERT_NE(stream, nullptr);
            qStream_Destroy(&stream);
        } else {
            EXPECT_EQ(stream, nullptr);
            const std::string at = address + std::to_string(port);
            EXPECT_NE(failure.find(at + c.failure), std::string::npos) << failure;
        }
    }
    zcert_destroy(&impostor);
    zcert_destroy(&trusted);
}
