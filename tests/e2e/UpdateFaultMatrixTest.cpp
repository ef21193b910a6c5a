// "-U" with a fault at every phase of the exchange: the link closing before INIT, in
// the loader block, at LOAD, in each firmware block and at REBOOT; wrong sums, refused and lost
// replies; a silent module; a REBOOT that never arrives and a module that restarts into its old
// firmware; and "-G" from an update server that errs, stalls or sends a broken build. Whatever
// happens, a run ends in one of two states only: the module holds the new image (or the store the
// new build) and the store records it, or exactly one error line, exit 1, and the store's records
// as they were.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

// With the build below the module receives, in order: packets 1-4 the link's route and address
// queries and the model and serial queries, 5 INIT, 6-19 the loader block (prepare, 12 pieces,
// sum), 20 LOAD, 21-22 the queries after LOAD, 23-155 firmware block 1 (3000 bytes in three
// pieces, each with its sum and write), 156-223 block 2, 224 REBOOT. REBOOT has no reply and
// a dropped link proves nothing, so the host finds the module again and asks its build.
struct Fault {
    const char* name;
    const char* moduleKeys;                // added to the simulated module
    std::vector<std::string> serverKnobs;  // for "-G" runs; empty: "-U" from the store
    // A fault with only one right outcome: this error line. Whether the module restarted after
    // REBOOT then shows in its log.
    const char* onlyError = nullptr;
    bool restartsAfterReboot = false;
};

const char kStillOnBuild1000[] = "Module 40F5849A runs build 1000 after the update, expected 1300";

// An update finds build 1300 downloaded (the build it takes); a download finds only the record of
// an earlier one, and no 1300 in the store.
const std::string kRecordsBeforeUpdate =
    "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\nLATEST_DOWNLOAD=1300.bird\n"
    "LATEST_TRANSFER=1234.bird\n";
const std::string kRecordsBeforeDownload =
    "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\nLATEST_DOWNLOAD=1234.bird\n"
    "LATEST_TRANSFER=1234.bird\n";

class UpdateFaultMatrix : public FirmwareFixture, public ::testing::WithParamInterface<Fault> {
  protected:
    void SetUp() override {
        FirmwareFixture::SetUp();
        if (IsSkipped()) {
            return;
        }
        bird = makeBuild(work.file("1300.bird"), 1300, "2.13.0");
        zvtest::runProgram("/bin/mkdir", {"-p", deviceDir(), builds + "/" + kSerial});
        zvtest::writeFile(builds + "/" + std::string(kSerial) + "/1300.bird",
                          zvtest::readFile(bird));
        if (updating()) {
            zvtest::writeFile(deviceFile("1300.bird"), zvtest::readFile(bird));
        }
        zvtest::writeFile(deviceFile(".settings"), records());
    }

    bool updating() const { return GetParam().serverKnobs.empty(); }
    const std::string& records() const {
        return updating() ? kRecordsBeforeUpdate : kRecordsBeforeDownload;
    }

    RunResult runWithFault(const Fault& fault) {
        startModule(fault.moduleKeys);
        if (fault.serverKnobs.empty()) {
            return updater({"-U", "-d", kSerial});
        }
        server.reset();
        startServer(fault.serverKnobs);
        return updater({"-G", "-d", kSerial, "-u", url});
    }

    void expectEitherOutcome(const RunResult& r) {
        if (r.exitCode == 0 && !updating()) {
            EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n")) << settings();
            EXPECT_TRUE(zvtest::readFile(deviceFile("1300.bird")) == zvtest::readFile(bird));
            return;
        }
        if (r.exitCode == 0) {
            EXPECT_TRUE(flash() == expectedFlash(bird)) << "a successful run left a wrong image";
            EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=1300.bird\n")) << settings();
            EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\n")) << r.out;
            return;
        }
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(errorLines(r).size(), 1u) << r.err;
        EXPECT_EQ(settings(), records());
        // The build in the store is whole, or (a failed download) not there at all.
        if (updating()) {
            EXPECT_TRUE(zvtest::readFile(deviceFile("1300.bird")) == zvtest::readFile(bird));
        } else {
            EXPECT_FALSE(zvtest::pathExists(deviceFile("1300.bird")));
        }
    }

