// "-G" from an update server that errs, stalls, says no or sends a broken build. Each fault has
// one outcome: the store holds the new build whole and records it, or exactly this error line,
// exit 1, no build 1300 in the store and its records as they were. The server simulator's own
// notes show that the fault fired on the operation its name says, and its request log that the
// download stopped there.
#include <algorithm>

#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

struct DownloadFault {
    const char* name;
    std::vector<std::string> serverKnobs;
    // The run's one error line, "{url}" standing for the server's URL; nullptr: success.
    const char* error;
    // The operation the fault fired on: the last one asked for, and the server's note of it.
    const char* op;
    const char* note;
};

void PrintTo(const DownloadFault& fault, std::ostream* out) {
    *out << fault.name;
}

// The store holds the record of an earlier download, and no 1300.
const std::string kRecordsBefore =
    "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\nLATEST_DOWNLOAD=1234.bird\n"
    "LATEST_TRANSFER=1234.bird\n";

// The op= value of every request the server logged, in order.
std::vector<std::string> operations(const std::string& requests) {
    std::vector<std::string> ops;
    for (const std::string& target : lines(requests)) {
        size_t at = target.find("op=");
        if (at != std::string::npos) {
            at += 3;
            ops.push_back(target.substr(at, target.find('&', at) - at));
        }
    }
    return ops;
}

size_t occurrences(const std::string& text, const std::string& line) {
    std::vector<std::string> all = lines(text);
    return static_cast<size_t>(std::count(all.begin(), all.end(), line));
}

class DownloadFaultMatrix : public FirmwareFixture,
                            public ::testing::WithParamInterface<DownloadFault> {
  protected:
    void prepare() override {
        zvtest::writeFile(builds + "/" + std::string(kSerial) + "/1300.bird",
                          zvtest::readFile(makeNewBuild()));
        putInStore(".settings", kRecordsBefore);
    }

    void expectTheNewBuild(const RunResult& r) {
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(errorLines(r), std::vector<std::string>{}) << r.err;
        EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n")) << settings();
        EXPECT_TRUE(zvtest::readFile(deviceFile("1300.bird")) == zvtest::readFile(bird));
    }

    void expectTheError(const RunResult& r, std::string error) {
        const std::string placeholder = "{url}";
        size_t at = error.find(placeholder);
        if (at != std::string::npos) {
            error.replace(at, placeholder.size(), url);
        }
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(errorLines(r), std::vector<std::string>{error}) << r.err;
        EXPECT_EQ(settings(), kRecordsBefore);
        EXPECT_FALSE(zvtest::pathExists(deviceFile("1300.bird")));
    }

    void expectTheFaultFired(const DownloadFault& fault) {
        EXPECT_EQ(occurrences(serverLog(),
                              std::string("updateserver: op=") + fault.op + " " + fault.note),
                  1u)
            << serverLog();
        std::vector<std::string> ops = operations(serverRequests());
        ASSERT_FALSE(ops.empty()) << "the server was never asked";
        EXPECT_EQ(ops.back(), fault.op) << serverRequests();
    }
};

TEST_P(DownloadFaultMatrix, EndsWithItsOneOutcome) {
    const DownloadFault& fault = GetParam();
    startServer(fault.serverKnobs);
    RunResult r = updater({"-G", "-d", kSerial, "-u", url});
    if (fault.error == nullptr) {
        expectTheNewBuild(r);
    } else {
        expectTheError(r, fault.error);
    }
    expectTheFaultFired(fault);
}

// A failed download reports only its first failure, not a missing build after it as well.
const DownloadFault kFaults[] = {
    // The control: a slow server, every request answered.
    {"NoServerFault", {"--delay-ms", "10"}, nullptr, "bird", "delayed 10 ms"},
    {"ServerErrs", {"--status", "500"}, "Server request failed for {url}", "hi", "status 500"},
    // Deliberate: a stalled download ends in time instead of spinning forever.
    {"ServerStallsOnTheBuild",
     {"--stall", "--fault-op", "bird"},
     "Download failed",
     "bird",
     "stalled"},
    {"ServerCutsTheBuild",
     {"--cut", "200", "--fault-op", "bird"},
     "Download failed",
     "bird",
     "cut after 200"},
    // Deliberate: a build that does not decode or is no BIRD file is refused and not stored.
    {"ServerTruncatesTheBuild",
     {"--truncate", "300", "--fault-op", "bird"},
     "Failed to retrieve a valid BIRD file",
     "bird",
     "truncated to 300"},
    {"ServerSaysNo",
     {"--bad-first-line", "--fault-op", "qu"},
     "No build information for device",
     "qu",
     "bad first line"},
};

INSTANTIATE_TEST_SUITE_P(EveryPhase, DownloadFaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<DownloadFault>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
