// "-D" and "-U" over USB, as a user runs them with modules plugged in: the simulated modules sit on
// an emulated USB bus (umockdev) and the real Updater reaches them through the real libusb. A
// module that restarts leaves the bus and comes back under a new device number, as hardware
// re-enumerates.
#include <algorithm>
#include <unistd.h>

#include <cstdlib>

#include "FaultSite.h"
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kUsbHeader =
    "    Device    Module   Router  Model          Firmware Version (Build)    Device Name";

class UsbCommands : public FirmwareFixture {
  protected:
    // Modules on the emulated bus (each description gets ",usb"); the simulator logs every
    // packet and USB transfer to sim.log.
    void plugIn(const std::vector<std::string>& modules) {
        std::vector<std::string> args = {"--duration", "120", "--log"};
        for (const std::string& description : modules) {
            args.push_back("--module");
            args.push_back(description + ",usb");
        }
        simLog = work.file("sim.log");
        usbBus =
            std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args, simLog);
        ASSERT_TRUE(usbBus->waitReady()) << "the module simulator did not start";
        ASSERT_NE(usbBus->startupValue("umockdev"), "");
    }

    // The Hub-4 module of the firmware fixture, on USB.
    std::string hub(const std::string& keys = "") const {
        return std::string("serial=") + kSerial +
               ",model=3,address=4,version=2.11.0,build=1000,name=Left hub,reboot-ms=300,flash=" +
               work.file("flash.bin") + (keys.empty() ? "" : "," + keys);
    }

    RunResult updaterOnUsb(const std::vector<std::string>& args) {
        return updater(args, usbBusEnvironment(usbBus->startupValue("umockdev")));
    }

    std::string log() const { return zvtest::readFile(simLog); }

    std::unique_ptr<zvtest::BackgroundProgram> usbBus;
    std::string simLog;
};

}  // namespace

