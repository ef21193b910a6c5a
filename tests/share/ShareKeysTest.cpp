// The key directory of network sharing: linkshare --make-keys makes what is missing and never
// replaces a pair; a secret file that is not the user's own private file is refused with a line
// naming it; the default directory comes from the password database, not from HOME; and a client
// that has no server key for a network address is refused before it connects.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "ShareKeys.h"
#include "TestSupport.h"
#include "qShareFailure.h"
#include "qShareKeys.h"
#include "qStream_ZeroMQClient.h"

namespace {

class ShareKeys : public ::testing::Test {
  protected:
    void TearDown() override { qShare_SetKeyDirectory(nullptr); }

    std::string keys() const { return scratch_.file("keys"); }

    zvtest::TempDir scratch_;
};

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

}  // namespace

TEST_F(ShareKeys, MakeKeysMakesWhatIsMissingAndNeverReplacesAPair) {
    const sharetest::KeyDirectory first = sharetest::makeKeys(keys());
    EXPECT_NE(first.serverKey, first.clientKey);
    for (const char* secret : {"/server.key_secret", "/client.key_secret"}) {
        EXPECT_EQ(modeOf(keys() + secret), 0600u) << secret;
    }
    EXPECT_TRUE(zvtest::pathExists(keys() + "/clients"));
    EXPECT_TRUE(zvtest::pathExists(keys() + "/servers"));
    const std::string serverSecret = zvtest::readFile(keys() + "/server.key_secret");

    const sharetest::KeyDirectory again = sharetest::makeKeys(keys());
    EXPECT_EQ(again.serverKey, first.serverKey);
    EXPECT_EQ(again.clientKey, first.clientKey);
    EXPECT_EQ(zvtest::readFile(keys() + "/server.key_secret"), serverSecret);

    // Only the pair that went is made again.
    ASSERT_EQ(unlink((keys() + "/client.key").c_str()), 0);
    ASSERT_EQ(unlink((keys() + "/client.key_secret").c_str()), 0);
    const sharetest::KeyDirectory renewed = sharetest::makeKeys(keys());
    EXPECT_EQ(renewed.serverKey, first.serverKey);
    EXPECT_NE(renewed.clientKey, first.clientKey);
    EXPECT_EQ(zvtest::readFile(keys() + "/server.key_secret"), serverSecret);
}

TEST_F(ShareKeys, ASecretFileNotPrivateToItsOwnerIsRefusedWithItsName) {
    struct Case {
        mode_t mode;
        uid_t owner;
        const char* why;
    };
    const Case cases[] = {
        {0644, getuid(), "its mode 0644 lets others at it (it must be 0600)"},
        {0640, getuid(), "its mode 0640 lets others at it (it must be 0600)"},
        {0602, getuid(), "its mode 0602 lets others at it (it must be 0600)"},
        {0600, 65534, "it belongs to uid 65534"},
    };
    sharetest::makeKeys(keys());
    qShare_SetKeyDirectory(keys().c_str());
    const std::string secret = keys() + "/client.key_secret";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_EQ(chmod(secret.c_str(), c.mode), 0);
        ASSERT_EQ(chown(secret.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        char key[qSHARE_KEY_TEXT_LENGTH + 1] = {};
        char path[512] = {};
        EXPECT_EQ(qShare_GetPublicKey(qShareKeyClient, key, sizeof key, path, sizeof path),
                  qErrPermission);
        EXPECT_EQ(std::string(qShare_Failure()),
                  "Refusing the secret key file " + secret + ": " + c.why);
        EXPECT_STREQ(key, "");
    }
    // linkshare says the same and fails.
    zvtest::RunResult run =
        zvtest::runProgram(zvtest::linkshareBinary(), {"--make-keys", "--keys", keys()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "linkshare: Refusing the secret key file " + secret + ": it belongs to uid 65534\n");
}

TEST_F(ShareKeys, TheDefaultDirectoryIsInTheHomeThePasswordDatabaseGives) {
    const char* home = getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    setenv("HOME", scratch_.path().c_str(), 1);
    qShare_SetKeyDirectory(nullptr);
    char directory[512] = {};
    const qErr got = qShare_GetKeyDirectory(directory, sizeof directory);
    setenv("HOME", savedHome.c_str(), 1);
    ASSERT_EQ(got, qErrNone);
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(std::string(directory), std::string(user->pw_dir) + "/.pelmorax/updater/linkshare");

    qShare_SetKeyDirectory(keys().c_str());
    ASSERT_EQ(qShare_GetKeyDirectory(directory, sizeof directory), qErrNone);
    EXPECT_EQ(std::string(directory), keys());
    EXPECT_EQ(qShare_GetKeyDirectory(directory, 4), qErrSize);
}

// Refused before anything is connected, so no network is needed.
TEST_F(ShareKeys, ANetworkClientWithoutTheServersKeyIsRefusedBeforeConnecting) {
    sharetest::makeKeys(keys());
    qShare_SetKeyDirectory(keys().c_str());
    uint32_t address = 0;
    ASSERT_EQ(inet_pton(AF_INET, "10.77.9.1", &address), 1);
    qStream* stream = nullptr;
    EXPECT_EQ(qStream_CreateClient(address, 40000, &stream), qErrConfiguration);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(std::string(qShare_Failure()),
              "No key is known for the link server at 10.77.9.1:40000; it is reached only with "
              "the key its discovery answer carries");
}
