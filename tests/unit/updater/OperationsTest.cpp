// The Updater's download, list and update operations where they decide on their own, before any
// module or server answers: bad arguments, a store that cannot be made, damaged stored files.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../streams/PseudoTerminal.h"
#include "ModuleLock.h"
#include "TestSupport.h"
#include "Updater.h"

namespace {

class RecordingDisplay : public UpdaterDisplayInterface {
  public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char* text) override { infos.emplace_back(text); }
    void error_message(const char* text) override { errors.emplace_back(text); }
    void warning_message(const char* text) override { warnings.emplace_back(text); }
    std::vector<std::string> infos, errors, warnings;
};

// Nothing listens on this port of loopback: requests fail at once, without leaving the machine.
constexpr const char* kDeadServer = "http://127.0.0.1:9/cgi/u";

class Operations : public ::testing::Test {
  protected:
    // The module locks in a directory of the test's own, not the machine's.
    void SetUp() override {
        ASSERT_EQ(mkdir(lockDirectory.c_str(), 01777), 0);
        updater.Set_Lock_Directory(lockDirectory);
    }
    std::string deviceDir() { return store.path() + "/40F5849A"; }
    zvtest::TempDir store;
    zvtest::TempDir locks;
    const std::string lockDirectory = locks.file("zendrival");
    RecordingDisplay display;
    Updater updater{kDeadServer, store.path().c_str(), display};
};

TEST_F(Operations, DownloadRefusesABuildTextWithoutANumberAndASerialOfZero) {
    EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "abc", false, false), 0u);
    EXPECT_EQ(display.errors, std::vector<std::string>{"Build number 'abc' must be an number"});
    display.errors.clear();
    EXPECT_EQ(updater.Download_Firmware(0, "", false, false), 0u);
    EXPECT_EQ(display.errors, std::vector<std::string>{"Serial Number must be non-zero"});
    // Trailing text after a number is ignored: the request goes on, to a server that is not there.
    display.errors.clear();
    EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "12abc", false, false), 0u);
    EXPECT_EQ(display.errors,
              std::vector<std::string>{std::string("Server request failed for ") + kDeadServer});
}

TEST_F(Operations, UpdateNeedsADeviceAndABuild) {
    EXPECT_FALSE(updater.Update_Firmware(0, 0, "", 0, 0, false));
    EXPECT_EQ(display.errors,
              std::vector<std::string>{"Update command must specify the specific device"});
    display.errors.clear();
    EXPECT_FALSE(updater.Update_Firmware(0x40F5849A, 0, "", 0, 0, false));
    EXPECT_EQ(display.errors,
              std::vector<std::string>{"Could not find valid build for this device."});
}

TEST_F(Operations, StoredBuildThatIsMissingFallsBackToTheSettings) {
    ASSERT_EQ(mkdir(deviceDir().c_str(), 0755), 0);
    zvtest::writeFile(deviceDir() + "/.settings", "LATEST_TRANSFER=1234.bird\n");
    // Build 77 is not stored and 1234 neither: the search ends at the file load.
    EXPECT_FALSE(updater.Update_Firmware(0x40F5849A, 77, "", 0, 0, false));
    EXPECT_EQ(display.infos[0],
              "New firmware is available.  Updater will proceed if valid "
              "firmware is found locally.");
    EXPECT_EQ(display.infos[1], "Updating with the Latest Transfer");
    EXPECT_EQ(display.infos[2], "Updating firmware with build: 1234");
    EXPECT_EQ(display.errors, std::vector<std::string>{"Failed to load bird file"});
}

TEST_F(Operations, LoadBirdThrowsForAMissingBuildAndAnUnreadablePath) {
    EXPECT_THROW(updater.load_bird("Updating", "", 0x40F5849A, 55, false), std::runtime_error);
    EXPECT_THROW(updater.load_bird("Updating", store.file("none.bird"), 0x40F5849A, 0, false),
                 std::runtime_error);
    EXPECT_EQ(display.infos.back(), "Updating from Birdfile: " + store.file("none.bird"));
}

TEST_F(Operations, LocalListShowsADamagedBodyWithoutAVersion) {
    // Deliberate: a stored file whose body does not load is listed without a version, not fatal.
    ASSERT_EQ(mkdir(deviceDir().c_str(), 0755), 0);
    // A good header over a body that does not inflate.
    zvtest::writeFile(deviceDir() + "/90.bird", std::string("bird\x01\x01", 6) + "not zlib");
    zvtest::writeFile(deviceDir() + "/notes.txt", "plain");
    BuildList builds = updater.Get_BuildListLocal(0x40F5849A);
    ASSERT_EQ(builds.size(), 2u);
    EXPECT_EQ(builds["90"], "");
    EXPECT_EQ(builds["notes.txt"], "");
    EXPECT_TRUE(display.errors.empty());
}

