// "-I" run as a user runs it: what the store holds for one device or for all of them, shown
// without changing anything on disk.
#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kVersionLine = "Updater (Version: 2.12.2 Mar 13 2026)";

class StoreInfo : public FirmwareFixture {
  protected:
    // A build placed in a device's directory as "-G" would have stored it.
    void storeBuild(const std::string& device, unsigned build, const std::string& version) {
        zvtest::runProgram("/bin/mkdir", {"-p", root() + "/" + device});
        const std::string name = std::to_string(build) + ".bird";
        std::string bird = makeBuild(work.file(name), build, version);
        zvtest::writeFile(root() + "/" + device + "/" + name, zvtest::readFile(bird));
    }
    std::string root() const { return store.path() + "/updater"; }
};

TEST_F(StoreInfo, DeviceShowsDirectorySettingsAndBuilds) {
    storeBuild(kSerial, 1300, "2.13.0");
    zvtest::writeFile(deviceFile("77.bird"), "not a bird file");
    const std::string settingsText =
        "CREATED_TIME=Mon Dec  7 06:09:11 2026\nLATEST_DOWNLOAD=1300.bird\n";
    zvtest::writeFile(deviceFile(".settings"), settingsText);

    RunResult r = updater({"-I", "-d", kSerial});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected = {
        kVersionLine,
        "Stored information for device [40F5849A]:",
        "    Directory: " + deviceDir(),
        "    Settings:",
        "        CREATED_TIME=Mon Dec  7 06:09:11 2026",
        "        LATEST_DOWNLOAD=1300.bird",
        "    Stored builds:",
        "        1300.bird            build 1300       version 2.13.0",
        "        77.bird              (not a readable BIRD file)",
    };
    EXPECT_EQ(lines(r.out), expected);
    // Only read: the settings file is not rewritten or stamped.
    EXPECT_EQ(settings(), settingsText);
}

TEST_F(StoreInfo, DeviceNotInTheStoreIsOneErrorLine) {
    storeBuild(kSerial, 1300, "2.13.0");
    RunResult r = updater({"-I", "-d", "1A2B3C4D"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kVersionLine + "\n");
    EXPECT_EQ(r.err, "No stored information for device [1A2B3C4D] in " + root() + "\n");
    EXPECT_FALSE(zvtest::pathExists(root() + "/1A2B3C4D"));
}

TEST_F(StoreInfo, WithoutDEveryStoredDeviceIsShownInNameOrder) {
    storeBuild(kSerial, 1300, "2.13.0");
    zvtest::runProgram("/bin/mkdir", {"-p", root() + "/00C0FFEE"});
    zvtest::writeFile(deviceFile(".settings"), "LATEST_TRANSFER=1300.bird\n");

    RunResult r = updater({"-I"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> expected = {
        kVersionLine,
        "Stored information for device [00C0FFEE]:",
        "    Directory: " + root() + "/00C0FFEE",
        "    Settings: none",
        "    Stored builds: none",
        "Stored information for device [40F5849A]:",
        "    Directory: " + deviceDir(),
        "    Settings:",
        "        LATEST_TRANSFER=1300.bird",
        "    Stored builds:",
        "        1300.bird            build 1300       version 2.13.0",
    };
    EXPECT_EQ(lines(r.out), expected);
    // A device without a settings file does not get one from being shown.
    EXPECT_FALSE(zvtest::pathExists(root() + "/00C0FFEE/.settings"));
}

TEST_F(StoreInfo, EmptyStoreSaysSoAndSucceeds) {
    const std::string nothing = "No stored information in " + root() + "\n";
    RunResult r = updater({"-I"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kVersionLine + "\n" + nothing);

    // A module's lock kept in the store (where the machine's directory is unfit) is not a
    // stored device.
    zvtest::runProgram("/bin/mkdir", {"-p", root() + "/.locks"});
    zvtest::writeFile(root() + "/.locks/" + kSerial, "4242\n");
    r = updater({"-I"});
    EXPECT_EQ(r.out, kVersionLine + "\n" + nothing);
    r = updater({"-I", "-d", kSerial});
    EXPECT_EQ(r.exitCode, 1);
    r = updater({"-L", "-d", kSerial});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kVersionLine + "\nNo builds found for device [" + kSerial + "]\n");

    r = updater({"-I", "--json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kVersionLine + "\n" + nothing);
    nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(doc["command"], "stored_info");
    EXPECT_TRUE(doc["devices"].is_array());
    EXPECT_TRUE(doc["devices"].empty());
}

TEST_F(StoreInfo, DownloadInTheSameRunIsShown) {
    makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
    startServer();
    RunResult r = updater({"-G", "-I", "-d", kSerial, "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 2u) << r.out;
    EXPECT_EQ(out.back(), "        1300.bird            build 1300       version 2.13.0") << r.out;
    EXPECT_TRUE(contains(r.out, "        LATEST_DOWNLOAD=1300.bird\n")) << r.out;
}

TEST_F(StoreInfo, FailedDownloadStillFailsTheRun) {
    // The device is stored, so "-I" itself succeeds; the download of an unlisted build fails.
    storeBuild(kSerial, 1300, "2.13.0");
    makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
    startServer();
    RunResult r = updater({"-G", "-I", "-d", kSerial, "-b", "999", "-u", url});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "No valid build 999\n");
    EXPECT_TRUE(contains(r.out, "Stored information for device [40F5849A]:\n")) << r.out;
}

}  // namespace
