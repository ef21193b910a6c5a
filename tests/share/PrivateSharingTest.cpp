// A link shared for this machine is its user's alone: another user's client is refused before it
// sends anything and the module hears nothing from it, and a shared link directory that others
// could enter, or that is not the user's, is refused with its line.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "Eventually.h"
#include "SharedModule.h"
#include "qLocalShare.h"
#include "qUEI.h"

using sharetest::SharedModule;
using sharetest::sharePeerBinary;
using sharetest::TracedPacket;

namespace {

constexpr uid_t kOtherUser = 65534;

zvtest::RunResult asOtherUser(const std::vector<std::string>& peerArgs) {
    std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                     sharePeerBinary()};
    args.insert(args.end(), peerArgs.begin(), peerArgs.end());
    return zvtest::runProgram("/usr/bin/setpriv", args);
}

bool hasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// Address requests the module has received: what "share_peer reach" sends once connected.
long addressRequests(const std::vector<TracedPacket>& trace) {
    return std::count_if(trace.begin(), trace.end(), [](const TracedPacket& packet) {
        return packet.direction == '<' && packet.bytes[0] == qADDRESS_MAGIC && packet.bytes[1] == 0;
    });
}

// Leaves a socket file that nobody listens on, as a server that died does.
bool bindAndClose(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

}  // namespace

TEST_F(SharedModule, AnotherUsersClientIsRefusedAndTheModuleHearsNothing) {
    std::string directory;
    std::string failure;
    ASSERT_TRUE(qLocalShare_Directory(&directory, &failure)) << failure;
    const std::string socket = qLocalShare_SocketPath(directory, sharedPort_);
    const long before = addressRequests(trace());

    zvtest::RunResult other = asOtherUser({"reach", socket});
    EXPECT_EQ(other.exitCode, 1) << other.out << other.err;
    EXPECT_TRUE(hasLine(other.out, "reach failed " + std::to_string(qErrPermission))) << other.out;
    EXPECT_TRUE(hasLine(other.out, "why permission denied: " + socket)) << other.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(addressRequests(trace()), before);

    // The same request from the user itself reaches the module: the count above could change.
    zvtest::RunResult own = zvtest::runProgram(sharePeerBinary(), {"reach", socket});
    EXPECT_EQ(own.exitCode, 0) << own.out << own.err;
    EXPECT_TRUE(hasLine(own.out, "reached and answered")) << own.out;
    EXPECT_TRUE(zvtest::eventually([&] { return addressRequests(trace()) > before; }));
}

TEST_F(SharedModule, ClientsTellMissingAndRefusingLinksApart) {
    std::string directory;
    std::string failure;
    ASSERT_TRUE(qLocalShare_Directory(&directory, &failure)) << failure;
    const uint32_t unused = qLOCAL_SHARE_MAX_ENDPOINTS;
    zvtest::RunResult missing =
        zvtest::runProgram(sharePeerBinary(), {"connect", std::to_string(unused)});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(hasLine(missing.out, "connect failed " + std::to_string(qErrNotFound)))
        << missing.out;
    EXPECT_TRUE(hasLine(missing.out,
                        "why no such shared link: " + qLocalShare_SocketPath(directory, unused)))
        << missing.out;

    // A socket left by a server that died: there, but nobody answers.
    const std::string stale = qLocalShare_SocketPath(directory, unused);
    ASSERT_TRUE(bindAndClose(stale));
    zvtest::RunResult refused =
        zvtest::runProgram(sharePeerBinary(), {"connect", std::to_string(unused)});
    unlink(stale.c_str());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(hasLine(refused.out, "connect failed " + std::to_string(qErrConnection)))
        << refused.out;
    EXPECT_NE(refused.out.find("why refused: " + stale), std::string::npos) << refused.out;
}

TEST_F(SharedModule, ADiscoveryAnswerFromAnotherUserIsNeitherReportedNorConnectedTo) {
    constexpr const char* kForgedSerial = "0BADF00D";
    const std::string answers = scratch_.file("forger.err");
    zvtest::BackgroundProgram forger(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", sharePeerBinary(), "forge",
         kForgedSerial, std::to_string(sharedPort_ + 1)},
        answers);
    ASSERT_TRUE(forger.waitReady());

    zvtest::RunResult found = zvtest::runProgram(sharePeerBinary(), {"find"});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_TRUE(hasLine(found.out, "count 1")) << found.out;
    EXPECT_EQ(found.out.find(kForgedSerial), std::string::npos) << found.out;
    zvtest::RunResult query = zvtest::runProgram(sharePeerBinary(), {"query", kForgedSerial});
    EXPECT_EQ(query.exitCode, 1);
    EXPECT_TRUE(hasLine(query.out, "connect failed " + std::to_string(qErrNotFound))) << query.out;
    forger.stop();
    // The forger was asked, and answered: it was the search that did not believe it.
    EXPECT_NE(zvtest::readFile(answers).find("answered a probe"), std::string::npos);
}

