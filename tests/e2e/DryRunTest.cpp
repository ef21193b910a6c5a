// "-n" makes the choices of the real run and changes nothing: for each world below, the dry run
// leaves the store tree, the module's flash, its lock and its packet log without a single
// upgrade packet, and chooses the build the real run then flashes, or fails with exactly the
// error lines the real run then prints.
#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"
#include "LpcChipFixture.h"
#include "ModuleLock.h"

using namespace firmwaretest;
using nlohmann::json;
using zvtest::RunResult;

namespace {

enum class World : uint8_t {
    STORED,         // 1234 and 1300 in the store, LATEST_DOWNLOAD 1300
    SERVER_LATEST,  // the server's latest is 1300 and the store holds it
    SERVER_ONLY,    // the server offers 1300, the store holds nothing
    OTHER_MODEL,    // a file made for a Hub-8
    ANY_MODULE,     // a file with a serial-number block
    HELD,           // like STORED, with the module's lock held by this test
};

struct DryRunCase {
    const char* name;
    World world;
    std::vector<std::string> args;  // "@file" stands for the world's own file
    unsigned build;                 // the build both runs choose; 0 when they fail
    const char* error;              // part of the first error line when they fail
};

// Failure messages name the case, not its bytes.
void PrintTo(const DryRunCase& c, std::ostream* out) {
    *out << c.name;
}

// The error lines a "--json" document repeats.
std::vector<std::string> errorsOf(const json& doc) {
    if (!doc.contains("error")) {
        return {};
    }
    if (doc["error"].is_string()) {
        return {doc["error"].get<std::string>()};
    }
    return doc["error"].get<std::vector<std::string>>();
}

class DryRun : public FirmwareFixture, public ::testing::WithParamInterface<DryRunCase> {
  protected:
    void prepare() override {
        const DryRunCase& c = GetParam();
        if (c.world == World::STORED || c.world == World::HELD) {
            putInStore("1234.bird",
                       zvtest::readFile(makeBuild(work.file("1234.bird"), 1234, "2.12.4")));
            putInStore("1300.bird", zvtest::readFile(makeNewBuild()));
            putInStore(".settings", "LATEST_DOWNLOAD=1300.bird\n");
        }
        if (c.world == World::SERVER_LATEST || c.world == World::SERVER_ONLY) {
            makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
            url = startServer();
            if (c.world == World::SERVER_LATEST) {
                putInStore("1300.bird", zvtest::readFile(builds + "/" + kSerial + "/1300.bird"));
            }
        }
        if (c.world == World::OTHER_MODEL) {
            file = makeBird(work.file("hub8.bird"),
                            "block type=0 address=0x10000000 random=1 size=300\n"
                            "block type=1 address=0x00004000 random=2 size=3000 stamp=1500\n"
                            "info build=1500 version=2.15.0 serial=40F5849A model=Hub-8\n");
        }
        if (c.world == World::ANY_MODULE) {
            file = makeBuild(work.file("any.bird"), 1500, "2.15.0",
                             "serial-offsets word=0x00004010 descriptor=0x00004100\n");
        }
        startModule();
        if (c.world == World::HELD) {
            lock = std::make_unique<ModuleLock>(MACHINE_LOCK_DIRECTORY, store.path() + "/updater",
                                                0x40F5849A);
            ASSERT_TRUE(lock->held());
        }
    }

    std::vector<std::string> arguments(bool dry) const {
        std::vector<std::string> args = GetParam().args;
        for (std::string& arg : args) {
            if (arg == "@file") {
                arg = file;
            }
        }
        if (!url.empty()) {
            args.insert(args.end(), {"-u", url});
        }
        if (dry) {
            args.insert(args.end(), {"-n", "--json"});
        }
        return args;
    }

    // Every name under the store and the lock directory, with its size and modification time.
    std::string tree() const {
        return zvtest::runProgram("/usr/bin/find",
                                  {store.path(), MACHINE_LOCK_DIRECTORY, "-printf", "%p %s %T@\\n"})
            .out;
    }

