// The module history as users meet it: each "-U" against the module simulator, succeeding,
// failing or refused because another Updater holds the module, leaves one JSON line in the
// store's ".history" of the module, which "-I -d" shows and "--json -I -d" lists; "-D" and the
// listings of builds leave it alone.
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"
#include "ModuleLock.h"

using namespace firmwaretest;
using nlohmann::json;
using zvtest::RunResult;

namespace {

class History : public FirmwareFixture {
  protected:
    void prepare() override {
        putInStore("1300.bird", zvtest::readFile(makeNewBuild()));
        putInStore(".settings", "LATEST_DOWNLOAD=1300.bird\n");
    }
    std::string historyPath() const { return deviceFile(".history"); }
    // Every line of the history, each of which must be one whole JSON object.
    std::vector<json> entries() const {
        std::vector<json> parsed;
        for (const std::string& line : lines(readIfThere(historyPath()))) {
            parsed.push_back(json::parse(line));
            EXPECT_TRUE(parsed.back().is_object()) << line;
        }
        return parsed;
    }
    // What sha256sum says of the file.
    static std::string sha256sum(const std::string& path) {
        RunResult r = zvtest::runProgram("/usr/bin/sha256sum", {path});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out.substr(0, r.out.find(' '));
    }
    static std::string oneDecimal(double value) {
        char text[32];
        snprintf(text, sizeof text, "%.1f", value);
        return text;
    }
    static std::string utcNow() {
        const time_t now = time(nullptr);
        struct tm utc;
        gmtime_r(&now, &utc);
        char text[32];
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
        return text;
    }
};

TEST_F(History, SuccessfulUpdateRecordsWhoWhatWhereAndTheFilesDigest) {
    startModule();
    const std::string before = utcNow();
    RunResult r = updater({"-U", "-d", kSerial, "-l", "line 7's new 'build'"});
    const std::string after = utcNow();
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<json> history = entries();
    ASSERT_EQ(history.size(), 1u);
    const json& entry = history[0];
    EXPECT_EQ(entry["result"], "updated");
    EXPECT_EQ(entry["serial"], kSerial);
    EXPECT_EQ(entry["error"], nullptr);
    EXPECT_EQ(entry["router_serial"], nullptr);
    EXPECT_EQ(entry["file"], deviceFile("1300.bird"));
    EXPECT_EQ(entry["file_sha256"], sha256sum(deviceFile("1300.bird")));
    EXPECT_EQ(entry["message"], "line 7's new 'build'");
    EXPECT_EQ(entry["version"], "2.12.2");
    // The command line as a shell reads it back: the note is one quoted word.
    EXPECT_EQ(entry["command"], zvtest::updaterBinary() + " -i " + store.path() + " -U -d " +
                                    kSerial + " -l 'line 7'\\''s new '\\''build'\\'''");
    EXPECT_GT(entry["seconds"].get<double>(), 0.0);
    // ISO 8601 in UTC sorts as text.
    const std::string time = entry["time"];
    EXPECT_TRUE(before <= time && time <= after) << before << " " << time << " " << after;
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(entry["host"], host);
    EXPECT_EQ(entry["user"], getpwuid(getuid())->pw_name);

    // The history is no build to the listings.
    RunResult local = updater({"--json", "-L", "-d", kSerial});
    ASSERT_EQ(local.exitCode, 0) << local.err;
    EXPECT_EQ(json::parse(local.out)["builds"],
              json::array({{{"name", "1300"}, {"build", 1300}, {"version", "2.13.0"}}}));
    RunResult info = updater({"--json", "-I", "-d", kSerial});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(
        json::parse(info.out)["devices"][0]["builds"],
        json::array(
            {{{"file", "1300.bird"}, {"readable", true}, {"build", 1300}, {"version", "2.13.0"}}}));
}

TEST_F(History, FailedUpdateRecordsExactlyTheErrorLineShownAndDNothing) {
    // Past the module queries and the loader, inside the first firmware block.
    startModule("disconnect-after=80");
    RunResult failed = updater({"-U", "-d", kSerial});
    ASSERT_EQ(failed.exitCode, 1) << failed.out;
    ASSERT_EQ(errorLines(failed).size(), 1u) << failed.err;
    ASSERT_TRUE(contains(failed.err, "Firmware update failed")) << failed.err;
    std::vector<json> history = entries();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0]["result"], "failed");
    EXPECT_EQ(history[0]["error"], errorLines(failed)[0]);
    EXPECT_EQ(history[0]["file"], deviceFile("1300.bird"));
    EXPECT_EQ(history[0]["message"], nullptr);

    const std::string recorded = zvtest::readFile(historyPath());
    RunResult listed = updater({"-D", "-t", "TCP"});
    EXPECT_TRUE(contains(listed.out, kSerial)) << listed.out;
    EXPECT_EQ(zvtest::readFile(historyPath()), recorded);
}

