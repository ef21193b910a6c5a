#include "FirmwareFixture.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace firmwaretest {

const std::string kEarlierTransfer =
    "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\nLATEST_DOWNLOAD=1300.bird\n"
    "LATEST_TRANSFER=1234.bird\n";

std::string lpcsimBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/lpcsim/lpcsim";
}

std::string imageBytes(size_t length, unsigned seed) {
    return zvtest::seededBytes(length, seed);
}

namespace {

// The build, and the version when it is MAJOR.MINOR.PATCH, as the module simulator reads them
// from its flash once it runs the image.
void stamp(std::string& image, unsigned build, const std::string& version) {
    const std::string marker = "ZVBUILD=";
    image.replace(0, marker.size(), marker);
    for (int i = 0; i < 4; ++i) {
        image[marker.size() + i] = static_cast<char>(build >> (24 - 8 * i));
    }
    unsigned major = 0, minor = 0, patch = 0;
    if (sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch) == 3) {
        const std::string versionMarker = "ZVVERSION=";
        image.replace(12, versionMarker.size(), versionMarker);
        image[22] = static_cast<char>(major);
        image[23] = static_cast<char>(minor);
        image[24] = static_cast<char>(patch);
    }
}

}  // namespace

std::vector<std::string> usbBusEnvironment(const std::string& umockdevRoot) {
    const char* asan = getenv("ASAN_OPTIONS");
    return {
        "LD_PRELOAD=libumockdev-preload.so.0", "UMOCKDEV_DIR=" + umockdevRoot,
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":verify_asan_link_order=0"};
}

std::vector<std::string> lines(const std::string& text) {
    return zvtest::splitLines(text);
}

std::vector<std::string> errorLines(const zvtest::RunResult& r) {
    std::vector<std::string> errors;
    for (const std::string& line : lines(r.err)) {
        if (!line.empty() && line.rfind("NETWORK", 0) != 0) {
            errors.push_back(line);
        }
    }
    return errors;
}

void FirmwareFixture::SetUp() {
    // The module answers discovery and Updater discovers: keep both off the machine's network.
    ZV_PRIVATE_NETWORK_OR_SKIP(true);
    // The modules of every test share their serial numbers: their locks must not meet.
    ZV_PRIVATE_RUN_LOCK_OR_SKIP();
    builds = work.file("builds");
    zvtest::runProgram("/bin/mkdir", {"-p", builds + "/" + kSerial});
    prepare();
}

