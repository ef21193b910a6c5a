#include <gtest/gtest.h>

#include <string>

#include "CLI_Display.h"
#include "CaptureOutput.h"
#include "Log.h"

namespace {

// A console whose standard output counts as a terminal, so progress is drawn.
class TerminalDisplay : public CLI_Display {
  protected:
    bool drawsProgress() const override { return true; }
};

std::string bar(int filled, int padding) {
    return "[" + std::string(filled, '=') + ">" + std::string(padding, ' ') + "]";
}

TEST(CLIDisplay, ProgressBarWithoutLabel) {
    TerminalDisplay display;
    CaptureOutput out(stdout);
    display.update_progress(0.0, nullptr);
    display.update_progress(0.5, nullptr);
    display.update_progress(1.0, nullptr);
    EXPECT_EQ(out.text(), "\r" + bar(0, 68) + " (  0% ) " +       //
                              "\r" + bar(34, 34) + " ( 50% ) " +  //
                              // At 100% printf reads the width -1 as a left-justified width of 1.
                              "\r" + bar(69, 1) + " (100% ) ");
}

TEST(CLIDisplay, ProgressBarWithLabelShrinksTheBar) {
    TerminalDisplay display;
    CaptureOutput out(stdout);
    display.update_progress(0.25, "Loading");  // width 69 - 7 - 4 = 58, 14 filled
    EXPECT_EQ(out.text(), "\r (Loading) " + bar(14, 43) + " ( 25% ) ");
}

TEST(CLIDisplay, SpinnerCyclesThroughEightFramesAndClears) {
    TerminalDisplay display;
    CaptureOutput out(stdout);
    const char* frames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};
    std::string expected;
    for (int i = 0; i < 9; ++i) {
        display.update_spinner(true, i == 8 ? nullptr : "Downloading");
        expected += i == 8 ? std::string("\r ") + frames[0] + "      \r"
                           : std::string("\r (Downloading) ") + frames[i] + "      \r";
    }
    display.update_spinner(false, "Downloading");
    display.display_progress(true);
    display.display_progress(false);
    std::string clear = "\r" + std::string(88, ' ') + "\r";
    EXPECT_EQ(out.text(), expected + clear + clear);
}

TEST(CLIDisplay, NothingIsDrawnWhenOutputIsNotATerminal) {
    CLI_Display display;  // stdout is a file while captured
    CaptureOutput out(stdout);
    display.display_progress(true);
    display.update_progress(0.5, nullptr);
    display.update_spinner(true, "Downloading");
    display.update_spinner(false, "Downloading");
    display.display_progress(false);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "still %s", "shown");
    EXPECT_EQ(out.text(), "still shown\n");
}

TEST(CLIDisplay, LevelsGoToTheirStreams) {
    CLI_Display display;
    CaptureOutput err(stderr);
    CaptureOutput out(stdout);
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "bad %d", 7);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "good");
    display.message(static_cast<UpdaterDisplayInterface::Level>(5), "other");
    EXPECT_EQ(out.text(), "good\nother\n");
    EXPECT_EQ(err.text(), "bad 7\n");
}

TEST(CLIDisplay, WarningsGoToStandardErrorAndAreNoErrors) {
    CLI_Display display;
    CaptureOutput err(stderr);
    CaptureOutput out(stdout);
    display.message(UpdaterDisplayInterface::LEVEL_WARNING, "careful %d", 3);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(err.text(), "Warning: careful 3\n");
    // Neither an explained failure nor a line of the "--json" document's "error".
    EXPECT_EQ(display.errors_shown(), 0u);
    EXPECT_TRUE(display.take_error_lines().empty());
}

TEST(CLIDisplay, MutingSilencesMessagesButNotProgress) {
    TerminalDisplay display;
    CaptureOutput out(stdout);
    display.mute_messages(true);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "hidden");
    display.update_progress(1.0, nullptr);
    display.mute_messages(false);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "back");
    EXPECT_EQ(out.text(), "\r" + bar(69, 1) + " (100% ) back\n");
}

TEST(CLIDisplay, LongMessagesAreCutAt2047Bytes) {
    CLI_Display display;
    CaptureOutput out(stdout);
    std::string big(5000, 'x');
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "%s", big.c_str());
    EXPECT_EQ(out.text(), std::string(2047, 'x') + "\n");
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sink = tmpfile();
        Log::SetOutput(sink);
        Log::DeactivatePackage(0xFFFFFFFF);
    }
    void TearDown() override {
        Log::DeactivatePackage(0xFFFFFFFF);
        Log::SetOutput(nullptr);
        fclose(sink);
    }
    std::string written() { return zvtest::readStream(sink); }
    FILE* sink = nullptr;
};

TEST_F(LogTest, WritesOnlySelectedBitsAndAlwaysMaskZero) {
    Log::ActivatePackage(DEBUG_BirdFile | DEBUG_APP);
    Log::log(DEBUG_Updater, "updater\n");
    Log::log(DEBUG_BirdFile, "bird %d\n", 1);
    Log::log(DEBUG_Updater | DEBUG_APP, "either\n");
    Log::log(0, "always");
    Log::DeactivatePackage(DEBUG_BirdFile);
    Log::log(DEBUG_BirdFile, "bird again\n");
    EXPECT_EQ(written(), "bird 1\neither\nalways");
}

TEST_F(LogTest, TheTwoNetworkBitsAreDistinct) {
    Log::ActivatePackage(DEBUG_Network);
    Log::log(DEBUG_Network_Reserved, "reserved\n");
    Log::log(DEBUG_Network, "reconnect\n");
    EXPECT_EQ(written(), "reconnect\n");
}

TEST_F(LogTest, NoOutputStreamWritesNothing) {
    Log::SetOutput(nullptr);
    Log::log(0, "lost\n");
    Log::SetOutput(sink);
    EXPECT_EQ(written(), "");
}

}  // namespace