namespace {

// The device lines of a "-D" listing, sorted: the bus order is libusb's.
std::vector<std::string> deviceLines(const std::string& out) {
    std::vector<std::string> all = lines(out);
    auto header = std::find(all.begin(), all.end(), kUsbHeader);
    std::vector<std::string> devices(header == all.end() ? all.end() : header + 1, all.end());
    std::sort(devices.begin(), devices.end());
    return devices;
}

TEST_F(UsbCommands, DiscoverListsEveryModuleOnTheBus) {
    plugIn({hub(), "serial=1234ABCD,model=19,address=6,build=1234,name=Arm controller"});
    RunResult r = updaterOnUsb({"-D", "-t", "USB"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(
        r.out, "Searching for Zendrival devices\nDiscovered Devices: (USB)\n" + kUsbHeader + "\n"))
        << r.out;
    std::vector<std::string> expected = {
        "    1234ABCD  06       06      Controller     2.12.2 (      1234)         Arm controller",
        "    40F5849A  04       04      Hub-4          2.11.0 (      1000)         Left hub"};
    EXPECT_EQ(deviceLines(r.out), expected) << r.out;

    // Without a transport "-D" lists USB, with the same modules, then TCP/IP, where none is.
    RunResult plain = updaterOnUsb({"-D"});
    ASSERT_EQ(plain.exitCode, 0) << plain.out << plain.err;
    const std::string tcpList = "Discovered Devices: (TCPIP)\n    No devices found.\n";
    const size_t tcpAt = plain.out.find(tcpList);
    ASSERT_NE(tcpAt, std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.substr(tcpAt), tcpList);
    EXPECT_EQ(deviceLines(plain.out.substr(0, tcpAt)), expected) << plain.out;
}

TEST_F(UsbCommands, DevicesThatAreNotModulesAreLeftOut) {
    // A serial-number string that is not 8 characters, and a product id of the maker's that is
    // not a module (bit 15 set), beside one real module.
    plugIn({hub(), "serial=00001234,usb-serial=1234AB", "serial=0BADF00D,usb-product=0x8013"});
    RunResult r = updaterOnUsb({"-D", "-t", "USB"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> devices = deviceLines(r.out);
    ASSERT_EQ(devices.size(), 1u) << r.out;
    EXPECT_TRUE(contains(devices[0], "40F5849A  04")) << r.out;
}

TEST_F(UsbCommands, ModuleHeldByAnotherProgramIsReportedAndNotUpdated) {
    plugIn({hub("usb-claimed")});
    RunResult r = updaterOnUsb({"-D", "-t", "USB"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> devices = deviceLines(r.out);
    ASSERT_EQ(devices.size(), 1u) << r.out;
    const std::string prefix = "    40F5849A  [Error (";
    const std::string suffix = "): Is someone else connected to this device?]";
    EXPECT_EQ(devices[0].rfind(prefix, 0), 0u) << devices[0];
    ASSERT_GT(devices[0].size(), prefix.size() + suffix.size());
    EXPECT_EQ(devices[0].substr(devices[0].size() - suffix.size()), suffix) << devices[0];
    EXPECT_GT(atoi(devices[0].c_str() + prefix.size()), 0) << devices[0];

    makeNewBuild();
    RunResult update = updaterOnUsb({"-U", "-d", kSerial, "-f", bird});
    EXPECT_EQ(update.exitCode, 1) << update.out << update.err;
    EXPECT_EQ(update.err, std::string("Failed to connect to module [") + kSerial + "]\n");
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
    EXPECT_EQ(appearances(log(), "usb OUT "), 0u) << "nothing may reach a module it cannot claim";
}

TEST_F(UsbCommands, UpdateFollowsTheModuleThroughItsLoaderRestart) {
    // LOAD makes the module drop off the bus and come back with its loader running; REBOOT makes
    // it re-enumerate once more, running the new build.
    plugIn({hub("drop-at-load")});
    makeNewBuild();
    RunResult r = updaterOnUsb({"-U", "-d", kSerial, "-f", bird});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "Starting Load on Device\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Transferred 2 blocks, 4508 total bytes\n")) << r.out;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    std::string trace = log();
    EXPECT_EQ(appearances(trace, "usb unplugged"), 2u) << trace.substr(0, 2000);
    EXPECT_TRUE(contains(trace, "usb plugged in at /dev/bus/usb/001/003")) << "after LOAD";

    // Deliberate: after REBOOT the module is found again and its build read: success is proven.
    // The module comes back on the bus after its reboot time, running build 1300 of version
    // 2.13.0, which the update checked before it called the update done.
    EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\nUpdate time: "))
        << r.out;
    std::string listed;
    for (int attempt = 0; attempt < 20 && !contains(listed, "(      1300)"); ++attempt) {
        usleep(200 * 1000);
        listed = updaterOnUsb({"-D", "-t", "USB"}).out;
    }
    EXPECT_TRUE(
        contains(listed, "    40F5849A  04       04      Hub-4          2.13.0 (      1300)"))
        << listed;
}

TEST_F(UsbCommands, ModuleSlowToComeBackIsFoundByANewUsbSearch) {
    // The module stays off the bus longer than the loader start's reconnects last, so the update
    // searches the bus again, refreshing the USB context before every third attempt.
    plugIn({hub("drop-at-load,reboot-ms=10000")});
    makeNewBuild();
    RunResult r = updaterOnUsb({"-U", "-d", kSerial, "-f", bird, "-X", "0x10000"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // The diagnostic log goes to standard error.
    EXPECT_TRUE(contains(r.err, "Failed enumeration after 3 tries, refreshing libusb context.\n"))
        << r.err;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
}

TEST_F(UsbCommands, ModuleThatNeverComesBackEndsInOneErrorLine) {
    plugIn({hub("drop-at-load,reboot-ms=600000")});
    makeNewBuild();
    RunResult r = updaterOnUsb({"-U", "-d", kSerial, "-f", bird});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    std::vector<std::string> errors = lines(r.err);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_EQ(errors[0].rfind("Firmware update failed [", 0), 0u) << r.err;
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "nothing was committed";
    EXPECT_FALSE(contains(zvtest::readFile(deviceFile(".settings")), "LATEST_TRANSFER"));
}

TEST_F(UsbCommands, ModuleNotOnItsNewBuildAfterRebootIsOneErrorLine) {
    // A lost REBOOT leaves the module on the bus in its loader; one that restarts into its old
    // firmware leaves the bus and comes back. Both still report build 1000.
    makeNewBuild();
    for (const std::string fault : {"lost-reboot", "boots-old-build"}) {
        SCOPED_TRACE(fault);
        unlink(deviceFile(".settings").c_str());
        plugIn({hub("drop-at-load," + fault)});
        RunResult r = updaterOnUsb({"-U", "-d", kSerial, "-f", bird});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(errorLines(r), std::vector<std::string>{"Module 40F5849A runs build 1000 after "
                                                          "the update, expected 1300"})
            << r.err;
        EXPECT_FALSE(contains(zvtest::readFile(deviceFile(".settings")), "LATEST_TRANSFER"));
        EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "nothing was committed";
        // Unplugged at LOAD, and once more at REBOOT only when the module restarted.
        EXPECT_EQ(appearances(log(), "usb unplugged"), fault == "lost-reboot" ? 1u : 2u);
        usbBus.reset();
    }
}

TEST_F(UsbCommands, DownloadAndUpdateOverUsbRecordsTheTransfer) {
    std::string bird = makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
    startServer();
    plugIn({hub("drop-at-load")});
    RunResult r = updaterOnUsb({"-G", "-U", "-d", kSerial, "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n")) << settings();
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=1300.bird\n")) << settings();
}

}  // namespace

namespace {

// The USB side of the fault matrix, one outcome per fault. The module counts its requests as
// over TCP/IP (1 the route, 2-3 the queries, 4 INIT, 5-18 the loader block, 22 the first
// firmware PREPARE, 153 the SUM of block 1's last piece, 223 REBOOT); a link closed on USB is a
// module pulled from its port, which does not come back.
struct UsbFault {
    const char* name;
    const char* moduleKeys;
    const char* error;  // the run's one error line; nullptr: the update succeeds
    int retries;        // the last "  Retry N" line the run prints; 0: none
    // The simulator's log line that shows the fault, how often, and the request it first fired
    // on (its number and first bytes), unless kAnyRequest: a USB transfer carries as many packets
    // as the host had queued.
    const char* mark;
    size_t firings;
    size_t atRequest;
    const char* request;
};

constexpr size_t kAnyRequest = static_cast<size_t>(-1);

void PrintTo(const UsbFault& fault, std::ostream* out) {
    *out << fault.name;
}

class UsbFaultMatrix : public UsbCommands, public ::testing::WithParamInterface<UsbFault> {
  protected:
    void expectTheFaultFired(const UsbFault& fault) {
        FaultSite site = findFault(log(), fault.mark);
        EXPECT_EQ(site.firings, fault.firings) << "\"" << fault.mark << "\" in the module's log";
        if (fault.atRequest != kAnyRequest) {
            EXPECT_EQ(site.request, fault.atRequest) << site.requestLine;
            EXPECT_EQ(site.requestLine.rfind(fault.request, 0), 0u) << site.requestLine;
        }
    }
};

TEST_P(UsbFaultMatrix, EndsWithItsOneOutcome) {
    const UsbFault& fault = GetParam();
    makeNewBuild();
    plugIn({hub(fault.moduleKeys)});
    RunResult r = updaterOnUsb({"-U", "-d", kSerial, "-f", bird});
    std::string settings = zvtest::readFile(deviceFile(".settings"));
    if (fault.error == nullptr) {
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(flash() == expectedFlash(bird)) << "a successful run left a wrong image";
        EXPECT_TRUE(contains(settings, "LATEST_TRANSFER=" + bird + "\n")) << settings;
    } else {
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(errorLines(r), std::vector<std::string>{fault.error}) << r.err;
        EXPECT_FALSE(contains(settings, "LATEST_TRANSFER")) << settings;
        EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "the module committed";
    }
    const std::string retry = "  Retry ";
    if (fault.retries > 0) {
        EXPECT_TRUE(contains(r.out, retry + std::to_string(fault.retries) + "\n")) << r.out;
    }
    EXPECT_FALSE(contains(r.out, retry + std::to_string(fault.retries + 1) + "\n")) << r.out;
    expectTheFaultFired(fault);
}

const UsbFault kUsbFaults[] = {
    // The control: the module restarts on REBOOT, into the new build.
    {"NoFault", "", nullptr, 0, "restarts", 1, 223, "04 02 5F 06"},
    {"LinkClosesInTheLoaderBlock", "disconnect-after=12", "Firmware update failed [24, qErrPacket]",
     0, "disconnects on purpose", 1, 12, "04 1C 5F 01"},
    // The block is tried again from its PREPARE, which finds no module on the bus.
    {"LinkClosesInFirmwareBlock1", "disconnect-after=90",
     "Firmware update failed [25, qErrConnection]", 1, "disconnects on purpose", 1, 90,
     "04 1C 5F 8A"},
    // The first three IN transfers before LOAD and again after the restart into the new build:
    // the host reads again. The host's reader polls IN from the moment the device is open, so
    // whether its first request is logged before the first failed IN is a matter of scheduling.
    {"InTransfersFail", "usb-in-errors=3", nullptr, 0, "usb IN error", 6, kAnyRequest, ""},
    // The host clears the halt and sends the transfer again.
    {"EndpointStalls", "usb-stall-at=40", nullptr, 0, "usb OUT halt cleared", 1, kAnyRequest, ""},
    // The third piece of block 1: the whole block again, from its PREPARE.
    {"WrongFirmwareSum", "bad-sum=4", nullptr, 1, "sends a wrong sum", 1, 153, "04 02 5F 04"},
    {"SilentLoader", "silent-loader", "Firmware update failed [18, qErrTimeout]", 0,
     "loader stays silent", 1, 4, "04 02 5F 00"},
};

INSTANTIATE_TEST_SUITE_P(OverUsb, UsbFaultMatrix, ::testing::ValuesIn(kUsbFaults),
                         [](const ::testing::TestParamInfo<UsbFault>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