// The other user has no login session here, so its directory is /tmp/zendrival-65534; each case
// makes it one way, asks for a link through it, and leaves nothing behind.
TEST(LocalShareDirectory, OnlyAPrivateDirectoryOfTheUserIsTaken) {
    const std::string directory = "/tmp/zendrival-65534";
    ASSERT_NE(access("/run/user/65534", F_OK), 0) << "the other user has a runtime directory";
    const std::string refusal = "why Refusing the shared link directory " + directory + ": ";
    auto privateDir = [](const std::string& path) {
        return mkdir(path.c_str(), 0700) == 0 && chown(path.c_str(), kOtherUser, kOtherUser) == 0;
    };
    struct Case {
        const char* name;
        std::function<bool()> make;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"open to others",
         [&] { return privateDir(directory) && chmod(directory.c_str(), 0755) == 0; },
         refusal + "its mode 0755 lets others in"},
        {"a symbolic link",
         [&] {
             return privateDir(directory + ".real") &&
                    symlink((directory + ".real").c_str(), directory.c_str()) == 0;
         },
         refusal + "it is a symbolic link"},
        {"another user's", [&] { return mkdir(directory.c_str(), 0700) == 0; },
         refusal + "it belongs to uid 0"},
        {"missing: made private", [] { return true; },
         "why no such shared link: " + directory + "/link-7"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(directory);
        std::filesystem::remove_all(directory + ".real");
        ASSERT_TRUE(c.make()) << c.name;
        zvtest::RunResult run = asOtherUser({"connect", "7"});
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_TRUE(hasLine(run.out, c.expected)) << c.name << ": " << run.out << run.err;
    }
    struct stat made {};
    EXPECT_EQ(lstat(directory.c_str(), &made), 0);
    EXPECT_TRUE(S_ISDIR(made.st_mode) && made.st_uid == kOtherUser &&
                (made.st_mode & 0777) == 0700);
    std::filesystem::remove_all(directory);
    std::filesystem::remove_all(directory + ".real");
}

// Endpoint numbers of one user: each is handed out once while its holder lives, a number whose
// holder has ended (let go, or was killed) is handed out again.
TEST(LocalShareEndpoints, NumbersAreHeldOnceAndComeFreeWithTheirHolder) {
    std::string directory;
    std::string failure;
    ASSERT_TRUE(qLocalShare_Directory(&directory, &failure)) << failure;
    uint32_t first = 0, second = 0, third = 0, again = 0;
    int firstFd = -1, secondFd = -1, thirdFd = -1, againFd = -1;
    ASSERT_EQ(qLocalShare_Claim(directory, &first, &firstFd), qErrNone);
    ASSERT_EQ(qLocalShare_Claim(directory, &second, &secondFd), qErrNone);
    EXPECT_NE(first, second);

    // Another process holds the next number, as a running server does.
    const uint32_t held = std::max(first, second) + 1;
    {
        zvtest::BackgroundProgram holder(
            "/usr/bin/flock",
            {"-n", "-o", qLocalShare_LockPath(directory, held), "-c", "echo ready; sleep 60"});
        ASSERT_TRUE(holder.waitReady());
        ASSERT_EQ(qLocalShare_Claim(directory, &third, &thirdFd), qErrNone);
        EXPECT_NE(third, held);
        holder.stop();
    }
    qLocalShare_Release(directory, first, &firstFd);
    EXPECT_EQ(firstFd, -1);
    ASSERT_EQ(qLocalShare_Claim(directory, &again, &againFd), qErrNone);
    EXPECT_EQ(again, first);
    uint32_t afterKill = 0;
    int afterKillFd = -1;
    ASSERT_EQ(qLocalShare_Claim(directory, &afterKill, &afterKillFd), qErrNone);
    EXPECT_EQ(afterKill, held);
    for (auto [number, fd] : {std::pair{second, &secondFd}, std::pair{third, &thirdFd},
                              std::pair{again, &againFd}, std::pair{afterKill, &afterKillFd}}) {
        qLocalShare_Release(directory, number, fd);
    }
}
