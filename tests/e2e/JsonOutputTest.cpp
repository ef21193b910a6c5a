// "--json": the device list, the build lists, the fingerprint and the stored information as JSON
// documents on standard output, parsed here and checked field by field; standard output carries
// nothing else, errors and exit codes stay as they are.
#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"

using namespace firmwaretest;
using nlohmann::json;
using zvtest::RunResult;

namespace {

const std::string kVersionLine = "Updater (Version: 2.12.2 Mar 13 2026)";

// The whole of standard output as one document; a parse error fails the test with the text.
json document(const RunResult& r) {
    try {
        return json::parse(r.out);
    } catch (const json::parse_error& error) {
        ADD_FAILURE() << "standard output is not one JSON document: " << error.what() << "\n"
                      << r.out;
        return json();
    }
}

class JsonOutput : public FirmwareFixture {
  protected:
    void startModules(const std::vector<std::string>& modules) {
        std::vector<std::string> args = {"--duration", "120"};
        for (const std::string& description : modules) {
            args.push_back("--module");
            args.push_back(description);
        }
        sim = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args);
        ASSERT_TRUE(sim->waitReady());
    }

    std::unique_ptr<zvtest::BackgroundProgram> sim;
};

TEST_F(JsonOutput, DeviceListHasOneObjectPerModule) {
    startModules({
        "serial=1A2B3C4D,model=13,address=4,version=2.10.4,build=4321,name=Left arm,"
        "tcp=10.77.0.2:0",
        "serial=00C0FFEE,model=7,address=6,version=2.9.1,build=17,name=Ignored,tcp=10.77.0.2:0",
    });
    RunResult r = updater({"-D", "-t", "TCP", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The banner and the progress line go to standard error.
    EXPECT_TRUE(contains(r.err, kVersionLine + "\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "Searching for Zendrival devices\n")) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["command"], "discover");
    EXPECT_EQ(doc["link_type"], "TCPIP");
    ASSERT_TRUE(doc["devices"].is_array());
    ASSERT_EQ(doc["devices"].size(), 2u) << r.out;
    // Modules answer discovery in no fixed order.
    json arm = doc["devices"][0]["serial"] == "1A2B3C4D" ? doc["devices"][0] : doc["devices"][1];
    json motor = doc["devices"][0]["serial"] == "00C0FFEE" ? doc["devices"][0] : doc["devices"][1];
    EXPECT_EQ(arm["serial"], "1A2B3C4D");
    EXPECT_EQ(arm["link_type"], "TCPIP");
    EXPECT_EQ(arm["module"], 4);
    EXPECT_EQ(arm["router"], 4);
    EXPECT_EQ(arm["model"], 13);
    EXPECT_EQ(arm["model_name"], "Ethernet");
    EXPECT_EQ(arm["firmware"]["major"], 2);
    EXPECT_EQ(arm["firmware"]["minor"], 10);
    EXPECT_EQ(arm["firmware"]["patch"], 4);
    EXPECT_EQ(arm["firmware"]["build"], 4321);
    EXPECT_TRUE(arm["firmware"]["build"].is_number_unsigned());
    EXPECT_EQ(arm["ip_address"], "10.77.0.2");
    EXPECT_EQ(arm["device_name"], "Left arm");
    EXPECT_EQ(arm["error"], 0);
    EXPECT_FALSE(arm.contains("router_serial"));
    EXPECT_EQ(motor["serial"], "00C0FFEE");
    EXPECT_EQ(motor["model_name"], "Motor-4");
    EXPECT_EQ(motor["firmware"]["minor"], 9);
    EXPECT_EQ(motor["firmware"]["build"], 17);
    // Firmware before 2.10.4 has no stored name to read.
    EXPECT_EQ(motor["device_name"], "");
}

TEST_F(JsonOutput, DiscoveryWithoutTransportIsOneDocumentForBoth) {
    startModules(
        {"serial=1A2B3C4D,model=13,address=4,version=2.10.4,build=4321,name=Left arm,"
         "tcp=10.77.0.2:0"});
    RunResult r = updater({"--json", "-D"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["command"], "discover");
    // Deliberate: "-D" alone searches USB and then TCP/IP, as its help text promises.
    EXPECT_EQ(doc["link_types"], json::array({"USB", "TCPIP"}));
    // The devices of both searches, in the same objects as one search gives.
    ASSERT_EQ(doc["devices"].size(), 1u) << r.out;
    EXPECT_EQ(doc["devices"][0]["serial"], "1A2B3C4D");
    EXPECT_EQ(doc["devices"][0]["link_type"], "TCPIP");
    EXPECT_EQ(doc["devices"][0]["ip_address"], "10.77.0.2");
    EXPECT_EQ(doc["devices"][0]["firmware"]["build"], 4321);
}

TEST_F(JsonOutput, RouterSearchNamesTheRouterAndTheBusAddresses) {
    startModules({
        "serial=D272031D,model=5,address=2,tcp=10.77.0.2:0",
        "serial=11111111,model=8,address=10,version=2.11.0,build=900,name=Gripper,behind=D272031D",
        "serial=22222222,model=19,address=6,version=2.10.3,build=901,behind=D272031D",
    });
    RunResult r = updater({"--json", "-D", "-r", "D272031D"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["link_type"], "Unknown");
    EXPECT_EQ(doc["router_serial"], "D272031D");
    ASSERT_EQ(doc["devices"].size(), 2u) << r.out;
    // In address order, as the bus was probed.
    EXPECT_EQ(doc["devices"][0]["serial"], "22222222");
    EXPECT_EQ(doc["devices"][0]["scanned_address"], 6);
    EXPECT_EQ(doc["devices"][0]["router"], 2);
    EXPECT_EQ(doc["devices"][0]["router_serial"], "D272031D");
    EXPECT_EQ(doc["devices"][0]["model_name"], "Controller");
    EXPECT_EQ(doc["devices"][1]["serial"], "11111111");
    EXPECT_EQ(doc["devices"][1]["scanned_address"], 10);
    EXPECT_EQ(doc["devices"][1]["firmware"]["build"], 900);
}

TEST_F(JsonOutput, UnknownRouterGivesAnEmptyList) {
    startModules({"serial=D272031D,model=5,address=2,tcp=10.77.0.2:0"});
    RunResult r = updater({"-D", "-t", "TCP", "-r", "0000BEEF", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["link_type"], "TCPIP");
    EXPECT_TRUE(doc["devices"].is_array());
    EXPECT_TRUE(doc["devices"].empty());
}

TEST_F(JsonOutput, ServerBuildListIsOrderedHighestVersionFirst) {
    makeBuild(builds + "/" + kSerial + "/1234.bird", 1234, "2.12.4");
    makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
    startServer();
    RunResult r = updater({"-B", "-d", kSerial, "-u", url, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["command"], "list_builds");
    EXPECT_EQ(doc["serial"], "40F5849A");
    ASSERT_EQ(doc["builds"].size(), 2u) << r.out;
    EXPECT_EQ(doc["builds"][0]["build"], 1300);
    EXPECT_EQ(doc["builds"][0]["name"], "1300");
    EXPECT_EQ(doc["builds"][0]["version"], "2.13.0");
    EXPECT_EQ(doc["builds"][1]["build"], 1234);
    EXPECT_EQ(doc["builds"][1]["version"], "2.12.4");
}

TEST_F(JsonOutput, ServerErrorStaysOnStandardErrorWithAnEmptyList) {
    startServer({"--status", "500"});
    RunResult r = updater({"-B", "-d", kSerial, "-u", url, "--json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(contains(r.err, "Server request failed for " + url + "\n")) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["serial"], "40F5849A");
    EXPECT_TRUE(doc["builds"].is_array());
    EXPECT_TRUE(doc["builds"].empty());
}

TEST_F(JsonOutput, LocalBuildListKeepsFilesWithoutAVersion) {
    std::string bird = makeBuild(work.file("1234.bird"), 1234, "2.12.4");
    putInStore("1234.bird", zvtest::readFile(bird));
    putInStore("77.bird", "not a bird file");
    putInStore("notes", "not a build");
    RunResult r = updater({"-L", "-d", kSerial, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["command"], "list_local_builds");
    ASSERT_EQ(doc["builds"].size(), 3u) << r.out;
    json byName;
    for (const json& build : doc["builds"]) {
        byName[build["name"].get<std::string>()] = build;
    }
    EXPECT_EQ(byName["1234"]["build"], 1234);
    EXPECT_EQ(byName["1234"]["version"], "2.12.4");
    EXPECT_EQ(byName["77"]["build"], 77);
    EXPECT_EQ(byName["77"]["version"], "");
    EXPECT_TRUE(byName["notes"]["build"].is_null());
    EXPECT_EQ(doc["builds"][0]["name"], "1234");  // the only one with a version comes first
}

TEST_F(JsonOutput, StoredInformationHasSettingsAndBuilds) {
    makeNewBuild();
    putInStore("1300.bird", zvtest::readFile(bird));
    putInStore("77.bird", "not a bird file");
    putInStore(".settings", "LATEST_DOWNLOAD=1300.bird\nNOTE=a \"quoted\" value\n");
    RunResult r = updater({"-I", "-d", kSerial, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["command"], "stored_info");
    ASSERT_EQ(doc["devices"].size(), 1u) << r.out;
    const json& device = doc["devices"][0];
    EXPECT_EQ(device["serial"], "40F5849A");
    EXPECT_EQ(device["directory"], deviceDir());
    EXPECT_EQ(device["settings"]["LATEST_DOWNLOAD"], "1300.bird");
    EXPECT_EQ(device["settings"]["NOTE"], "a \"quoted\" value");
    EXPECT_EQ(device["settings"].size(), 2u);
    ASSERT_EQ(device["builds"].size(), 2u);
    EXPECT_EQ(device["builds"][0]["file"], "1300.bird");
    EXPECT_EQ(device["builds"][0]["readable"], true);
    EXPECT_EQ(device["builds"][0]["build"], 1300);
    EXPECT_EQ(device["builds"][0]["version"], "2.13.0");
    EXPECT_EQ(device["builds"][1]["file"], "77.bird");
    EXPECT_EQ(device["builds"][1]["readable"], false);
    EXPECT_FALSE(device["builds"][1].contains("build"));
}

TEST_F(JsonOutput, FingerprintWordsAreEightHexDigits) {
    auto chip = std::make_unique<zvtest::BackgroundProgram>(
        lpcsimBinary(), std::vector<std::string>{"--duration", "120", "--device-id",
                                                 "0x1A2B3C4D,0xDEADBEEF,0x00000007,0x89ABCDEF"});
    ASSERT_TRUE(chip->waitReady());
    RunResult r = updater({"-N", "-s", chip->startupValue("pty"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = document(r);
    EXPECT_EQ(doc["command"], "fingerprint");
    EXPECT_EQ(doc["fingerprint"], json::array({"1A2B3C4D", "DEADBEEF", "00000007", "89ABCDEF"}));
}

TEST_F(JsonOutput, TwoCommandsGiveTwoDocuments) {
    makeNewBuild();
    putInStore("1300.bird", zvtest::readFile(bird));
    RunResult r = updater({"-I", "-L", "-d", kSerial, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The documents follow one another; each is read whole.
    std::vector<json> documents;
    size_t split = r.out.find("\n}\n{");
    ASSERT_NE(split, std::string::npos) << r.out;
    documents.push_back(json::parse(r.out.substr(0, split + 2)));
    documents.push_back(json::parse(r.out.substr(split + 3)));
    EXPECT_EQ(documents[0]["command"], "stored_info");
    EXPECT_EQ(documents[1]["command"], "list_local_builds");
    EXPECT_EQ(documents[1]["builds"][0]["build"], 1300);
}

TEST_F(JsonOutput, DownloadAndFileCheckNameWhatTheyWorkedOn) {
    makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
    startServer();
    const std::string stored = deviceFile("1300.bird");
    RunResult r = updater({"--json", "-G", "-d", kSerial, "-u", url, "-C", "-f", stored});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(zvtest::pathExists(stored));
    size_t split = r.out.find("\n}\n{");
    ASSERT_NE(split, std::string::npos) << r.out;
    json download = json::parse(r.out.substr(0, split + 2));
    json check = json::parse(r.out.substr(split + 3));
    EXPECT_EQ(download, json({{"command", "get_build"}, {"serial", kSerial}, {"build", 1300}}));
    EXPECT_EQ(check, json({{"command", "check_bird"}, {"file", stored}}));
}

}  // namespace
