// The options beyond the command table's commands: "--json", "-k", "-l" and "-e" are read into
// the parameters, and "--json" moves info lines off standard output.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "CLI_Display.h"
#include "CaptureOutput.h"
#include "Log.h"
#include "Parameters.h"

namespace {

struct Parsed {
    int rc;
    Parameters params;
    std::string errors;
};

Parsed parse(std::initializer_list<const char*> words) {
    std::vector<std::string> store{"Updater"};
    store.insert(store.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (auto& word : store) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    CLI_Display display;
    Parsed result;
    CaptureOutput err(stderr);
    result.rc = _get_params(display, static_cast<int>(store.size()), argv.data(), &result.params);
    result.errors = err.text();
    Log::DeactivatePackage(0xFFFFFFFF);
    return result;
}

TEST(ExtraOptions, JsonIsOffUnlessGiven) {
    Parsed plain = parse({"-D"});
    EXPECT_EQ(plain.rc, 0);
    EXPECT_FALSE(plain.params.jsonOutput);

    Parsed json = parse({"-D", "--json"});
    EXPECT_EQ(json.rc, 0);
    EXPECT_EQ(json.errors, "");
    EXPECT_TRUE(json.params.jsonOutput);
    EXPECT_TRUE(json.params.commands.IsSet(CMD_DISCOVER));
}

TEST(ExtraOptions, JsonIsMatchedExactly) {
    // Options are matched whole and case-sensitively: these are words that are not options.
    Parsed r = parse({"-B", "--JSON", "--jso", "-json"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_FALSE(r.params.jsonOutput);
}

TEST(ExtraOptions, JsonAfterHelpIsNotRead) {
    Parsed r = parse({"-h", "--json"});
    EXPECT_TRUE(r.params.helpRequested);
    EXPECT_FALSE(r.params.jsonOutput);
}

TEST(ExtraOptions, LogFileIsMarkedGivenOnlyByK) {
    Parsed plain = parse({"-I"});
    EXPECT_FALSE(plain.params.logFileGiven);
    EXPECT_EQ(plain.params.logFileName, "Updater.log");
    EXPECT_EQ(plain.params.logFileMode, "a+");

    Parsed given = parse({"-I", "-k", "run.log"});
    EXPECT_TRUE(given.params.logFileGiven);
    EXPECT_EQ(given.params.logFileName, "run.log");
}

TEST(ExtraOptions, KWithoutItsFileIsSkippedSilently) {
    Parsed r = parse({"-I", "-k"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_FALSE(r.params.logFileGiven);
}

TEST(ExtraOptions, MessageAndEchoAreRecorded) {
    Parsed r = parse({"-U", "-d", "40F5849A", "-l", "field fix 12", "-e"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.params.historyLogMessage, "field fix 12");
    EXPECT_TRUE(r.params.echoDuringRecovery);
}

TEST(ExtraOptions, EveryModuleWithJobsAndAWait) {
    Parsed plain = parse({"-U", "-d", "40F5849A"});
    EXPECT_FALSE(plain.params.updateAll);
    EXPECT_EQ(plain.params.jobs, 1u);
    EXPECT_FALSE(plain.params.lockWaitGiven);
    EXPECT_EQ(plain.params.lockWaitSeconds, 0u);

    Parsed all = parse({"-U", "-a", "-j", "3", "-w", "0"});
    EXPECT_EQ(all.rc, 0);
    EXPECT_EQ(all.errors, "");
    EXPECT_TRUE(all.params.updateAll);
    EXPECT_EQ(all.params.jobs, 3u);
    EXPECT_TRUE(all.params.lockWaitGiven);
    EXPECT_EQ(all.params.lockWaitSeconds, 0u);

    // Every bad number is reported, and the command line refused.
    Parsed bad = parse({"-U", "-a", "-j", "0", "-w", "5s", "-j", "x"});
    EXPECT_NE(bad.rc, 0);
    EXPECT_EQ(bad.errors,
              "Invalid number of jobs [0]: give a whole number from 1\n"
              "Invalid wait [5s]: give whole seconds\n"
              "Invalid number of jobs [x]: give a whole number from 1\n");
}

TEST(JsonDisplay, InfoLinesGoToStandardErrorOnceDiverted) {
    CLI_Display display;
    CaptureOutput out(stdout);
    CaptureOutput err(stderr);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "before %d", 1);
    display.divert_info_to_stderr();
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "after %d", 2);
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "failed %d", 3);
    std::string errors = err.text();
    EXPECT_EQ(out.text(), "before 1\n");
    EXPECT_EQ(errors, "after 2\nfailed 3\n");
}

}  // namespace
