// "-l MESSAGE": the user's note is kept in the device's settings with a successful update, and
// only then.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

class TransferMessage : public FirmwareFixture {
  protected:
    void prepare() override { putInStore("1300.bird", zvtest::readFile(makeNewBuild())); }
    void setSettings(const std::string& text) { putInStore(".settings", text); }
};

TEST_F(TransferMessage, SuccessfulUpdateRecordsTheMessage) {
    setSettings("LATEST_DOWNLOAD=1300.bird\n");
    startModule();
    RunResult r = updater({"-U", "-d", kSerial, "-l", "Field fix #12 = done"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    std::string text = settings();
    EXPECT_TRUE(contains(text, "LATEST_TRANSFER=1300.bird\n")) << text;
    EXPECT_TRUE(contains(text, "LATEST_TRANSFER_MESSAGE=Field fix #12 = done\n")) << text;
    EXPECT_TRUE(contains(text, "LATEST_DOWNLOAD=1300.bird\n")) << text;
}

TEST_F(TransferMessage, LineBreaksInTheMessageBecomeBlanks) {
    setSettings("LATEST_DOWNLOAD=1300.bird\n");
    startModule();
    RunResult r = updater({"-U", "-d", kSerial, "-l", "  first\nsecond\r\nthird  "});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(settings(), "\nLATEST_TRANSFER_MESSAGE=first second  third\n"))
        << settings();
}

TEST_F(TransferMessage, FailedUpdateRecordsNothing) {
    const std::string before = "LATEST_DOWNLOAD=1300.bird\n";
    setSettings(before);
    // The module's loader refuses the first block: the update fails.
    startModule("prepare-status=3");
    RunResult r = updater({"-U", "-d", kSerial, "-l", "never recorded"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_FALSE(contains(settings(), "LATEST_TRANSFER")) << settings();
}

TEST_F(TransferMessage, UpdateWithoutMessageAddsNoKeyAndClearsAnOldNote) {
    setSettings("LATEST_DOWNLOAD=1300.bird\n");
    startModule();
    RunResult plain = updater({"-U", "-d", kSerial});
    ASSERT_EQ(plain.exitCode, 0) << plain.out << plain.err;
    EXPECT_FALSE(contains(settings(), "LATEST_TRANSFER_MESSAGE")) << settings();

    RunResult noted = updater({"-U", "-d", kSerial, "-l", "first note"});
    ASSERT_EQ(noted.exitCode, 0) << noted.out << noted.err;
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER_MESSAGE=first note\n")) << settings();

    // The note belonged to the earlier transfer.
    RunResult again = updater({"-U", "-d", kSerial});
    ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER_MESSAGE=\n")) << settings();
}

}  // namespace
