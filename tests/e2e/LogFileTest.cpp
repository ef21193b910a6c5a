// "-k FILE": the diagnostic log goes to the file as well as to standard error, appended run after
// run; a file that cannot be opened stops the run before any command.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

class LogFile : public FirmwareFixture {
  protected:
    void prepare() override {
        makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
        startServer();
    }
};

TEST_F(LogFile, FileReceivesTheSameLinesAsStandardError) {
    const std::string log = work.file("updater.log");
    // Store and server tracing; nothing of it is logged while the command line is read.
    RunResult r = updater({"-G", "-d", kSerial, "-u", url, "-X", "0x21", "-k", log});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(contains(r.err, "UpdaterStore: ")) << r.err;
    EXPECT_EQ(zvtest::readFile(log), r.err);
}

TEST_F(LogFile, LaterRunsAppend) {
    const std::string log = work.file("updater.log");
    zvtest::writeFile(log, "kept from before\n");
    RunResult first = updater({"-L", "-d", kSerial, "-X", "1", "-k", log});
    RunResult second = updater({"-G", "-d", kSerial, "-u", url, "-X", "1", "-k", log});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_EQ(second.exitCode, 0) << second.err;
    ASSERT_FALSE(second.err.empty());
    EXPECT_EQ(zvtest::readFile(log), "kept from before\n" + first.err + second.err);
}

TEST_F(LogFile, WithoutDebugBitsTheFileIsCreatedEmpty) {
    const std::string log = work.file("quiet.log");
    RunResult r = updater({"-L", "-d", kSerial, "-k", log});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(zvtest::pathExists(log));
    EXPECT_EQ(zvtest::readFile(log), "");
}

TEST_F(LogFile, FileThatCannotBeOpenedStopsTheRunBeforeAnyCommand) {
    const std::string log = work.file("no-such-directory/updater.log");
    RunResult r = updater({"-G", "-d", kSerial, "-u", url, "-k", log});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Updater (Version: 2.12.2 Mar 13 2026)\n");
    EXPECT_EQ(r.err, "Could not open log file " + log + ": No such file or directory\n");
    // "-G" did not run: nothing was stored, not even the store's root.
    EXPECT_FALSE(zvtest::pathExists(store.path() + "/updater"));
}

}  // namespace