std::string FirmwareFixture::makeBird(const std::string& path, const std::string& description) {
    const std::string text = path + ".txt";
    zvtest::writeFile(text, description);
    zvtest::RunResult r = zvtest::runProgram(zvtest::birdtoolBinary(), {"build", text, path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return path;
}

std::string FirmwareFixture::makeBuild(const std::string& path, unsigned build,
                                       const std::string& version, const std::string& extra,
                                       const std::string& serial) {
    std::string first = imageBytes(3000, build);
    std::string second = imageBytes(1500, build + 1);
    stamp(first, build, version);
    zvtest::writeFile(path + ".loader", imageBytes(300, 7));
    zvtest::writeFile(path + ".fw1", first);
    zvtest::writeFile(path + ".fw2", second);
    std::string base = path.substr(path.rfind('/') + 1);
    std::ostringstream description;
    description << "block type=0 address=0x10000000 file=" << base << ".loader\n"
                << "block type=1 address=0x00004000 file=" << base << ".fw1\n"
                << "block type=1 address=0x00005000 file=" << base << ".fw2\n"
                << "info build=" << build << " version=" << version << " serial=" << serial
                << " model=Hub-4\n"
                << extra;
    return makeBird(path, description.str());
}

std::string FirmwareFixture::makeNewBuild() {
    bird = makeBuild(work.file("1300.bird"), 1300, "2.13.0");
    return bird;
}

void FirmwareFixture::putInStore(const std::string& name, const std::string& bytes) {
    zvtest::runProgram("/bin/mkdir", {"-p", deviceDir()});
    zvtest::writeFile(deviceFile(name), bytes);
}

std::string FirmwareFixture::expectedFlash(const std::string& birdPath) const {
    // Blocks at 0x4000 (3000 bytes) and 0x5000 (1500 bytes): erased flash between them.
    std::string image = zvtest::readFile(birdPath + ".fw1");
    image.resize(0x1000, '\xFF');
    return image + zvtest::readFile(birdPath + ".fw2");
}

std::string FirmwareFixture::startServer(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {
        "--builds",   builds, "--port",        "0",
        "--duration", "120",  "--request-log", work.file("requests.log")};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<zvtest::BackgroundProgram>(zvtest::updateserverBinary(), args,
                                                         work.file("server.log"));
    EXPECT_TRUE(server->waitReady()) << "the update server simulator did not start";
    std::string endpoint = server->startupValue("http");
    std::string scheme = "http";
    if (endpoint.empty()) {
        endpoint = server->startupValue("https");
        scheme = "https";
    }
    url = scheme + "://" + endpoint + "/cgi/u";
    return url;
}

void FirmwareFixture::startModule(const std::string& keys, const std::vector<std::string>& more) {
    std::string description = std::string("serial=") + kSerial +
                              ",model=3,address=4,version=2.11.0,build=1000,name=Left hub,"
                              "reboot-ms=200,flash=" +
                              work.file("flash.bin") + ",tcp=10.77.0.2:0";
    if (!keys.empty()) {
        description += "," + keys;
    }
    std::vector<std::string> args = {"--duration", "120", "--log", "--module", description};
    for (const std::string& extra : more) {
        args.push_back("--module");
        args.push_back(extra);
    }
    module = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args,
                                                         work.file("module.log"));
    EXPECT_TRUE(module->waitReady()) << "the module simulator did not start";
}

void FirmwareFixture::startModuleBehindRouter() {
    module = std::make_unique<zvtest::BackgroundProgram>(
        zvtest::modulesimBinary(),
        std::vector<std::string>{
            "--duration", "120", "--module",
            "serial=00C0FFEE,model=5,address=2,version=2.11.0,build=900,name=Router,"
            "tcp=10.77.0.2:0",
            "--module",
            std::string("serial=") + kSerial +
                ",model=3,address=8,version=2.11.0,build=1000,name=Behind,flash=" +
                work.file("flash.bin") + ",behind=00C0FFEE"});
    EXPECT_TRUE(module->waitReady()) << "the module simulator did not start";
}

zvtest::RunResult FirmwareFixture::updater(std::vector<std::string> args,
                                           const std::vector<std::string>& env) {
    args.insert(args.begin(), {"-i", store.path()});
    return zvtest::runProgram(zvtest::updaterBinary(), args, env);
}

std::string FirmwareFixture::settings() const {
    return zvtest::readFile(deviceFile(".settings"));
}

std::string FirmwareFixture::storedFile(const std::string& name) const {
    return zvtest::readFile(deviceFile(name));
}

size_t FirmwareFixture::appearances(const std::string& text, const std::string& part) {
    size_t count = 0;
    size_t at = 0;
    while (!part.empty() && (at = text.find(part, at)) != std::string::npos) {
        ++count;
        at += part.size();
    }
    return count;
}

size_t FirmwareFixture::upgradePackets(const std::string& trace, char direction) {
    // A packet line: "modulesim SERIAL < ADDRESS LENGTH DATA...", each byte in hex.
    const std::string prefix = std::string(" ") + direction + " 04 ";
    size_t count = 0;
    for (const std::string& line : lines(trace)) {
        const size_t at = line.find(prefix);
        count += at != std::string::npos && line.compare(at + prefix.size() + 2, 3, " 5F") == 0;
    }
    return count;
}

}  // namespace firmwaretest
