// "--json" when a run fails: standard output still holds exactly one document, the command's own
// with what it had gathered, plus "error" repeating the error lines that standard error shows
// (one line as a string, several as a list). Each case runs the real Updater twice, once without
// "--json" to learn today's error lines and exit code, and once with it; the document is parsed,
// never compared as text.
#include <sys/types.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"
#include "ModuleLock.h"

using namespace firmwaretest;
using nlohmann::json;
using zvtest::RunResult;

namespace {

// What the case needs besides the empty store.
enum class World {
    NOTHING,
    FAILING_SERVER,  // the update server answers every request with status 500
    HELD_MODULE,     // the test holds kSerial's lock, as another Updater would
    HELD_ROUTER,     // a router module D272031D on TCP/IP whose lock the test holds
};

struct FailureCase {
    const char* name;
    // "@work" stands for the test's scratch directory (holding the file "plain", which is no BIRD
    // file and no directory), "@url" for the update server's URL.
    std::vector<std::string> args;
    World world;
    int exitCode;
    const char* command;  // "" when the run ended before any command
    // Part of the first error line, naming the fault the case provoked ("" when there is none).
    const char* fault;
    // The document's other members, as JSON text with the same stand-ins.
    const char* members;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

std::string withStandIns(std::string text, const std::string& workDir, const std::string& url) {
    for (const auto& [standIn, value] :
         {std::pair<std::string, std::string>{"@work", workDir}, {"@url", url}}) {
        for (size_t at; (at = text.find(standIn)) != std::string::npos;) {
            text.replace(at, standIn.size(), value);
        }
    }
    return text;
}

// The error lines of a run without "--json": standard error up to the usage text, if any.
std::vector<std::string> errorLinesBeforeUsage(const RunResult& r) {
    std::vector<std::string> errors;
    for (const std::string& line : errorLines(r)) {
        if (line == "Application Usage:") {
            break;
        }
        errors.push_back(line);
    }
    return errors;
}

// "error" as a list of lines, whichever form it took.
std::vector<std::string> errorOf(const json& document) {
    if (!document.contains("error")) {
        return {};
    }
    const json& error = document["error"];
    if (error.is_string()) {
        return {error.get<std::string>()};
    }
    EXPECT_TRUE(error.is_array()) << error;
    EXPECT_GE(error.size(), 2u) << "one line is a string, not a list: " << error;
    return error.get<std::vector<std::string>>();
}

// Whether every line of part appears in lines, in the same order.
bool inOrder(const std::vector<std::string>& part, const std::vector<std::string>& lines) {
    size_t next = 0;
    for (const std::string& line : lines) {
        if (next < part.size() && line == part[next]) {
            ++next;
        }
    }
    return next == part.size();
}

class JsonFailure : public FirmwareFixture, public ::testing::WithParamInterface<FailureCase> {
  protected:
    void prepare() override {
        zvtest::writeFile(work.file("plain"), "neither a BIRD file nor a directory\n");
        switch (GetParam().world) {
            case World::NOTHING:
                break;
            case World::FAILING_SERVER:
                startServer({"--status", "500"});
                break;
            case World::HELD_MODULE:
                holdLock(0x40F5849A);
                break;
            case World::HELD_ROUTER:
                router = std::make_unique<zvtest::BackgroundProgram>(
                    zvtest::modulesimBinary(),
                    std::vector<std::string>{"--duration", "120", "--module",
                                             "serial=D272031D,model=5,address=2,tcp=10.77.0.2:0"});
                ASSERT_TRUE(router->waitReady());
                holdLock(0xD272031D);
                break;
        }
    }

    void holdLock(unsigned serial) {
        zvtest::runProgram("/bin/mkdir", {"-p", store.path() + "/updater"});
        lock =
            std::make_unique<ModuleLock>(MACHINE_LOCK_DIRECTORY, store.path() + "/updater", serial);
        ASSERT_TRUE(lock->held());
        ASSERT_EQ(ModuleLock::Holder(MACHINE_LOCK_DIRECTORY, store.path() + "/updater", serial),
                  getpid());
    }

    std::vector<std::string> arguments() const {
        std::vector<std::string> args;
        for (const std::string& arg : GetParam().args) {
            args.push_back(withStandIns(arg, work.path(), url));
        }
        return args;
    }

