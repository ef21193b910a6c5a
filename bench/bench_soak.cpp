// Soak run of the real Updater against the simulators with seeded random faults: each run picks
// one fault (the link closing after a random packet, wrong sums, lost or refused replies, a silent
// loader, a module that drops at LOAD, a REBOOT that never arrives, a module that restarts into
// its old build, an update server that errs, cuts or truncates its reply, or none) and runs "-U"
// (or "-G" for server faults) on a fresh simulator and a store that holds an earlier transfer
// record. A run must end in one of two states: the new image in the module (or the new build in the
// store) and the store recording it, or exactly one error line, exit 1, and the records as they
// were; after a lost REBOOT or a restart into the old build only the second is right, since the
// module does not run the new firmware. It prints how many runs ended each way and how many left
// anything else (the target is 0), with the details of those.
//
//   bench_soak [--runs N] [--seed S]   (defaults: 200 runs, seed 1)
//
// Run it under "scripts/netns-run --veth": Updater finds the module by TCP/IP discovery.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "TestSupport.h"

namespace {

const std::string kSerial = "40F5849A";
// An update finds 1300 in the store; a download finds only the record of an earlier one.
const std::string kRecordsBeforeUpdate =
    "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\nLATEST_DOWNLOAD=1300.bird\n"
    "LATEST_TRANSFER=1234.bird\n";
const std::string kRecordsBeforeDownload =
    "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\nLATEST_DOWNLOAD=1234.bird\n"
    "LATEST_TRANSFER=1234.bird\n";

struct Fault {
    std::string kind;
    std::string moduleKeys;                // for "-U" runs
    std::vector<std::string> serverKnobs;  // non-empty: a "-G" run against a faulty server
    bool mustFail = false;                 // the module never runs the new build: success is wrong
};

Fault pickFault(std::mt19937& random) {
    auto upTo = [&random](int low, int high) {
        return std::to_string(std::uniform_int_distribution<int>(low, high)(random));
    };
    switch (std::uniform_int_distribution<int>(0, 13)(random)) {
        case 0:
        case 1:
        case 2:
            // Packet 224 is REBOOT: the host finds the module again and asks its build, so a
            // link lost just then is told apart from the reboot itself.
            return {"disconnect-after", "disconnect-after=" + upTo(1, 224), {}};
        case 3:
            return {"bad-sum", "bad-sum=" + upTo(1, 8), {}};
        case 4:
            return {"drop-reply", "drop-reply=" + upTo(1, 40), {}};
        case 5:
            return {"short-count", "short-count=" + upTo(1, 30), {}};
        case 6:
            return {"drop-every", "drop-every=" + upTo(3, 12), {}};
        case 7:
            return {"silent-loader", "silent-loader", {}};
        case 8:
            return {"drop-at-load", "drop-at-load", {}};
        case 9:
            return {"server-status", "", {"--status", "500"}};
        case 10:
            return {"server-cut", "", {"--cut", upTo(0, 6000), "--fault-op", "bird"}};
        case 11:
            return {"lost-reboot", "lost-reboot", {}, true};
        case 12:
            return {"boots-old-build", "boots-old-build", {}, true};
        default:
            return {"none", "", {}};
    }
}

class Soak {
  public:
    bool prepare() {
        const std::string description =
            "block type=0 address=0x10000000 random=7 size=300\n"
            "block type=1 address=0x00004000 random=1300 size=3000 stamp=1300\n"
            "block type=1 address=0x00005000 random=1301 size=1500\n"
            "info build=1300 version=2.13.0 serial=" +
            kSerial + " model=Hub-4\n";
        mkdir(work_.file("builds").c_str(), 0755);
        mkdir(work_.file("builds/" + kSerial).c_str(), 0755);
        zvtest::writeFile(work_.file("1300.txt"), description);
        bird_ = work_.file("builds/" + kSerial + "/1300.bird");
        zvtest::RunResult built =
            zvtest::runProgram(zvtest::birdtoolBinary(), {"build", work_.file("1300.txt"), bird_});
        if (built.exitCode != 0) {
            fprintf(stderr, "bench_soak: birdtool: %s", built.err.c_str());
            return false;
        }
        // The image a clean update leaves is the reference for every successful faulty run.
        Fault none{"none", "", {}};
        std::string detail;
        if (run(none, &detail) != Outcome::Succeeded || reference_.empty()) {
            fprintf(stderr, "bench_soak: the clean reference update failed: %s\n", detail.c_str());
            return false;
        }
        return true;
    }

    enum class Outcome { Succeeded, FailedCleanly, LeftSomethingWrong };

