// "-D" run as a user runs it, against simulated modules in a private network with a veth pair:
// the simulator's modules sit at 10.77.0.2, Updater's requests leave through every interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "BackgroundProgram.h"
#include "TestSupport.h"

using zvtest::BackgroundProgram;
using zvtest::RunResult;
using zvtest::TempDir;

namespace {

const std::string kNetworkHeader =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]       "
    "Device Name";

std::string tcpLine(unsigned serial, unsigned module, unsigned router, const char* model,
                    const char* version, unsigned build, const char* name) {
    char line[256];
    std::snprintf(line, sizeof(line),
                  "    %08X  %02X       %02X      %-12s %s (%10u)        %-17s  %s", serial, module,
                  router, model, version, build, "[10.77.0.2]", name);
    return line;
}

// The device lines after the header, sorted: modules answer discovery in no fixed order.
std::vector<std::string> sortedDeviceLines(const std::vector<std::string>& out, size_t first) {
    std::vector<std::string> devices(out.begin() + static_cast<long>(first), out.end());
    std::sort(devices.begin(), devices.end());
    return devices;
}

// A module new enough to have a stored name and one that is not.
const std::vector<std::string> kTwoTcpModules = {
    "serial=1A2B3C4D,model=13,address=4,version=2.10.4,build=4321,name=Left arm,tcp=10.77.0.2:0",
    "serial=00C0FFEE,model=7,address=6,version=2.9.1,build=17,name=Ignored,tcp=10.77.0.2:0",
};

class DiscoverCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_PRIVATE_NETWORK_OR_SKIP(true);
        // "-D" lists a module whose lock is held: no other test's update may hold it.
        ZV_PRIVATE_RUN_LOCK_OR_SKIP();
    }

    std::unique_ptr<BackgroundProgram> startModules(const std::vector<std::string>& modules) {
        std::vector<std::string> args = {"--duration", "120"};
        for (const std::string& module : modules) {
            args.push_back("--module");
            args.push_back(module);
        }
        auto sim = std::make_unique<BackgroundProgram>(zvtest::modulesimBinary(), args);
        EXPECT_TRUE(sim->waitReady());
        return sim;
    }

    RunResult updater(std::vector<std::string> args) {
        args.insert(args.begin(), {"-i", store.path()});
        return zvtest::runProgram(zvtest::updaterBinary(), args);
    }

    TempDir store;
};

TEST_F(DiscoverCommand, TcpModulesAreListedWithAddressVersionBuildAndName) {
    auto sim = startModules(kTwoTcpModules);
    RunResult r = updater({"-D", "-t", "TCP"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out = zvtest::splitLines(r.out);
    ASSERT_EQ(out.size(), 6u) << r.out;
    EXPECT_EQ(out[1], "Searching for Zendrival devices");
    EXPECT_EQ(out[2], "Discovered Devices: (TCPIP)");
    EXPECT_EQ(out[3], kNetworkHeader);
    // Firmware before 2.10.4 has no stored name to read.
    std::vector<std::string> expected = {
        tcpLine(0x00C0FFEE, 6, 6, "Motor-4", "  2.9.1", 17, ""),
        tcpLine(0x1A2B3C4D, 4, 4, "Ethernet", "  2.10.4", 4321, "Left arm"),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedDeviceLines(out, 4), expected);
}

TEST_F(DiscoverCommand, WithoutTransportUsbIsListedThenTcp) {
    // Deliberate: "-D" alone lists USB and then TCP/IP modules, as its help text promises.
    auto sim = startModules(kTwoTcpModules);
    RunResult usb = updater({"-D", "-t", "USB"});
    RunResult tcp = updater({"-D", "-t", "TCP"});
    RunResult both = updater({"-D"});
    ASSERT_EQ(both.exitCode, 0) << both.err;
    EXPECT_EQ(both.err, "");
    std::vector<std::string> out = zvtest::splitLines(both.out);
    std::vector<std::string> usbOut = zvtest::splitLines(usb.out);
    std::vector<std::string> tcpOut = zvtest::splitLines(tcp.out);
    // No module on USB here: its list is the empty one, as "-t USB" shows it.
    ASSERT_EQ(usbOut.size(), 4u) << usb.out;
    EXPECT_EQ(usbOut[3], "    No devices found.");
    ASSERT_EQ(tcpOut.size(), 6u) << tcp.out;
    ASSERT_EQ(out.size(), usbOut.size() + tcpOut.size() - 2) << both.out;
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 4), usbOut);
    EXPECT_EQ(std::vector<std::string>(out.begin() + 4, out.begin() + 6),
              std::vector<std::string>(tcpOut.begin() + 2, tcpOut.begin() + 4));
    EXPECT_EQ(sortedDeviceLines(out, 6), sortedDeviceLines(tcpOut, 4));
}

TEST_F(DiscoverCommand, SilentTcpModuleIsStillListedWithWhatWasFound) {
    auto sim = startModules({"serial=0BADF00D,model=15,address=8,silent,tcp=10.77.0.2:0"});
    RunResult r = updater({"-D", "-t", "TCP"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out = zvtest::splitLines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    // Discovery reported address 8; nothing else could be read.
    EXPECT_EQ(out[4], tcpLine(0x0BADF00D, 8, 8, "Encoder-4", "  0.0.0", 0, ""));
}

TEST_F(DiscoverCommand, RouterSearchListsBusModulesInAddressOrder) {
    auto sim = startModules({
        "serial=D272031D,model=5,address=2,tcp=10.77.0.2:0",
        "serial=11111111,model=8,address=10,version=2.11.0,build=900,name=Gripper,behind=D272031D",
        "serial=22222222,model=19,address=6,version=2.10.3,build=901,behind=D272031D",
    });
    RunResult r = updater({"-D", "-r", "D272031D"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out = zvtest::splitLines(r.out);
    ASSERT_EQ(out.size(), 6u) << r.out;
    EXPECT_EQ(out[1], "Searching for Zendrival Network devices connected to D272031D");
    // Without "-t" the table does not name the router's link type.
    EXPECT_EQ(out[2], "Discovered Devices: (Unknown)");
    EXPECT_EQ(out[3], kNetworkHeader);
    EXPECT_EQ(out[4], tcpLine(0x22222222, 6, 2, "Controller", "  2.10.3", 901, ""));
    EXPECT_EQ(out[5], tcpLine(0x11111111, 10, 2, "Servo-8", "  2.11.0", 900, ""));
}

TEST_F(DiscoverCommand, RouterSearchWithTransportNamesIt) {
    auto sim = startModules({
        "serial=D272031D,model=5,address=2,tcp=10.77.0.2:0",
        "serial=33333333,model=3,address=4,version=2.12.2,build=5,behind=D272031D",
    });
    RunResult r = updater({"-D", "-t", "TCP", "-r", "D272031D"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out = zvtest::splitLines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[2], "Discovered Devices: (TCPIP)");
    EXPECT_EQ(out[4], tcpLine(0x33333333, 4, 2, "Hub-4", "  2.12.2", 5, ""));
}

TEST_F(DiscoverCommand, UnknownRouterGivesEmptyList) {
    auto sim = startModules({"serial=D272031D,model=5,address=2,tcp=10.77.0.2:0"});
    RunResult r = updater({"-D", "-t", "TCP", "-r", "0000BEEF"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(zvtest::splitLines(r.out).back(), "    No devices found.");
    EXPECT_EQ(r.err, "");
}

}  // namespace
