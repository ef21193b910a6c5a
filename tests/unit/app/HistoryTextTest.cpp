// What the module history looks like from the command line: the command line it records, the
// line "-I -d" shows for an attempt, and which attempts it shows.
#include <gtest/gtest.h>

#include "CLI_Display.h"
#include "CaptureOutput.h"
#include "CommandLineText.h"
#include "HistoryText.h"
#include "OutputFormats.h"

namespace {

TEST(CommandLineText, ArgumentsAShellWouldSplitOrExpandAreQuoted) {
    struct Case {
        std::vector<const char*> argv;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"Updater", "-U", "-d", "40F5849A", "-u", "http://127.0.0.1:8080/cgi/u"},
         "Updater -U -d 40F5849A -u http://127.0.0.1:8080/cgi/u"},
        {{"/usr/bin/Updater", "-l", "new build"}, "/usr/bin/Updater -l 'new build'"},
        {{"Updater", "-l", "it's"}, "Updater -l 'it'\\''s'"},
        {{"Updater", "-l", ""}, "Updater -l ''"},
        {{"Updater", "-f", "$HOME/*.bird"}, "Updater -f '$HOME/*.bird'"},
        {{"Updater", "-l", "two\nlines"}, "Updater -l 'two\nlines'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_command_line_text(static_cast<int>(c.argv.size()), c.argv.data()), c.text);
    }
}

HistoryEntry attempt(unsigned number) {
    HistoryEntry e;
    e.time = "2026-12-10T18:" + std::to_string(10 + number) + ":00Z";
    e.host = "line-3";
    e.user = "operator";
    e.link = "TCP";
    e.buildBefore = 1000;
    e.buildAfter = 1300;
    e.file = "/home/operator/.pelmorax/updater/40F5849A/1300.bird";
    e.result = "updated";
    e.seconds = 41.25;
    return e;
}

TEST(HistoryText, OneLineWithDashesForWhatTheAttemptDidNotLearn) {
    HistoryEntry routed = attempt(1);
    routed.link = "I2C";
    routed.routerSerial = 0x00C0FFEE;
    routed.message = "shift 2\nline 3";
    EXPECT_EQ(_history_line_text(routed),
              "2026-12-10T18:11:00Z  updated  I2C via 00C0FFEE  1000 -> 1300  41.2 s  "
              "operator@line-3  1300.bird  \"shift 2 line 3\"");
    HistoryEntry failed;
    failed.time = "2026-12-10T18:30:00Z";
    failed.result = "failed";
    failed.error = "Failed to connect to module [40F5849A]";
    failed.seconds = 2;
    EXPECT_EQ(_history_line_text(failed),
              "2026-12-10T18:30:00Z  failed  -  - -> -  2.0 s  -@-  -  "
              "error: Failed to connect to module [40F5849A]");
}

std::string shown(size_t attempts, bool historyEntries) {
    StoredDevice device;
    device.name = "40F5849A";
    device.directory = "/store/40F5849A";
    for (size_t i = 0; i < attempts; ++i) {
        device.history.push_back(attempt(static_cast<unsigned>(i)));
    }
    CLI_Display display;
    CaptureOutput out(stdout);
    _display_stored_info(display, {device}, historyEntries);
    return out.text();
}

TEST(HistoryText, InfoShowsTheLastTenNewestLastAndWithoutDOnlyTheCount) {
    const std::string before =
        "Stored information for device [40F5849A]:\n    Directory: /store/40F5849A\n"
        "    Settings: none\n    Stored builds: none\n";
    EXPECT_EQ(shown(0, true), before);  // as it was before there were histories
    EXPECT_EQ(shown(12, false), before + "    History: 12 entries\n");
    EXPECT_EQ(shown(1, false), before + "    History: 1 entry\n");
    std::string expected = before + "    History: 12 entries, the last 10:\n";
    for (unsigned i = 2; i < 12; ++i) {
        expected += "        " + _history_line_text(attempt(i)) + "\n";
    }
    EXPECT_EQ(shown(12, true), expected);
    EXPECT_EQ(shown(2, true), before + "    History: 2 entries\n        " +
                                  _history_line_text(attempt(0)) + "\n        " +
                                  _history_line_text(attempt(1)) + "\n");
}

}  // namespace