TEST_F(History, UpdateThroughARouterRecordsTheRouterAndTheBusLink) {
    startModuleBehindRouter();
    ASSERT_FALSE(HasFailure());
    RunResult r = updater({"-U", "-d", kSerial, "-r", "00C0FFEE"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<json> history = entries();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0]["link_type"], "I2C");
    EXPECT_EQ(history[0]["router_serial"], "00C0FFEE");
    EXPECT_EQ(history[0]["result"], "updated");
    // Only the module's history: the router was not updated.
    EXPECT_FALSE(zvtest::pathExists(store.path() + "/updater/00C0FFEE/.history"));
}

TEST_F(History, InfoShowsTheLatestEntriesAndJsonListsThemAll) {
    startModule();
    ASSERT_EQ(updater({"-U", "-d", kSerial, "-f", work.file("missing.bird")}).exitCode, 1);
    ASSERT_EQ(updater({"-U", "-d", kSerial, "-l", "second"}).exitCode, 0);
    const std::vector<json> history = entries();
    ASSERT_EQ(history.size(), 2u);

    RunResult text = updater({"-I", "-d", kSerial});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    std::vector<std::string> shown = lines(text.out);
    ASSERT_GE(shown.size(), 3u) << text.out;
    const std::string user = getpwuid(getuid())->pw_name;
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(shown[shown.size() - 3], "    History: 2 entries");
    EXPECT_EQ(shown[shown.size() - 2],
              "        " + history[0]["time"].get<std::string>() + "  no_build  -  - -> -  " +
                  oneDecimal(history[0]["seconds"]) + " s  " + user + "@" + host +
                  "  missing.bird  error: Failed to load bird file");
    // A plain update does not ask the module's build before (only "--skip-current" and "-n" do).
    EXPECT_TRUE(contains(shown.back(), "  updated  TCP  - -> 1300  ")) << shown.back();
    EXPECT_TRUE(contains(shown.back(), "  1300.bird  \"second\"")) << shown.back();

    RunResult every = updater({"-I"});
    EXPECT_EQ(lines(every.out).back(), "    History: 2 entries") << every.out;

    RunResult document = updater({"--json", "-I", "-d", kSerial});
    ASSERT_EQ(document.exitCode, 0) << document.err;
    const json device = json::parse(document.out)["devices"][0];
    EXPECT_EQ(device["history_count"], 2);
    EXPECT_EQ(device["history"], json(history));
}

TEST_F(History, AttemptAtAModuleAnotherUpdaterHoldsGoesOnlyIntoAHistoryThatIsThere) {
    startModule();
    const std::string storeRoot = store.path() + "/updater";
    ModuleLock held(MACHINE_LOCK_DIRECTORY, storeRoot, 0x40F5849A);
    ASSERT_TRUE(held.held());
    RunResult refused = updater({"-U", "-d", kSerial});
    ASSERT_EQ(refused.exitCode, 1);
    const std::string busy = "Module 40F5849A is being updated by another Updater (process " +
                             std::to_string(getpid()) + ")";
    ASSERT_EQ(errorLines(refused), std::vector<std::string>{busy});
    std::vector<json> history = entries();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0]["result"], "busy");
    EXPECT_EQ(history[0]["error"], busy);

    // A module the store does not know gets no directory for a refused attempt.
    ModuleLock other(MACHINE_LOCK_DIRECTORY, storeRoot, 0x1A2B3C4D);
    ASSERT_TRUE(other.held());
    EXPECT_EQ(updater({"-U", "-d", "1A2B3C4D", "-f", bird}).exitCode, 1);
    EXPECT_FALSE(zvtest::pathExists(storeRoot + "/1A2B3C4D"));
}

TEST_F(History, ModuleThatNeverAnswersGetsNoDirectoryForItsFailure) {
    // No module 1A2B3C4D anywhere: a mistyped serial number must not appear in the store.
    startModule();
    RunResult r = updater({"-U", "-d", "1A2B3C4D", "-f", bird});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(errorLines(r), std::vector<std::string>{"Failed to connect to module [1A2B3C4D]"});
    EXPECT_FALSE(zvtest::pathExists(store.path() + "/updater/1A2B3C4D"));
    // Without "-d" there is no module to keep a history for.
    EXPECT_EQ(updater({"-U", "-f", bird}).exitCode, 1);
    EXPECT_FALSE(zvtest::pathExists(historyPath()));
}

}  // namespace