    std::string file;
    std::unique_ptr<ModuleLock> lock;
};

TEST_P(DryRun, ChoosesWhatTheRealRunDoesAndChangesNothing) {
    const DryRunCase& c = GetParam();
    const std::string before = tree();
    RunResult dry = updater(arguments(true));
    EXPECT_EQ(tree(), before) << "the dry run changed the store or the locks";
    EXPECT_EQ(upgradePackets(moduleLog(), '<'), 0u) << moduleLog();
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "the module committed";
    EXPECT_EQ(serverRequests().find("op=bird"), std::string::npos) << serverRequests();

    // "-G -U" prints the download's document first; the update's is the last.
    const size_t last = dry.out.rfind("\n{");
    json doc =
        json::parse(last == std::string::npos ? dry.out : dry.out.substr(last + 1), nullptr, false);
    ASSERT_TRUE(doc.is_object()) << dry.out << dry.err;
    EXPECT_EQ(doc["dry_run"], true);
    EXPECT_TRUE(contains(dry.err,
                         "Dry run: nothing will be written to module 40F5849A or to "
                         "the store\n"))
        << dry.err;

    RunResult real = updater(arguments(false));
    EXPECT_EQ(dry.exitCode, real.exitCode) << dry.err << "\n---\n" << real.out << real.err;
    EXPECT_EQ(errorsOf(doc), errorLines(real));
    if (c.build == 0) {
        ASSERT_EQ(real.exitCode, 1) << real.out;
        ASSERT_FALSE(errorLines(real).empty());
        EXPECT_TRUE(contains(errorLines(real).front(), c.error)) << real.err;
        EXPECT_NE(doc["result"], "would_update");
        return;
    }
    ASSERT_EQ(real.exitCode, 0) << real.out << real.err;
    EXPECT_EQ(doc["result"], "would_update");
    EXPECT_EQ(doc["plan"]["build"], c.build) << doc.dump(2);
    EXPECT_EQ(doc["build_before"], 1000) << doc.dump(2);
    EXPECT_TRUE(contains(real.out,
                         "Verified: module 40F5849A runs build " + std::to_string(c.build) + "\n"))
        << real.out;
    // The estimate counts every data packet of the file, so it is never below the blocks' bytes
    // in 26-byte pieces.
    if (!doc["plan"]["file"].is_null()) {
        EXPECT_GE(doc["plan"]["exchanges"].get<unsigned>(),
                  doc["plan"]["bytes"].get<unsigned>() / 26);
    }
}

const DryRunCase kCases[] = {
    {"BuildGiven", World::STORED, {"-U", "-d", kSerial, "-b", "1234"}, 1234, ""},
    {"LatestDownload", World::STORED, {"-U", "-d", kSerial}, 1300, ""},
    {"ServerLatestInTheStore", World::SERVER_LATEST, {"-U", "-d", kSerial}, 1300, ""},
    {"DownloadedFirst", World::SERVER_ONLY, {"-G", "-U", "-d", kSerial}, 1300, ""},
    {"FileForAnyModule", World::ANY_MODULE, {"-U", "-d", kSerial, "-f", "@file"}, 1500, ""},
    {"FileForAnotherModel",
     World::OTHER_MODEL,
     {"-U", "-d", kSerial, "-f", "@file"},
     0,
     "Connected device model and Bird file model do not match [Hub-4]"},
    {"NoBuildAnywhere",
     World::SERVER_ONLY,
     {"-U", "-d", kSerial},
     0,
     "Could not find valid build for this device."},
    {"ModuleHeld",
     World::HELD,
     {"-U", "-d", kSerial},
     0,
     "Module 40F5849A is being updated by another Updater (process "},
};

INSTANTIATE_TEST_SUITE_P(EveryChoice, DryRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DryRunCase>& info) {
                             return std::string(info.param.name);
                         });

class SkipCurrent : public FirmwareFixture {};

// The module runs build 1000 already: it is read, not updated, and nothing is recorded.
TEST_F(SkipCurrent, ModuleOnTheChosenBuildIsLeftAlone) {
    std::string current = makeBuild(work.file("1000.bird"), 1000, "2.10.0");
    startModule();
    RunResult r = updater({"-U", "-d", kSerial, "-f", current, "--skip-current", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(doc["result"], "unchanged");
    EXPECT_EQ(doc["build_before"], 1000);
    EXPECT_EQ(doc["build_after"], 1000);
    EXPECT_EQ(upgradePackets(moduleLog(), '<'), 0u);
    EXPECT_FALSE(zvtest::pathExists(deviceDir())) << "a module left alone got a store entry";
}

class LpcDryRun : public LpcChipFixture {};

// The chip is identified (synchronised, its serial number words read) and the plan printed; no
// unlock, prepare, erase, write, copy or go reaches it.
TEST_F(LpcDryRun, IdentifiesTheChipAndWritesNothing) {
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    startChip({"--log"});
    RunResult r =
        updater({"-U", "-t", "RECOVER", "-s", port, "-d", kSerial, "-f", image, "-n", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(doc["result"], "would_update");
    EXPECT_GT(doc["plan"]["estimate_seconds"].get<double>(), 0.0);
    EXPECT_TRUE(chipFlash() == std::string(kLpcFlashSize, '\xFF')) << "the chip was written";
    const std::string marker = "lpcsim: < command [";
    std::string commands;
    for (const std::string& line : lines(chipLog())) {
        if (line.rfind(marker, 0) == 0) {
            commands += line.substr(marker.size(), 1);
        }
    }
    EXPECT_NE(commands.find('N'), std::string::npos) << "never asked its serial number";
    EXPECT_EQ(commands.find_first_of("UPEWCG"), std::string::npos) << commands;
}

}  // namespace
