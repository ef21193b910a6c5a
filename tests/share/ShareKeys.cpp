#include "ShareKeys.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "TestSupport.h"

namespace sharetest {

namespace {

// "server KEY PATH" -> KEY, when the line names that role and the certificate of path.
std::string keyOf(const zvtest::RunResult& run, const std::string& role, const std::string& dir) {
    for (const std::string& line : zvtest::splitLines(run.out)) {
        std::istringstream words(line);
        std::string name, key, certificate;
        if (words >> name >> key >> certificate && name == role &&
            certificate == dir + "/" + role + ".key") {
            return key;
        }
    }
    return "";
}

void copyCertificate(const std::string& from, const std::string& to) {
    ASSERT_TRUE(zvtest::pathExists(from)) << from;
    zvtest::writeFile(to, zvtest::readFile(from));
}

}  // namespace

KeyDirectory makeKeys(const std::string& path) {
    zvtest::RunResult run =
        zvtest::runProgram(zvtest::linkshareBinary(), {"--make-keys", "--keys", path});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    KeyDirectory made{path, keyOf(run, "server", path), keyOf(run, "client", path)};
    EXPECT_EQ(made.serverKey.size(), 40u) << run.out;
    EXPECT_EQ(made.clientKey.size(), 40u) << run.out;
    return made;
}

void allowClient(const KeyDirectory& server, const KeyDirectory& client, const std::string& name) {
    copyCertificate(client.path + "/client.key", server.path + "/clients/" + name + ".key");
}

void trustServer(const KeyDirectory& client, const KeyDirectory& server, const std::string& name) {
    copyCertificate(server.path + "/server.key", client.path + "/servers/" + name + ".key");
}

KeyDirectory trustingOnly(const std::string& path, const KeyDirectory& server) {
    KeyDirectory bare{path, "", ""};
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    EXPECT_EQ(mkdir((path + "/servers").c_str(), 0700), 0) << path;
    trustServer(bare, server, "host-a");
    return bare;
}

}  // namespace sharetest
