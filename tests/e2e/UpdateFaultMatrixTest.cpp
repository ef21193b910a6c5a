// "-U" with a fault at every phase of the exchange: the link closing before INIT, in the loader
// block, at LOAD, in each firmware block and at REBOOT; wrong sums, refused and lost replies; a
// silent module; a REBOOT that never arrives and a module that restarts into its old firmware.
// Each fault has one outcome: the module holds the new image and the store records it, after the
// retries the fault needs, or exactly this error line, exit 1, nothing committed to the module's
// flash and the store's records as they were. The module simulator's own log shows that the
// fault fired on the request its name says.
#include "FaultSite.h"
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

// With the build below the module receives, in order (the host's heartbeat answers and its
// sync/identify requests are not counted, as their number depends on timing): 1 the link's
// route, 2 the serial number and 3 the model queries, 4 INIT, 5-18 the loader block (PREPARE, 12
// DATA, SUM), 19 LOAD, 20-21 the UEI-data and protocol-feature queries after LOAD, 22-154
// firmware block 1 (PREPARE at 22, then three pieces of 1024, 1024 and 952 bytes, each sent as
// one UEI byte sequence and followed by its SUM and WRITE: SUMs at 66, 111 and 153, WRITEs at 67,
// 112 and 154), 155-222 block 2 (PREPARE at 155, SUMs at 199 and 221, WRITEs at 200 and 222),
// 223 REBOOT. The loader's command-95 replies are, in order: INIT, PREPARE, 12 DATA, SUM, LOAD,
// then per firmware block PREPARE and per piece the byte sequence's acknowledgement, SUM and
// WRITE.
struct Fault {
    const char* name;
    const char* moduleKeys;  // added to the simulated module
    // The run's one error line; nullptr: the update succeeds.
    const char* error;
    int retries;  // the last "  Retry N" line the run prints; 0: none
    // The simulator's log line that shows the fault, how often it shows, and the request it
    // first fired on (its number and first bytes).
    const char* mark;
    size_t firings;
    size_t atRequest;
    const char* request;
    // The request the host sends next, when that is the recovery the fault calls for.
    const char* nextRequest = nullptr;
};

const char kStillOnBuild1000[] = "Module 40F5849A runs build 1000 after the update, expected 1300";
const char kTimeout[] = "Firmware update failed [18, qErrTimeout]";
const char kNoReply[] = "Firmware update failed [24, qErrPacket]";
const char kRefused[] = "Firmware update failed [29, qErrInvalidOption]";
const char kNotValidated[] = "Birdfile failed validation";

const char kClosed[] = "disconnects on purpose";
const char kSerialQuery[] = "04 03 03 49 20";
const char kModelQuery[] = "04 03 03 48 20";
const char kInit[] = "04 02 5F 00";
const char kLoaderPrepare[] = "04 07 5F 03 00 10 00 00 00";
const char kLoaderData[] = "04 1C 5F 01";
const char kSum[] = "04 02 5F 04";
const char kLoad[] = "04 02 5F 02";
const char kBlock1Prepare[] = "04 07 5F 03 00 00 00 40 00";
const char kBlock2Prepare[] = "04 07 5F 03 00 00 00 50 00";
const char kFirmwareData[] = "04 1C 5F 8A";
const char kWrite[] = "04 04 5F 05";
const char kReboot[] = "04 02 5F 06";
const char kSameAgain[] = "the same request again";

// Failure messages name the row, not its bytes.
void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

std::string retryLine(int attempt) {
    return "  Retry " + std::to_string(attempt) + "\n";
}

class UpdateFaultMatrix : public FirmwareFixture, public ::testing::WithParamInterface<Fault> {
  protected:
    void prepare() override {
        putInStore("1300.bird", zvtest::readFile(makeNewBuild()));
        putInStore(".settings", kEarlierTransfer);
    }