    // The one error line, and the simulator's own word that the fault fired at REBOOT: the
    // packet arrived, the module restarted or not, and nothing was committed to its flash.
    void expectOnlyTheError(const RunResult& r, const Fault& fault) {
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(errorLines(r), std::vector<std::string>{fault.onlyError}) << r.err;
        EXPECT_FALSE(contains(r.out, "Update time")) << r.out;
        EXPECT_EQ(settings(), records());
        const std::string log = moduleLog();
        EXPECT_TRUE(contains(log, "40F5849A < 04 02 5F 06\n")) << "no REBOOT reached the module";
        EXPECT_EQ(contains(log, "40F5849A restarts\n"), fault.restartsAfterReboot) << log.size();
        EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
    }

    std::string bird;
};

TEST_P(UpdateFaultMatrix, EndsWithTheNewImageOrOneErrorAndTheRecordsUntouched) {
    RunResult r = runWithFault(GetParam());
    if (updating()) {
        // The fault, not the set-up, decides the run: the build was loaded and the module asked.
        EXPECT_TRUE(contains(r.out, "Updating firmware with build: 1300\n")) << r.out << r.err;
    }
    if (GetParam().onlyError != nullptr) {
        expectOnlyTheError(r, GetParam());
        return;
    }
    expectEitherOutcome(r);
}

const Fault kFaults[] = {
    {"NoFault", "", {}},
    {"NoServerFault", "", {"--delay-ms", "10"}},
    {"LinkClosesAtTheFirstQuery", "disconnect-after=3", {}},
    {"LinkClosesAtInit", "disconnect-after=5", {}},
    {"LinkClosesAtTheLoaderPrepare", "disconnect-after=6", {}},
    {"LinkClosesInTheLoaderBlock", "disconnect-after=12", {}},
    {"LinkClosesAtTheLoaderSum", "disconnect-after=19", {}},
    {"LinkClosesAtLoad", "disconnect-after=20", {}},
    {"LinkClosesAtTheFirstFirmwarePrepare", "disconnect-after=23", {}},
    {"LinkClosesInFirmwareBlock1", "disconnect-after=90", {}},
    {"LinkClosesAtAFirmwareWrite", "disconnect-after=68", {}},
    {"LinkClosesInFirmwareBlock2", "disconnect-after=180", {}},
    {"LinkClosesAtTheLastWrite", "disconnect-after=223", {}},
    {"LinkDropsAtLoadAndComesBack", "drop-at-load", {}},
    {"LinkClosesAtReboot", "disconnect-after=224", {}},
    // Left in its loader, the module still reports the build it last committed.
    {"RebootLost", "lost-reboot", {}, kStillOnBuild1000, false},
    {"ModuleRestartsIntoItsOldBuild", "boots-old-build", {}, kStillOnBuild1000, true},
    {"WrongLoaderSum", "bad-sum=1", {}},
    {"WrongFirmwareSum", "bad-sum=4", {}},
    {"LostLoaderReply", "drop-reply=2", {}},
    {"LostFirmwareReply", "drop-reply=30", {}},
    {"OnePieceNotAccepted", "short-count=5", {}},
    {"NoPieceAccepted", "always-short", {}},
    {"SilentLoader", "silent-loader", {}},
    {"SilentModule", "silent", {}},
    {"RefusedPrepare", "prepare-status=3", {}},
    {"EveryFifthReplyLost", "drop-every=5", {}},
    // The reply to the model query is among the lost ones.
    {"EveryThirdReplyLost", "drop-every=3", {}},
    {"ServerErrs", "", {"--status", "500"}},
    {"ServerStallsOnTheBuild", "", {"--stall", "--fault-op", "bird"}},
    {"ServerCutsTheBuild", "", {"--cut", "200", "--fault-op", "bird"}},
    {"ServerTruncatesTheBuild", "", {"--truncate", "300", "--fault-op", "bird"}},
    {"ServerSaysNo", "", {"--bad-first-line", "--fault-op", "qu"}},
};

INSTANTIATE_TEST_SUITE_P(EveryPhase, UpdateFaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
