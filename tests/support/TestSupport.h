// Helpers shared by the tests: scratch directories, files, and running the real programs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zvtest {

// A fresh directory under the system's temporary directory, removed with its content.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string readFile(const std::string& path);
// Bytes that look random and do not compress, the same for the same start state: the high bytes
// of a linear congruential generator.
std::string pseudoRandomBytes(size_t count, uint32_t state);
// The same from a small seed spread over the state, so that neighbouring seeds differ at once.
std::string seededBytes(size_t count, uint32_t seed);
// Everything written to an open temporary file so far (it is flushed and rewound first).
std::string readStream(FILE* file);
void writeFile(const std::string& path, const std::string& bytes);
// The lines of a program's output, without their newlines.
std::vector<std::string> splitLines(const std::string& text);
bool contains(const std::string& text, const std::string& part);
bool pathExists(const std::string& path);

struct RunResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

// Runs program with args (no shell), with stdin closed and stdout/stderr captured. Extra
// environment entries ("NAME=value") are added to the test's own environment.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& extraEnv = {});

// Paths of the programs built beside the tests.
std::string updaterBinary();
std::string birdtoolBinary();
std::string modulesimBinary();
std::string linkshareBinary();
std::string updateserverBinary();
std::string scriptPath(const std::string& name);

// Moves this test process into a fresh private network namespace (scripts/netns-setup: loopback
// with multicast, and with veth a veth pair 10.77.0.1/10.77.0.2), so discovery and multicast never
// reach the machine's own interfaces and tests using the fixed discovery ports can run side by
// side. Programs started afterwards inherit it. False (with the reason in *why) when the process
// may not make namespaces.
bool enterPrivateNetwork(bool veth, std::string* why = nullptr);
// The reason the namespace could not be entered, or "" once it was.
std::string privateNetworkMissing(bool veth);

// Gives this test process, and the programs it starts afterwards, a /run/lock of its own: an
// empty tmpfs (mode 01777, as the machine's) in a private mount namespace, so that the module
// locks of the Updater runs of a test, which live in /run/lock/zendrival for the whole machine,
// meet only each other's, never those of a test running beside it or of the machine. The first
// call makes the namespace; every call mounts a fresh, empty directory. False (with the reason in
// *why) when the process may not, or the machine has no /run/lock.
bool enterPrivateRunLock(std::string* why = nullptr);
// The reason it could not be made, or "" once it was.
std::string privateRunLockMissing();

// True where every test has to run: as root, or with CI set. There the private network, the
// emulated USB bus and the tools install-deps provides can always be made, so a set-up that fails
// is a fault of the test bench, and skipping would hide part of the suite.
bool everyTestMustRun();

}  // namespace zvtest

// In a test body or SetUp: when what the test needs is missing (the expression gives why, "" when
// it is there), the test is skipped, saying why; where every test has to run it fails instead.
#define ZV_NEEDS(whyMissing)                                                       \
    do {                                                                           \
        const std::string zvWhyMissing = (whyMissing);                             \
        if (!zvWhyMissing.empty()) {                                               \
            if (zvtest::everyTestMustRun()) {                                      \
                FAIL() << "the test's set-up could not be made: " << zvWhyMissing; \
            }                                                                      \
            GTEST_SKIP() << zvWhyMissing;                                          \
        }                                                                          \
    } while (0)

// In a test body: enter a private network namespace, or skip (or fail) as ZV_NEEDS does.
#define ZV_PRIVATE_NETWORK_OR_SKIP(veth) ZV_NEEDS(zvtest::privateNetworkMissing(veth))
// In a test body: a private /run/lock (enterPrivateRunLock), or skip (or fail) likewise.
#define ZV_PRIVATE_RUN_LOCK_OR_SKIP() ZV_NEEDS(zvtest::privateRunLockMissing())