    void expectTheNewImage(const RunResult& r) {
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(errorLines(r), std::vector<std::string>{}) << r.err;
        EXPECT_TRUE(flash() == expectedFlash(bird)) << "a successful run left a wrong image";
        EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=1300.bird\n")) << settings();
        // Deliberate: success is claimed only once the module, found again, runs the new build.
        EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\n")) << r.out;
    }

    // The one error line; the module's flash never committed, the store's records untouched and
    // the build in the store whole.
    void expectTheError(const RunResult& r, const char* error) {
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        // Deliberate: every failed update ends in exactly one error line for the user.
        EXPECT_EQ(errorLines(r), std::vector<std::string>{error}) << r.err;
        EXPECT_FALSE(contains(r.out, "Update time")) << r.out;
        EXPECT_EQ(settings(), kEarlierTransfer);
        EXPECT_TRUE(zvtest::readFile(deviceFile("1300.bird")) == zvtest::readFile(bird));
        EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "the module committed";
    }

    void expectTheRetries(const RunResult& r, int retries) {
        if (retries > 0) {
            EXPECT_TRUE(contains(r.out, retryLine(retries))) << r.out;
        }
        EXPECT_FALSE(contains(r.out, retryLine(retries + 1))) << r.out;
    }

    void expectTheFaultFired(const Fault& fault) {
        const std::string log = moduleLog();
        FaultSite site = findFault(log, fault.mark);
        ASSERT_GT(site.firings, 0u) << "no \"" << fault.mark << "\" in the module's log";
        EXPECT_EQ(site.firings, fault.firings) << fault.mark;
        EXPECT_EQ(site.request, fault.atRequest) << site.requestLine;
        EXPECT_EQ(site.requestLine.rfind(fault.request, 0), 0u) << site.requestLine;
        if (fault.nextRequest == kSameAgain) {
            EXPECT_EQ(site.nextRequest, site.requestLine);
        } else if (fault.nextRequest != nullptr) {
            EXPECT_EQ(site.nextRequest.rfind(fault.nextRequest, 0), 0u) << site.nextRequest;
        }
    }
};

TEST_P(UpdateFaultMatrix, EndsWithItsOneOutcome) {
    const Fault& fault = GetParam();
    startModule(fault.moduleKeys);
    RunResult r = updater({"-U", "-d", kSerial});
    // The fault, not the set-up, decides the run: the build was loaded and the module asked.
    EXPECT_TRUE(contains(r.out, "Updating firmware with build: 1300\n")) << r.out << r.err;
    if (fault.error == nullptr) {
        expectTheNewImage(r);
    } else {
        expectTheError(r, fault.error);
    }
    expectTheRetries(r, fault.retries);
    expectTheFaultFired(fault);
}

