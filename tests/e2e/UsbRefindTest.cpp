// After LOAD a USB module restarts into its loader and leaves the bus; "-U" looks for it again,
// 15 times a second apart, and ends the process's USB context before every third attempt so that
// a fresh one sees the bus anew. The module sits on an emulated USB bus (umockdev) and the real
// Updater reaches it through the real libusb.
#include <cstdlib>

#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kRefresh = "Failed enumeration after 3 tries, refreshing libusb context.\n";
// A whole search in the letters of searchAfterLoad(): attempts 0 to 14, the context ended before
// attempts 2, 5, 8, 11 and 14.
const std::string kFullSearch = "LL" + std::string("RXLLL") + "RXLLL" + "RXLLL" + "RXLLL" + "RXL";

class UsbRefind : public FirmwareFixture {
  protected:
    // The fixture's Hub-4 module on the emulated bus, with these keys; its packets and USB
    // transfers go to moduleLog().
    void plugInHub(const std::string& keys) {
        module = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::modulesimBinary(),
            std::vector<std::string>{"--duration", "120", "--log", "--module",
                                     std::string("serial=") + kSerial +
                                         ",model=3,address=4,version=2.11.0,build=1000,flash=" +
                                         work.file("flash.bin") + ",usb," + keys},
            work.file("module.log"));
        ASSERT_TRUE(module->waitReady()) << "the module simulator did not start";
        ASSERT_NE(module->startupValue("umockdev"), "");
    }

    // "-U" of a new build, with the diagnostic lines of the search (DEBUG_APP), of the loader
    // start's reconnects (DEBUG_Network), of the firmware transfer's start (DEBUG_Updater), and
    // libusb's own debug lines, which name each device list and each context ended.
    RunResult updateWatchingTheSearch() {
        makeNewBuild();
        return updaterOnTheBus({"-U", "-d", kSerial, "-f", bird, "-X", "0x10101"},
                               {"LIBUSB_DEBUG=4"});
    }

    // The search for the module after LOAD, from the end of the loader start's last reconnect to
    // the start of the firmware transfer, as one letter a step: L a USB device list (one
    // attempt), R the refresh line, X the USB context ended.
    static std::string searchAfterLoad(const std::string& err) {
        const size_t last =
            err.rfind("NETWORK: Attempting to reconnect DEFAULT sn. Attempt: 5 of 5");
        const size_t start = err.find("NETWORK: Couldn't reconnect to device delaying", last);
        const size_t end = err.find("Transferring firmware to device ", start);
        if (last == std::string::npos || start == std::string::npos || end == std::string::npos) {
            return "no search in: " + err.substr(err.size() > 3000 ? err.size() - 3000 : 0);
        }
        std::string steps;
        for (const std::string& line : lines(err.substr(start, end - start))) {
            if (contains(line, "[libusb_get_device_list]")) {
                steps += 'L';
            } else if (line + "\n" == kRefresh) {
                steps += 'R';
            } else if (contains(line, "[libusb_exit]")) {
                steps += 'X';
            }
        }
        return steps;
    }

    // Updater seeing only the emulated bus, with more environment.
    RunResult updaterOnTheBus(const std::vector<std::string>& args,
                              std::vector<std::string> env = {}) {
        const std::vector<std::string> bus = usbBusEnvironment(module->startupValue("umockdev"));
        env.insert(env.end(), bus.begin(), bus.end());
        return updater(args, env);
    }
};

TEST_F(UsbRefind, ModuleThatNeverComesBackIsLookedFor15TimesWithTheContextRefreshedEveryThird) {
    plugInHub("drop-at-load,reboot-ms=600000");
    RunResult r = updateWatchingTheSearch();
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(appearances(moduleLog(), "usb unplugged"), 1u) << "the module left at LOAD";
    EXPECT_EQ(appearances(moduleLog(), "usb plugged in"), 1u) << "and never came back";
    EXPECT_EQ(searchAfterLoad(r.err), kFullSearch);
    EXPECT_EQ(appearances(r.err, kRefresh), 5u);
    EXPECT_TRUE(contains(r.err, "\nFirmware update failed [25, qErrConnection]\n")) << "error";
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "nothing was committed";
    EXPECT_FALSE(contains(zvtest::readFile(deviceFile(".settings")), "LATEST_TRANSFER"));
}

TEST_F(UsbRefind, ModuleBackLateIsFoundByTheSameSearchWhichThenStops) {
    // Back on the bus 12 s after LOAD: well after the loader start's reconnects (about 5 s), within
    // the search.
    plugInHub("drop-at-load,reboot-ms=12000");
    RunResult r = updateWatchingTheSearch();
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    EXPECT_EQ(appearances(moduleLog(), "usb plugged in"), 3u) << "at start, after LOAD, REBOOT";
    // How many attempts it took depends on the machine's pace, but the search kept the same
    // rhythm up to its last refresh and stopped before its fifth (the attempt that finds the
    // module lists the bus more than once, as it also connects).
    const std::string search = searchAfterLoad(r.err);
    const size_t lastRefresh = search.rfind("RX");
    ASSERT_NE(lastRefresh, std::string::npos) << "the module came back before any refresh";
    EXPECT_EQ(kFullSearch.compare(0, lastRefresh + 3, search, 0, lastRefresh + 3), 0) << search;
    EXPECT_LT(appearances(search, "RX"), 5u) << search;
}

}  // namespace
