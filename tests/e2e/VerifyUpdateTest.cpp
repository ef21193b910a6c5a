// "-U" ends in success only once the module, found again the way it was updated, reports the
// build of the file it was sent: directly over TCP/IP and through a router here (USB and the
// i.MX recovery in their own tests).
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kBehindRouter =
    std::string("serial=") + kSerial + ",model=3,address=8,version=2.11.0,build=1000,name=Behind";

class VerifyUpdate : public FirmwareFixture {
  protected:
    void prepare() override { makeNewBuild(); }

    // A router 00C0FFEE on TCP/IP with module kSerial behind it at address 8.
    void startRouterWithModuleBehind(const std::string& keys) {
        module = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::modulesimBinary(),
            std::vector<std::string>{
                "--duration", "120", "--log", "--module",
                "serial=00C0FFEE,model=5,address=2,version=2.11.0,build=900,name=Router,"
                "tcp=10.77.0.2:0",
                "--module",
                kBehindRouter + ",flash=" + work.file("flash.bin") + ",behind=00C0FFEE" +
                    (keys.empty() ? "" : "," + keys)},
            work.file("module.log"));
        ASSERT_TRUE(module->waitReady());
    }

    // The module was asked its build (system option 43) after it restarted.
    bool askedForTheBuildAfterRestart(const std::string& address) {
        const std::string log = moduleLog();
        size_t restart = log.find(std::string(kSerial) + " restarts\n");
        return restart != std::string::npos &&
               log.find(std::string(kSerial) + " < " + address + " 03 03 6B 20\n", restart) !=
                   std::string::npos;
    }
};

}  // namespace

TEST_F(VerifyUpdate, UpdatePrintsWhatItVerifiedAndRecordsTheTransfer) {
    // Deliberate: after REBOOT the module is found again and its build read: success is proven.
    startModule();
    RunResult r = updater({"-U", "-d", kSerial, "-f", bird});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\nUpdate time: "))
        << r.out;
    EXPECT_TRUE(askedForTheBuildAfterRestart("04")) << moduleLog();
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=" + bird + "\n")) << settings();
    EXPECT_TRUE(contains(settings(), "LAST_TRANSFER_DATE=")) << settings();
}

TEST_F(VerifyUpdate, FileWithoutAnInformationBlockOnlyNeedsTheModuleBack) {
    // Deliberate: without a build to compare, the module must still come back after REBOOT.
    zvtest::writeFile(work.file("plain.fw"), zvtest::readFile(bird + ".fw1"));
    std::string plain = makeBird(work.file("plain.bird"),
                                 "block type=0 address=0x10000000 random=5 size=300\n"
                                 "block type=1 address=0x00004000 file=plain.fw\n");
    startModule("boots-old-build");
    // Nothing to compare the module's build with: back on its old one is back.
    RunResult r = updater({"-U", "-d", kSerial, "-f", plain, "-OVERRIDE"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A is back\nUpdate time: ")) << r.out;
    EXPECT_TRUE(askedForTheBuildAfterRestart("04")) << moduleLog();
}

TEST_F(VerifyUpdate, ModuleBehindARouterIsVerifiedThroughIt) {
    // Deliberate: a routed module is looked for again through its router and its build read.
    startRouterWithModuleBehind("");
    RunResult r = updater({"-U", "-d", kSerial, "-r", "00C0FFEE", "-f", bird});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\nUpdate time: "))
        << r.out;
    EXPECT_TRUE(askedForTheBuildAfterRestart("08")) << moduleLog();
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
}

TEST_F(VerifyUpdate, LostRebootBehindARouterIsOneErrorLine) {
    // Deliberate: a module still on its old build after REBOOT fails the update, nothing recorded.
    // The router's link never drops, so only asking the module shows it never restarted.
    startRouterWithModuleBehind("lost-reboot");
    zvtest::runProgram("/bin/mkdir", {"-p", deviceDir()});
    const std::string before = "LATEST_TRANSFER=1234.bird\n";
    zvtest::writeFile(deviceFile(".settings"), before);
    RunResult r = updater({"-U", "-d", kSerial, "-r", "00C0FFEE", "-f", bird});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(errorLines(r), std::vector<std::string>{"Module 40F5849A runs build 1000 after the "
                                                      "update, expected 1300"})
        << r.err;
    EXPECT_EQ(settings(), before);
    const std::string log = moduleLog();
    EXPECT_TRUE(contains(log, std::string(kSerial) + " < 08 02 5F 06\n")) << "no REBOOT arrived";
    EXPECT_FALSE(contains(log, std::string(kSerial) + " restarts\n"));
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
}