    Outcome run(const Fault& fault, std::string* detail) {
        zvtest::TempDir store;
        const std::string device = store.path() + "/updater/" + kSerial;
        const bool updating = fault.serverKnobs.empty();
        const std::string records = updating ? kRecordsBeforeUpdate : kRecordsBeforeDownload;
        zvtest::runProgram("/bin/mkdir", {"-p", device});
        if (updating) {
            zvtest::writeFile(device + "/1300.bird", zvtest::readFile(bird_));
        }
        zvtest::writeFile(device + "/.settings", records);
        const std::string flash = store.file("flash.bin");
        zvtest::RunResult r = updating ? update(fault, store, flash) : download(fault, store);
        const std::string settings = zvtest::readFile(device + "/.settings");
        // The build in the store is whole, or (a failed download) not there at all.
        const std::string stored = zvtest::readFile(device + "/1300.bird");
        const bool storedBuildWhole =
            stored == zvtest::readFile(bird_) || (!updating && r.exitCode != 0 && stored.empty());
        if (r.exitCode == 0 && fault.mustFail) {
            *detail =
                "exit 0 although the module does not run the new build; settings:\n" + settings;
            return Outcome::LeftSomethingWrong;
        }
        if (r.exitCode == 0) {
            bool recorded = fault.serverKnobs.empty()
                                ? settings.find("LATEST_TRANSFER=1300.bird\n") != std::string::npos
                                : settings.find("LATEST_DOWNLOAD=1300.bird\n") != std::string::npos;
            bool imageRight = true;
            if (fault.serverKnobs.empty()) {
                std::string image = zvtest::readFile(flash);
                if (reference_.empty()) {
                    reference_ = image;
                }
                imageRight = !image.empty() && image == reference_;
            }
            if (recorded && imageRight && storedBuildWhole) {
                return Outcome::Succeeded;
            }
            *detail = "exit 0 but " + std::string(!imageRight ? "a wrong image" : "no record") +
                      "; settings:\n" + settings;
            return Outcome::LeftSomethingWrong;
        }
        size_t errorLines = 0;
        for (const std::string& line : zvtest::splitLines(r.err)) {
            if (!line.empty() && line.rfind("NETWORK", 0) != 0) {
                ++errorLines;
            }
        }
        if (r.exitCode == 1 && errorLines == 1 && settings == records && storedBuildWhole) {
            return Outcome::FailedCleanly;
        }
        *detail = "exit " + std::to_string(r.exitCode) + ", " + std::to_string(errorLines) +
                  " error lines:\n" + r.err + "settings:\n" + settings;
        return Outcome::LeftSomethingWrong;
    }

  private:
    zvtest::RunResult update(const Fault& fault, const zvtest::TempDir& store,
                             const std::string& flash) {
        std::string description = "serial=" + kSerial +
                                  ",model=3,address=4,version=2.11.0,build=1000,name=Soak,"
                                  "reboot-ms=200,flash=" +
                                  flash + ",tcp=10.77.0.2:0";
        if (!fault.moduleKeys.empty()) {
            description += "," + fault.moduleKeys;
        }
        zvtest::BackgroundProgram module(zvtest::modulesimBinary(),
                                         {"--duration", "120", "--module", description});
        if (!module.waitReady()) {
            return zvtest::RunResult{"", "the module simulator did not start\n", 99};
        }
        return zvtest::runProgram(zvtest::updaterBinary(),
                                  {"-i", store.path(), "-U", "-d", kSerial});
    }

    zvtest::RunResult download(const Fault& fault, const zvtest::TempDir& store) {
        std::vector<std::string> args = {"--builds", work_.file("builds"), "--port",
                                         "0",        "--duration",         "120"};
        args.insert(args.end(), fault.serverKnobs.begin(), fault.serverKnobs.end());
        zvtest::BackgroundProgram server(zvtest::updateserverBinary(), args);
        if (!server.waitReady()) {
            return zvtest::RunResult{"", "the update server simulator did not start\n", 99};
        }
        const std::string url = "http://" + server.startupValue("http") + "/cgi/u";
        return zvtest::runProgram(zvtest::updaterBinary(),
                                  {"-i", store.path(), "-G", "-d", kSerial, "-u", url});
    }

    zvtest::TempDir work_;
    std::string bird_;
    std::string reference_;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 200;
    unsigned seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--runs") == 0) {
            runs = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--seed") == 0) {
            seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        }
    }
    Soak soak;
    if (!soak.prepare()) {
        return 1;
    }
    std::mt19937 random(seed);
    std::map<std::string, std::vector<int>> byKind;  // kind -> succeeded, failed cleanly, wrong
    int totals[3] = {0, 0, 0};
    for (int run = 0; run < runs; ++run) {
        Fault fault = pickFault(random);
        std::string detail;
        int outcome = static_cast<int>(soak.run(fault, &detail));
        ++totals[outcome];
        auto& counts = byKind[fault.kind];
        counts.resize(3);
        ++counts[outcome];
        if (outcome == 2) {
            printf("run %d (%s %s): left something wrong: %s\n", run, fault.kind.c_str(),
                   fault.moduleKeys.c_str(), detail.c_str());
        }
    }
    printf("%-18s %10s %15s %14s\n", "fault", "succeeded", "failed cleanly", "left wrong");
    for (const auto& [kind, counts] : byKind) {
        printf("%-18s %10d %15d %14d\n", kind.c_str(), counts[0], counts[1], counts[2]);
    }
    printf("runs %d (seed %u): succeeded %d, failed cleanly %d, left something wrong %d\n", runs,
           seed, totals[0], totals[1], totals[2]);
    return totals[2] == 0 ? 0 : 1;
}
