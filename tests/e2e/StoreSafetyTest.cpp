// The store survives what happens to the program: "-G" and "-U" killed (SIGKILL) at arbitrary
// moments never leave a truncated ".settings" or ".bird", and a full disk or a read-only store
// ends in a clear error with nothing half-written.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <random>

#include "Eventually.h"
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

// Every "KEY=VALUE" line whole, the file ending with its newline.
bool settingsAreWhole(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    if (text.back() != '\n') {
        return false;
    }
    for (const std::string& line : lines(text)) {
        size_t equals = line.find('=');
        if (!line.empty() && (equals == std::string::npos || equals == 0)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class StoreSafety : public FirmwareFixture {
  protected:
    void prepare() override {
        bird = makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
    }

    // Starts Updater with args and kills it after delayMs.
    void killAfter(const std::vector<std::string>& args, int delayMs) {
        std::vector<std::string> full = {"-i", store.path()};
        full.insert(full.end(), args.begin(), args.end());
        zvtest::BackgroundProgram run(zvtest::updaterBinary(), full);
        usleep(static_cast<useconds_t>(delayMs) * 1000);
        kill(run.pid(), SIGKILL);
        run.stop();
    }

    // A run killed after it told the module to restart leaves the module rebooting for a while,
    // and a module that is rebooting is not found: waits until it listens again.
    bool moduleListens() {
        const std::string restarts = std::string(kSerial) + " restarts\n";
        const std::string back = std::string(kSerial) + " listens again\n";
        return zvtest::eventually([&] {
            std::string log = moduleLog();
            return appearances(log, restarts) == appearances(log, back);
        });
    }

    // What a killed run may leave: whole settings, whole BIRD files, hidden temporaries.
    void expectStoreWhole() {
        for (const std::string& name : filesIn(deviceDir())) {
            const std::string path = deviceFile(name);
            if (name == ".settings") {
                EXPECT_TRUE(settingsAreWhole(zvtest::readFile(path))) << zvtest::readFile(path);
            } else if (endsWith(name, ".bird")) {
                RunResult shown = zvtest::runProgram(zvtest::birdtoolBinary(), {"show", path});
                EXPECT_EQ(shown.exitCode, 0) << name << " is not a whole BIRD file: " << shown.err;
            } else {
                EXPECT_EQ(name.rfind(".", 0), 0u) << "unexpected file " << name;
            }
        }
    }

    // Runs Updater in a private mount namespace where the store is a tmpfs of sizeKiB, or
    // read-only when sizeKiB is 0.
    RunResult updaterOnSmallStore(const std::vector<std::string>& args, int sizeKiB) {
        std::string mount =
            sizeKiB > 0 ? "mount -t tmpfs -o size=" + std::to_string(sizeKiB) + "k zvfull \"$0\""
                        : "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro "
                          "\"$0\"";
        std::vector<std::string> full = {"-m",         "--propagation",
                                         "private",    "sh",
                                         "-c",         mount + " && exec \"$@\"",
                                         store.path(), zvtest::updaterBinary(),
                                         "-i",         store.path()};
        full.insert(full.end(), args.begin(), args.end());
        return zvtest::runProgram("/usr/bin/unshare", full);
    }
};

}  // namespace

TEST_F(StoreSafety, DownloadsKilledAtAnyMomentLeaveTheStoreWhole) {
    // Deliberate: files are written aside and renamed over, so a killed run leaves no half file.
    // The server answers slowly so that kills land before, during and after the file is written.
    url = startServer({"--delay-ms", "40"});
    std::mt19937 random(1300);
    for (int run = 0; run < 12; ++run) {
        int delayMs = std::uniform_int_distribution<int>(0, 400)(random);
        SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
        killAfter({"-G", "-d", kSerial, "-u", url}, delayMs);
        expectStoreWhole();
    }
    RunResult r = updater({"-G", "-d", kSerial, "-u", url});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectStoreWhole();
    EXPECT_TRUE(zvtest::readFile(deviceFile("1300.bird")) == zvtest::readFile(bird));
    EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n"));
    // Deliberate: temporaries a killed run left are removed at the next write of that file.
    // Temporaries of killed runs do not pile up: the next write of a file clears them.
    for (const std::string& name : filesIn(deviceDir())) {
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
    }
}

TEST_F(StoreSafety, UpdatesKilledAtAnyMomentLeaveTheStoreWholeAndTheModuleUpdatable) {
    // Deliberate: settings are written aside and renamed over, so a kill never truncates them.
    zvtest::runProgram("/bin/mkdir", {"-p", deviceDir()});
    zvtest::writeFile(deviceFile("1300.bird"), zvtest::readFile(bird));
    zvtest::writeFile(deviceFile(".settings"), "LATEST_DOWNLOAD=1300.bird\n");
    startModule();
    std::mt19937 random(1301);
    for (int run = 0; run < 8; ++run) {
        int delayMs = std::uniform_int_distribution<int>(0, 600)(random);
        SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
        killAfter({"-U", "-d", kSerial}, delayMs);
        expectStoreWhole();
    }
    // The module is still updatable after any number of abandoned transfers.
    ASSERT_TRUE(moduleListens()) << moduleLog();
    RunResult r = updater({"-U", "-d", kSerial});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err << moduleLog();
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=1300.bird\n")) << settings();
    expectStoreWhole();
    // Killed runs wrote no line or a whole one; the last is the update that ended.
    std::vector<std::string> history = lines(readIfThere(deviceFile(".history")));
    ASSERT_FALSE(history.empty());
    for (const std::string& line : history) {
        EXPECT_TRUE(nlohmann::json::parse(line, nullptr, false).is_object()) << line;
    }
    EXPECT_EQ(nlohmann::json::parse(history.back())["result"], "updated");
}

TEST_F(StoreSafety, FullDiskEndsInAClearErrorAndKeepsNothingHalfWritten) {
    // Deliberate: a build that could not be written fails the download and is not recorded.
    ZV_NEEDS(geteuid() == 0 ? "" : "mounting a small store needs root");
    // A build larger than the whole store.
    makeBird(builds + "/" + kSerial + "/1400.bird",
             std::string("block type=1 address=0x00004000 random=7 size=262144\n") +
                 "info build=1400 version=2.14.0 serial=" + kSerial + " model=Hub-4\n");
    url = startServer();
    RunResult r = updaterOnSmallStore({"-G", "-d", kSerial, "-u", url}, 64);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(contains(r.err, "Failed to write file")) << r.err;
}

TEST_F(StoreSafety, ReadOnlyStoreEndsInAClearErrorAndKeepsItsRecords) {
    // Deliberate: a build that could not be written fails the download; records stay as they were.
    ZV_NEEDS(geteuid() == 0 ? "" : "a read-only mount needs root");
    url = startServer();
    ASSERT_EQ(updater({"-G", "-d", kSerial, "-u", url}).exitCode, 0);
    const std::string before = settings();
    makeBuild(builds + "/" + kSerial + "/1400.bird", 1400, "2.14.0");
    RunResult r = updaterOnSmallStore({"-G", "-d", kSerial, "-u", url}, 0);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(contains(r.err, "Failed to write file")) << r.err;
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(zvtest::pathExists(deviceFile("1400.bird")));

    // An empty store that cannot even be prepared says where it looked.
    zvtest::TempDir empty;
    std::vector<std::string> args = {
        "-m",
        "--propagation",
        "private",
        "sh",
        "-c",
        "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" "
        "&& exec \"$@\"",
        empty.path(),
        zvtest::updaterBinary(),
        "-i",
        empty.path(),
        "-G",
        "-d",
        kSerial,
        "-u",
        url};
    RunResult unprepared = zvtest::runProgram("/usr/bin/unshare", args);
    EXPECT_EQ(unprepared.exitCode, 1);
    EXPECT_EQ(unprepared.err, "Could not find updater directory at " + empty.path() + "/updater\n");
}
