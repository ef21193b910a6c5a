// The USB tests reach simulated modules through the real libusb, which only sees an emulated bus
// when umockdev's preload library is in the process from its start. So a plain run plugs the
// modules in (the module simulator makes the bus), then runs this same program again with the
// preload and the bus directory in its environment, and passes on its exit status. A run that
// already has the bus, or only lists the tests, runs the tests directly.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "TestSupport.h"
#include "UsbTestBench.h"

namespace {

constexpr int kSimulatorStartMs = 30000;

bool listsTests(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
            return true;
        }
    }
    return false;
}

void prependEnvironment(const char* name, const std::string& value, char separator) {
    const char* old = std::getenv(name);
    std::string joined = old != nullptr && *old != '\0' ? value + separator + old : value;
    setenv(name, joined.c_str(), 1);
}

void appendEnvironment(const char* name, const std::string& value, char separator) {
    const char* old = std::getenv(name);
    std::string joined =
        old != nullptr && *old != '\0' ? std::string(old) + separator + value : value;
    setenv(name, joined.c_str(), 1);
}

// Runs this program again with the same arguments; its exit status, or 128 + its signal.
int runSelf(char** argv) {
    pid_t child = fork();
    if (child == 0) {
        // Should this run be killed (a test time-out), its tests must not outlive it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execv("/proc/self/exe", argv);
        _exit(127);
    }
    if (child < 0) {
        std::perror("test_usb: fork");
        return 1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts the simulator with the test modules on its USB bus and runs the tests beside it.
// False, with the reason, when the simulator cannot make the bus.
bool runBesideSimulatedBus(char** argv, int* status, std::string* why) {
    zvtest::TempDir scratch;
    const std::string log = scratch.file("modulesim.log");
    // The simulator writes its packet and transfer log on standard error: into the log file.
    std::vector<std::string> args = {"--duration", "600", "--log"};
    for (const std::string& argument : usbtest::simulatorModuleArguments()) {
        args.push_back(argument);
    }
    std::unique_ptr<zvtest::BackgroundProgram> simulator;
    try {
        simulator =
            std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args, log);
    } catch (const std::exception& error) {
        *why = std::string("the module simulator cannot start: ") + error.what();
        return false;
    }
    std::string root;
    if (!simulator->waitReady(kSimulatorStartMs) ||
        (root = simulator->startupValue("umockdev")).empty()) {
        *why = "the module simulator made no USB bus: " + zvtest::readFile(log);
        return false;
    }
    setenv("UMOCKDEV_DIR", root.c_str(), 1);
    setenv(usbtest::kSimulatorLogVariable, log.c_str(), 1);
    prependEnvironment("LD_PRELOAD", "libumockdev-preload.so.0", ':');
    // The preload comes before the sanitizer runtime, which it tolerates when told to.
    appendEnvironment("ASAN_OPTIONS", "verify_asan_link_order=0", ':');
    *status = runSelf(argv);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("UMOCKDEV_DIR") == nullptr && !listsTests(argc, argv)) {
        int status = 0;
        std::string why;
        if (runBesideSimulatedBus(argv, &status, &why)) {
            return status;
        }
        std::fprintf(stderr, "test_usb: %s\n", why.c_str());
        usbtest::setBusUnavailable(why);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
