// Sharing over the network is for the keys each side has been given: a client without a key
// pair, one whose certificate the server was not given, and one that does not trust the key the
// server announces are each refused with their own reason, and none of their requests reaches
// the module; the allowed client is served. A sharer refuses a secret key others can read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BeaconHosts.h"
#include "Eventually.h"
#include "SharedModule.h"
#include "qError.h"

using sharetest::BeaconHosts;
using sharetest::firstModule;
using sharetest::HostedModule;
using sharetest::KeyDirectory;
using sharetest::kHostAAddress;
using sharetest::kHostBAddress;

namespace {

// The requests a client sends the module when it connects and queries: the address query and
// the serial number read (linkshare itself asks the address once and never the serial number).
size_t clientRequestsIn(const std::string& log) {
    size_t count = 0;
    for (const std::string& line : zvtest::splitLines(zvtest::readFile(log))) {
        if (zvtest::contains(line, "< AD 00") || zvtest::contains(line, "< 04 03 03 49 20")) {
            ++count;
        }
    }
    return count;
}

bool hasLine(const std::string& output, const std::string& wanted) {
    const std::vector<std::string> lines = zvtest::splitLines(output);
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

struct RefusedClient {
    const char* what;
    KeyDirectory keys;
    qErr code;
    std::string failure;
};

}  // namespace

TEST_F(BeaconHosts, OnlyTheAllowedClientReachesTheModuleOverTheNetwork) {
    const HostedModule module = startSharedModule(firstModule(), true);
    ASSERT_FALSE(HasFatalFailure());
    const std::string log = scratch_.file("modules.log");
    const size_t before = clientRequestsIn(log);
    const std::string server = std::string(kHostAAddress) + ":" + std::to_string(module.sharedPort);

    const KeyDirectory bare = sharetest::trustingOnly(scratch_.file("keys-bare"), serverKeys_);
    const KeyDirectory stranger = sharetest::makeKeys(scratch_.file("keys-stranger"));
    sharetest::trustServer(stranger, serverKeys_, "host-a");
    const KeyDirectory misled = sharetest::makeKeys(scratch_.file("keys-misled"));
    sharetest::allowClient(serverKeys_, misled, "misled");
    sharetest::trustServer(misled, sharetest::makeKeys(scratch_.file("keys-impostor")), "host-a");
    const RefusedClient refused[] = {
        {"without a key pair", bare, qErrConfiguration,
         "No client key pair in " + bare.path + " (make one with linkshare --make-keys)"},
        {"not allowed in", stranger, qErrConnection,
         "The link server at " + server + " refused this client's key (" + stranger.path +
             "/client.key)"},
        {"not trusting the server's key", misled, qErrPermission,
         "The link server at " + server + " has the key " + serverKeys_.serverKey +
             ", which is not trusted (not in " + misled.path + "/servers)"},
    };
    for (const RefusedClient& client : refused) {
        SCOPED_TRACE(client.what);
        zvtest::RunResult run =
            query(hosts_.hostB(), module.serial, kHostBAddress, 3, client.keys.path);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(hasLine(run.out, "connect failed " + std::to_string(client.code))) << run.out;
        EXPECT_TRUE(hasLine(run.out, "failure " + client.failure)) << run.out;
    }
    EXPECT_EQ(clientRequestsIn(log), before) << zvtest::readFile(log);

    // The allowed client's requests do show in the log.
    zvtest::RunResult run = query(hosts_.hostB(), module.serial, kHostBAddress, 3);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(hasLine(run.out, "queries 3 ok 3")) << run.out;
    EXPECT_TRUE(zvtest::eventually([&] { return clientRequestsIn(log) >= before + 4; }))
        << zvtest::readFile(log);
}

TEST_F(BeaconHosts, NetworkSharerRefusesASecretKeyOthersCanRead) {
    std::vector<HostedModule> modules{firstModule()};
    ASSERT_NO_FATAL_FAILURE(startModules(&modules));
    const std::string secret = serverKeys_.path + "/server.key_secret";
    ASSERT_EQ(chmod(secret.c_str(), 0644), 0);

    zvtest::RunResult run = zvtest::runProgram(
        sharetest::ipBinary(), hosts_.inHost(hosts_.hostA(), zvtest::linkshareBinary(),
                                             {"--tcp", modules[0].endpoint, "5A4E0017", "--network",
                                              "--duration", "5", "--keys", serverKeys_.path}));
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "linkshare: cannot publish the link through a link server: Refusing the "
              "secret key file " +
                  secret + ": its mode 0644 lets others at it (it must be 0600)\n");
}
