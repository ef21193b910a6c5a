#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HTTPResponse.h"
#include "ServerTestSupport.h"
#include "UpdateServerRequest.h"

using servertest::BuildsDirectory;
using servertest::certificate;
using servertest::LogCapture;
using servertest::ScopedEnvironment;
using servertest::SimulatedServer;

namespace {

const char kCertificateRefused[] = "ping ==> [SSL peer certificate or SSH remote key was not OK]\n";

using zvtest::contains;

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override { builds.addBuild("40F5849A", 1234, "1.2.3", "Hub-4"); }

    SimulatedServer& startTls(const std::string& name) {
        server = std::make_unique<SimulatedServer>(
            builds, std::vector<std::string>{"--tls", certificate(name + ".pem"),
                                             certificate(name + ".key")});
        EXPECT_TRUE(server->ready());
        return *server;
    }

    LogCapture log;
    BuildsDirectory builds;
    std::unique_ptr<SimulatedServer> server;
};

}  // namespace

TEST_F(TransportTest, HttpsServerVouchedForByTheTrustedAuthorityIsUsed) {
    ScopedEnvironment trust("CURL_CA_BUNDLE", certificate("ca.pem").c_str());
    startTls("server");
    ASSERT_EQ(server->url().rfind("https://127.0.0.1:", 0), 0u) << server->url();
    EXPECT_TRUE(UpdateServerRequest::ping(server->url().c_str())) << log.text();
    std::string build;
    std::string firmware;
    EXPECT_TRUE(UpdateServerRequest::QueryBuild(0x40F5849A, build, firmware,
                                                server->url("localhost").c_str()));
    EXPECT_EQ(build, "1234");
    EXPECT_EQ(firmware, "Hub-4");
    EXPECT_EQ(server->requests().back(), "/cgi/u?op=qu&sn=40F5849A&");
}

TEST_F(TransportTest, HttpsServerIsRefusedWhenItsAuthorityIsNotTrusted) {
    // Deliberate: HTTPS checks the server's certificate; one no trusted CA signed is refused.
    startTls("server");
    {
        ScopedEnvironment trust("CURL_CA_BUNDLE", nullptr);
        EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));
    }
    {
        // An empty setting means the system's own authorities, as if it were not set.
        ScopedEnvironment trust("CURL_CA_BUNDLE", "");
        EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));
    }
    EXPECT_TRUE(contains(log.text(), kCertificateRefused)) << log.text();
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(TransportTest, SelfSignedCertificateIsRefused) {
    // Deliberate: HTTPS checks the server's certificate; a self-signed one is refused.
    ScopedEnvironment trust("CURL_CA_BUNDLE", certificate("ca.pem").c_str());
    startTls("selfsigned");
    EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));
    EXPECT_TRUE(contains(log.text(), kCertificateRefused)) << log.text();
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(TransportTest, CertificateForAnotherHostIsRefused) {
    // Deliberate: HTTPS checks the name too; a certificate made out to another host is refused.
    ScopedEnvironment trust("CURL_CA_BUNDLE", certificate("ca.pem").c_str());
    startTls("wronghost");
    EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));
    EXPECT_FALSE(UpdateServerRequest::ping(server->url("localhost").c_str()));
    EXPECT_TRUE(contains(log.text(), kCertificateRefused)) << log.text();
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(TransportTest, ClosedPortFailsWithTheConnectionError) {
    int port = servertest::closedLoopbackPort();
    ASSERT_GT(port, 0);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cgi/u";
    EXPECT_FALSE(UpdateServerRequest::ping(url.c_str()));
    EXPECT_TRUE(contains(log.text(), "ping ==> [Couldn't connect to server]\n")) << log.text();
}

TEST_F(TransportTest, StalledServerIsAbandonedByTheLowSpeedLimit) {
    // Deliberate: under 1 byte/s for 15 s ends the request, so a stalled server never hangs a run.
    server = std::make_unique<SimulatedServer>(builds, std::vector<std::string>{"--stall"});
    ASSERT_TRUE(server->ready());
    // The client gives up after 15 s without a byte; the simulator would hold on for 100 s.
    EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));
    EXPECT_TRUE(contains(log.text(), "ping ==> [Timeout was reached]\n")) << log.text();
    EXPECT_EQ(server->requests().size(), 1u);
}

TEST_F(TransportTest, OversizedReplyIsRefusedWhileItArrives) {
    // Deliberate: a reply larger than 32 MiB is refused as it arrives, so memory stays bounded.
    std::string reply = "ok\n" + std::string(HTTPResponse::kMaxBodyBytes, 'A') + "\n";
    zvtest::writeFile(builds.file("reply.txt"), reply);
    server = std::make_unique<SimulatedServer>(
        builds, std::vector<std::string>{"--reply", builds.file("reply.txt")});
    ASSERT_TRUE(server->ready());
    EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));
    std::string text = log.text();
    EXPECT_TRUE(contains(text, "rcv_data returns 0\n"));
    EXPECT_TRUE(contains(text, "ping ==> [Failed writing received data to disk/application]\n"));
}

TEST_F(TransportTest, NullUrlMeansTheDefaultServer) {
    // The default host must not be looked up on the machine's network.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    EXPECT_FALSE(UpdateServerRequest::ping(nullptr));
    EXPECT_TRUE(contains(log.text(), "GET(http://update.pelmorax.invalid/cgi/u?op=hi&rv=2&)\n"))
        << log.text();
}
