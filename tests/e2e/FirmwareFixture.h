// The world of an update, made for one test: a private network with a veth pair, an update
// server simulator serving builds from a directory on 127.0.0.1, a simulated module at 10.77.0.2,
// an empty store for the real Updater binary, and a /run/lock of the test's own for the module
// locks of its Updater runs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "TestSupport.h"

namespace firmwaretest {

constexpr const char* kSerial = "40F5849A";
// The store's records of an earlier transfer (build 1234) and download (build 1300).
extern const std::string kEarlierTransfer;

std::string lpcsimBinary();

// Pseudo-random image bytes that do not compress (a BIRD reader refuses bodies that inflate
// more than eightfold), different for every seed.
std::string imageBytes(size_t length, unsigned seed);

class FirmwareFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    // What a test's own world adds once the fixture's is up; never run after a skipped or failed
    // set-up.
    virtual void prepare() {}

    // Writes DESCRIPTION for birdtool and builds it into path; the path.
    std::string makeBird(const std::string& path, const std::string& description);
    // A Hub-4 build for serial: a loader block, two firmware blocks stamped with the build (and
    // the version, when it is MAJOR.MINOR.PATCH).
    std::string makeBuild(const std::string& path, unsigned build, const std::string& version,
                          const std::string& extra = "", const std::string& serial = kSerial);
    // The build the update tests send: 1300 (2.13.0) at work/1300.bird, kept in bird.
    std::string makeNewBuild();
    // Writes a file into the store's directory of kSerial, made when missing.
    void putInStore(const std::string& name, const std::string& bytes);
    // Serves builds/ (started with --builds and these arguments); its URL. It logs the requests
    // and its standard error for serverRequests() and serverLog().
    std::string startServer(const std::vector<std::string>& extra = {});
    // A Hub-4 module kSerial with these extra keys, writing its flash to flash.bin and every
    // packet it receives (<) and sends (>) to the log that moduleLog() reads.
    void startModule(const std::string& keys = "", const std::vector<std::string>& more = {});
    // A router 00C0FFEE on TCP/IP with the Hub-4 module kSerial (build 1000) behind it at bus
    // address 8, writing its flash to flash.bin.
    void startModuleBehindRouter();

    zvtest::RunResult updater(std::vector<std::string> args,
                              const std::vector<std::string>& env = {});
    // The store's directory of kSerial, and a file in it.
    std::string deviceDir() const { return store.path() + "/updater/" + kSerial; }
    std::string deviceFile(const std::string& name) const { return deviceDir() + "/" + name; }
    std::string settings() const;
    std::string storedFile(const std::string& name) const;
    std::string flash() const { return zvtest::readFile(work.file("flash.bin")); }
    std::string moduleLog() const { return zvtest::readFile(work.file("module.log")); }
    // What the module's flash must hold after the file's firmware blocks were written (erased
    // bytes between blocks), with the serial number patched in when patchedSerial is not empty.
    std::string expectedFlash(const std::string& birdPath) const;

    zvtest::TempDir work;
    zvtest::TempDir store;
    std::string builds;  // the server's directory
    std::string bird;    // the path makeNewBuild() built
    std::string url;
    std::unique_ptr<zvtest::BackgroundProgram> server;
    std::unique_ptr<zvtest::BackgroundProgram> module;

    // How many times part appears in text (a simulator log, an output).
    static size_t appearances(const std::string& text, const std::string& part);
    // The upgrade packets (command 95) of the fixture's module at bus address 4 in a trace of
    // moduleLog(): those it received ('<') or sent ('>').
    static size_t upgradePackets(const std::string& trace, char direction);
    // The server's request targets, one a line, and its notes of the faults it applied.
    std::string serverRequests() const { return readIfThere(work.file("requests.log")); }
    std::string serverLog() const { return readIfThere(work.file("server.log")); }
    static std::string readIfThere(const std::string& path) {
        return zvtest::pathExists(path) ? zvtest::readFile(path) : "";
    }
};

// The environment entries that let Updater see only the emulated USB bus rooted at umockdevRoot
// (the simulator's "umockdev" line), as a plugged-in module is seen.
std::vector<std::string> usbBusEnvironment(const std::string& umockdevRoot);

std::vector<std::string> lines(const std::string& text);
using zvtest::contains;
// The error lines of a run: standard error without the upgrade exchange's own diagnostic lines
// ("NETWORK: ..."), which it writes whatever the debug mask.
std::vector<std::string> errorLines(const zvtest::RunResult& r);

}  // namespace firmwaretest