const Fault kFaults[] = {
    // The control: the module restarts on REBOOT, into the new build.
    {"NoFault", "", nullptr, 0, "restarts", 1, 223, kReboot},
    {"LinkClosesAtTheFirstQuery", "disconnect-after=2", kNotValidated, 0, kClosed, 1, 2,
     kSerialQuery},
    {"LinkClosesAtInit", "disconnect-after=4", kTimeout, 0, kClosed, 1, 4, kInit},
    // A PREPARE of the loader that goes unanswered is passed over; its first DATA is not.
    {"LinkClosesAtTheLoaderPrepare", "disconnect-after=5", kNoReply, 0, kClosed, 1, 5,
     kLoaderPrepare},
    {"LinkClosesInTheLoaderBlock", "disconnect-after=11", kNoReply, 0, kClosed, 1, 11, kLoaderData},
    {"LinkClosesAtTheLoaderSum", "disconnect-after=18", kNoReply, 0, kClosed, 1, 18, kSum},
    // The host connects again and takes the unanswered LOAD for a loader that started; the
    // module never ran it, so it refuses every WRITE and the block fails all five attempts.
    {"LinkClosesAtLoad", "disconnect-after=19", kRefused, 4, kClosed, 1, 19, kLoad},
    // A firmware PREPARE that fails is not tried again.
    {"LinkClosesAtTheFirstFirmwarePrepare", "disconnect-after=22", kTimeout, 0, kClosed, 1, 22,
     kBlock1Prepare},
    // The block is tried again from its PREPARE, which the closed link leaves unanswered.
    {"LinkClosesInFirmwareBlock1", "disconnect-after=89", kTimeout, 1, kClosed, 1, 89,
     kFirmwareData},
    {"LinkClosesAtAFirmwareWrite", "disconnect-after=67", kTimeout, 1, kClosed, 1, 67, kWrite},
    {"LinkClosesInFirmwareBlock2", "disconnect-after=179", kTimeout, 1, kClosed, 1, 179,
     kFirmwareData},
    {"LinkClosesAtTheLastWrite", "disconnect-after=222", kTimeout, 1, kClosed, 1, 222, kWrite},
    {"LinkDropsAtLoadAndComesBack", "drop-at-load", nullptr, 0, "drops the link at LOAD", 1, 19,
     kLoad},
    // REBOOT has no reply and a dropped link proves nothing, so the host finds the module again
    // and asks its build: left in its loader, it still reports the build it last committed.
    {"LinkClosesAtReboot", "disconnect-after=223", kStillOnBuild1000, 0, kClosed, 1, 223, kReboot},
    {"RebootLost", "lost-reboot", kStillOnBuild1000, 0, "never hears REBOOT", 1, 223, kReboot},
    {"ModuleRestartsIntoItsOldBuild", "boots-old-build", kStillOnBuild1000, 0,
     "boots its old firmware", 1, 223, kReboot},
    // The loader block is sent once: a wrong sum ends the update.
    {"WrongLoaderSum", "bad-sum=1", kRefused, 0, "sends a wrong sum", 1, 18, kSum},
    // The third piece of block 1: the whole block again, from its PREPARE.
    {"WrongFirmwareSum", "bad-sum=4", nullptr, 1, "sends a wrong sum", 1, 153, kSum,
     kBlock1Prepare},
    // The loader's PREPARE: its time-out is passed over and the block's data follow.
    {"LostLoaderReply", "drop-reply=2", nullptr, 0, "drops the reply", 1, 5, kLoaderPrepare,
     kLoaderData},
    // The WRITE of block 2's first piece: block 2 again, from its PREPARE.
    {"LostFirmwareReply", "drop-reply=30", nullptr, 1, "drops the reply", 1, 200, kWrite,
     kBlock2Prepare},
    // The fifth DATA of the loader block: the same bytes again.
    {"OnePieceNotAccepted", "short-count=5", nullptr, 0, "refuses the piece", 1, 10, kLoaderData,
     kSameAgain},
    // The loader block's first piece, refused until the host gives up on it.
    {"NoPieceAccepted", "always-short", kRefused, 0, "refuses the piece", 11, 6, kLoaderData,
     kSameAgain},
    {"SilentLoader", "silent-loader", kTimeout, 0, "loader stays silent", 1, 4, kInit},
    {"SilentModule", "silent", "Failed to connect to module [40F5849A]", 0, "stays silent", 4, 1,
     "AD 00"},
    // The loader block's PREPARE; a refused PREPARE ends the loader's transfer.
    {"RefusedPrepare", "prepare-status=3", kRefused, 0, "refuses the block", 1, 5, kLoaderPrepare},
    // Replies 5 and 10: the loader's PREPARE (passed over) and its fifth DATA (not).
    {"EveryFifthReplyLost", "drop-every=5", kNoReply, 0, "x ", 2, 5, kLoaderPrepare, kLoaderData},
    // Deliberate: a model read that failed fails validation; it is not called a model mismatch.
    // Reply 3, to the model query: an unread model fails the validation.
    {"EveryThirdReplyLost", "drop-every=3", kNotValidated, 0, "x ", 1, 3, kModelQuery},
};

INSTANTIATE_TEST_SUITE_P(EveryPhase, UpdateFaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