TEST_F(Operations, StoreThatCannotBeMadeIsReportedOncePerOperation) {
    // A plain file where the storage directory should be.
    zvtest::writeFile(store.file("blocked"), "x");
    Updater blocked(kDeadServer, store.file("blocked").c_str(), display);
    EXPECT_TRUE(blocked.Get_BuildListLocal(0x40F5849A).empty());
    EXPECT_FALSE(blocked.Update_Firmware(0x40F5849A, 0, "", 0, 0, false));
    ASSERT_EQ(display.errors.size(), 2u);
    EXPECT_EQ(display.errors[0].rfind("Failed to Create UpdaterStore in: Get_BuildListLocal - ", 0),
              0u);
    EXPECT_EQ(display.errors[1].rfind("Failed to Create UpdaterStore in: Update_Firmware - ", 0),
              0u);
}

TEST_F(Operations, ServerListWithoutAServerIsEmpty) {
    EXPECT_TRUE(updater.Get_BuildList(0x40F5849A).empty());
    EXPECT_EQ(display.errors,
              std::vector<std::string>{std::string("Server request failed for ") + kDeadServer});
    EXPECT_FALSE(_valid_build(0x40F5849A, 1234, kDeadServer));
}

}  // namespace

namespace {

TEST_F(Operations, ModuleHeldByAnotherUpdaterEndsTheUpdateBeforeAnythingElse) {
    ModuleLock other(lockDirectory, store.path(), 0x40F5849A);
    ASSERT_TRUE(other.held());
    // Neither the build choice nor the connection is tried: this would otherwise fail on them.
    EXPECT_FALSE(updater.Update_Firmware(0x40F5849A, 0, "", 0, 0, false));
    EXPECT_EQ(display.errors,
              std::vector<std::string>{"Module 40F5849A is being updated by another Updater "
                                       "(process " +
                                       std::to_string(getpid()) + ")"});
    // A routed update holds the router too.
    display.errors.clear();
    ModuleLock router(lockDirectory, store.path(), 0xD272031D);
    EXPECT_FALSE(updater.Update_Firmware(0x2181F0EE, 0, "", 0, 0xD272031D, false));
    EXPECT_EQ(display.errors,
              std::vector<std::string>{"Module D272031D is being updated by another Updater "
                                       "(process " +
                                       std::to_string(getpid()) + ")"});
}

TEST_F(Operations, LocksKeptInTheStoreAreAnnouncedOnceARun) {
    // The machine's directory is unfit: a symbolic link.
    const std::string link = locks.file("link");
    ASSERT_EQ(symlink(lockDirectory.c_str(), link.c_str()), 0);
    updater.Set_Lock_Directory(link);
    const std::string warning = link + " is a symbolic link; module locks are kept in " +
                                store.path() +
                                "/.locks instead, which only runs using this store see";
    // A routed update locks the module and the router: one warning for both, no error of its
    // own, and the update goes on to the build choice.
    EXPECT_FALSE(updater.Update_Firmware(0x2181F0EE, 0, "", 0, 0xD272031D, false));
    EXPECT_EQ(display.warnings, std::vector<std::string>{warning});
    EXPECT_EQ(display.errors,
              std::vector<std::string>{"Could not find valid build for this device."});
    EXPECT_TRUE(zvtest::pathExists(store.path() + "/.locks/2181F0EE"));
    EXPECT_TRUE(zvtest::pathExists(store.path() + "/.locks/D272031D"));
    EXPECT_FALSE(zvtest::pathExists(lockDirectory + "/2181F0EE"));
    // The run goes on: no second warning.
    EXPECT_FALSE(updater.Update_Firmware(0x2181F0EE, 0, "", 0, 0, false));
    EXPECT_EQ(display.warnings.size(), 1u);
}

TEST_F(Operations, RecoveryPortHeldByAnotherProgramIsNeverAsked) {
    PseudoTerminal line;
    ASSERT_TRUE(line.ready());
    const int held = open(line.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string expected = "Port " + line.slavePath() +
                                 " is being used by another Updater (process " +
                                 std::to_string(getpid()) + ")";

    EXPECT_FALSE(updater.Recover_Firmware(line.slavePath(), 0, 115200, 0, "", false));
    EXPECT_EQ(display.errors, std::vector<std::string>{expected});
    Fingerprint fingerprint;
    EXPECT_FALSE(updater.Get_Fingerprint(fingerprint, line.slavePath(), UNKNOWN_RECOVERY_SERIAL, "",
                                         115200, true));
    EXPECT_TRUE(updater.Recovery_Port_Busy());
    EXPECT_EQ(display.errors, (std::vector<std::string>{expected, expected}));
    // Not a byte reached the line.
    EXPECT_EQ(line.receive(1, 200), "");
    close(held);
}

}  // namespace