    std::unique_ptr<zvtest::BackgroundProgram> router;
    std::unique_ptr<ModuleLock> lock;
};

TEST_P(JsonFailure, OneDocumentRepeatsTheErrorLines) {
    const FailureCase& c = GetParam();
    std::vector<std::string> args = arguments();
    RunResult plain = updater(args);
    args.insert(args.begin(), "--json");
    RunResult r = updater(args);

    EXPECT_EQ(plain.exitCode, c.exitCode) << plain.err;
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    const std::vector<std::string> expected = errorLinesBeforeUsage(plain);
    if (c.fault[0] == '\0') {
        EXPECT_TRUE(expected.empty()) << plain.err;
    } else {
        ASSERT_FALSE(expected.empty()) << plain.err;
        EXPECT_TRUE(contains(expected.front(), withStandIns(c.fault, work.path(), url)))
            << plain.err;
    }
    if (c.world == World::FAILING_SERVER) {
        EXPECT_FALSE(serverRequests().empty()) << "the server was never asked";
    }

    // The whole of standard output is one document: a second one, or anything else, is refused.
    json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << "standard output is not one JSON document:\n" << r.out;
    ASSERT_TRUE(doc.is_object()) << r.out;
    EXPECT_EQ(errorOf(doc), expected) << r.out;
    // Standard error keeps them, in the same order.
    EXPECT_TRUE(inOrder(expected, zvtest::splitLines(r.err))) << r.err;

    json want = json::parse(withStandIns(c.members, work.path(), url));
    if (c.command[0] != '\0') {
        want["command"] = c.command;
    }
    if (!expected.empty()) {
        want["error"] = doc["error"];
    }
    // How long an update or recovery took is the only member that differs between runs.
    if (want.contains("result")) {
        EXPECT_TRUE(doc["seconds"].is_number()) << r.out;
        want["seconds"] = doc["seconds"];
    }
    EXPECT_EQ(doc, want) << r.out;
}

const FailureCase kCases[] = {
    // A refused command line: every problem of the parse, in order.
    {"RefusedCommandLine",
     {"-D", "-d", "zz", "-t", "usb"},
     World::NOTHING,
     1,
     "",
     "Invalid serial number obtained from argument [zz]",
     "{}"},
    {"UnhandledCommand", {"-Y"}, World::NOTHING, 1, "", "Unhandled command: [-Y]", "{}"},
    {"StoreDirectoryIsAFile",
     {"-L", "-d", kSerial, "-i", "@work/plain"},
     World::NOTHING,
     1,
     "",
     "Could not find updater directory at ",
     "{}"},
    {"LogFileCannotBeOpened",
     {"-L", "-d", kSerial, "-k", "@work/missing/run.log"},
     World::NOTHING,
     1,
     "",
     "Could not open log file ",
     "{}"},
    {"FingerprintWithoutPort",
     {"-N"},
     World::NOTHING,
     1,
     "fingerprint",
     "Must specify the serial port used for connecting",
     "{}"},
    {"FingerprintWithoutChip",
     {"-N", "-s", "@work/no-port"},
     World::NOTHING,
     1,
     "fingerprint",
     "Got no response from chip",
     "{}"},
    {"DownloadWithoutDevice",
     {"-G"},
     World::NOTHING,
     1,
     "get_build",
     "-G must specify a specific device via -d",
     "{}"},
    {"DownloadServerFails",
     {"-G", "-d", kSerial, "-u", "@url"},
     World::FAILING_SERVER,
     1,
     "get_build",
     "Server request failed for @url",
     R"({"serial": "40F5849A"})"},
    {"CheckWithoutFile",
     {"-C"},
     World::NOTHING,
     1,
     "check_bird",
     "-C must specify a BIRD file via -f",
     "{}"},
    {"CheckBrokenFile",
     {"-C", "-f", "@work/plain"},
     World::NOTHING,
     1,
     "check_bird",
     "Invalid bird @work/plain",
     R"({"file": "@work/plain"})"},
    {"StoredInfoMissing",
     {"-I", "-d", kSerial},
     World::NOTHING,
     1,
     "stored_info",
     "No stored information for device [40F5849A]",
     R"({"devices": []})"},
    // Discovery ends well whatever it found; the error line still reaches the document.
    {"DiscoverBehindHeldRouter",
     {"-D", "-t", "TCP", "-r", "D272031D"},
     World::HELD_ROUTER,
     0,
     "discover",
     "on connectFromSpec",
     R"({"link_type": "TCPIP", "router_serial": "D272031D", "devices": []})"},
    {"UpdateWithoutDevice",
     {"-U"},
     World::NOTHING,
     1,
     "update",
     "Must specify the specific device to be updated",
     "{}"},
    {"UpdateHeldModule",
     {"-U", "-d", kSerial, "-f", "@work/plain"},
     World::HELD_MODULE,
     1,
     "update",
     "Module 40F5849A is being updated by another Updater (process ",
     R"({"serial": "40F5849A", "result": "busy", "build_before": null, "build_after": null})"},
    {"RecoveryWithoutChip",
     {"-U", "-t", "RECOVER", "-s", "@work/no-port"},
     World::NOTHING,
     1,
     "recover",
     "Could not get Device Identifier",
     R"({"serial_port": "@work/no-port", "link_type": "RECOVER", "result": "failed",
         "build_before": null, "build_after": null})"},
    {"ListBuildsWithoutDevice",
     {"-B"},
     World::NOTHING,
     1,
     "list_builds",
     "Error must supply a serial number for the List Builds command",
     "{}"},
    // The server's failure leaves an empty list and exit status 0, as without "--json".
    {"ListBuildsServerFails",
     {"-B", "-d", kSerial, "-u", "@url"},
     World::FAILING_SERVER,
     0,
     "list_builds",
     "Server request failed for @url",
     R"({"serial": "40F5849A", "builds": []})"},
    {"ListLocalBuildsWithoutDevice",
     {"-L"},
     World::NOTHING,
     1,
     "list_local_builds",
     "Error must supply a serial number for the List Local Builds command",
     "{}"},
    // No command and no error: the empty document.
    {"UsageOnly", {}, World::NOTHING, 0, "", "", "{}"},
};

INSTANTIATE_TEST_SUITE_P(EveryCommand, JsonFailure, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
